"""What a release is, from release.conf at the checkout's root, read as it
stands: the version, the architectures, the programs, and the name of every
file a release holds. The scripts that build, sign and verify a release, and
the suites, all learn it here."""
import functools
import os
import re

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PATH = os.path.join(ROOT, "release.conf")
_LINE = re.compile(r"\s*([a-z-]+)\s*=\s*(.*?)\s*")


@functools.lru_cache(maxsize=None)
def _values():
    values = {}
    with open(PATH) as f:
        for number, line in enumerate(f, 1):
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            found = _LINE.fullmatch(line.rstrip("\n"))
            if not found:
                raise ValueError(f"release.conf, line {number}: not KEY = VALUE")
            values[found[1]] = found[2]
    return values


def value(key, arch=None):
    """The value of key, with {name}, {version} and, given arch, {arch} put in."""
    try:
        text = _values()[key]
    except KeyError:
        raise ValueError(f"release.conf has no {key}") from None
    text = text.replace("{name}", _values()["name"]).replace("{version}", _values()["version"])
    return text.replace("{arch}", arch) if arch is not None else text


VERSION = value("version")
ARCHES = tuple(value("architectures").split())
PROGRAMS = value("programs").split()
DOCUMENTS = value("documents").split()
README, LICENSE, BUILDINFO, NOTICES = DOCUMENTS
SUMS = value("sums")


def build_folder(arch):
    """dist/'s folder of the architecture's programs, also its build preset's name."""
    return value("build", arch)


def folder(arch):
    """The one folder of the zip, with its slash."""
    return value("folder", arch) + "/"


def zip_name(arch, signed):
    return value("zip" if signed else "unsigned-zip", arch)


def sbom_names(arch):
    return [value("spdx", arch), value("cyclonedx", arch)]


def release_folders():
    return [build_folder(arch) for arch in ARCHES]


def release_files():
    """Every file of a signed release folder, as sign-release.sh writes it; SHA256SUMS last."""
    files = []
    for arch in ARCHES:
        files += [f"{build_folder(arch)}/{name}{suffix}" for name in PROGRAMS for suffix in ("", ".sig")]
        files += [zip_name(arch, True)] + sbom_names(arch)
    return files + [SUMS]
