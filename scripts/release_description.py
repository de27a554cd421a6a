#!/usr/bin/python3
"""What a release is, from release.conf at the checkout's root, read as it
stands: the version, the architectures, the programs, and the name of every
file a release holds; and who publishes it, from publisher.conf beside it.
The scripts that build, sign and verify a release, and the suites, all learn
it here; the shell scripts through release_value (scripts/common.sh):

  release_description.py value KEY [ARCH]
      prints the value of KEY with {name}, {version} and {arch} put in; else
      one line on stderr and exit code 1"""
import functools
import os
import re
import sys
from typing import NamedTuple

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PATH = os.path.join(ROOT, "release.conf")
# Another publisher's file may stand in (the suites try some).
PUBLISHER_PATH = os.environ.get("KORVEL_PUBLISHER") or os.path.join(ROOT, "publisher.conf")
_LINE = re.compile(r"\s*([a-z-]+)\s*=\s*(.*?)\s*")


def read_conf(path):
    """KEY = VALUE lines, # comments and blank lines between them."""
    values = {}
    with open(path) as f:
        for number, line in enumerate(f, 1):
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            found = _LINE.fullmatch(line.rstrip("\n"))
            if not found:
                raise ValueError(f"{os.path.basename(path)}, line {number}: not KEY = VALUE")
            values[found[1]] = found[2]
    return values


@functools.lru_cache(maxsize=None)
def _values():
    return read_conf(PATH)


class Publisher(NamedTuple):
    name: str
    email: str  # "" when not given
    url: str


# Domains reserved for examples and tests (RFC 2606, RFC 6761): nobody is reached there.
_PLACEHOLDER = re.compile(r"(^|\.)(example|test|invalid|localhost)$|(^|\.)example\.(com|net|org)$")
_EMAIL = re.compile(r"[A-Za-z0-9._%+-]+@([A-Za-z0-9-]+(\.[A-Za-z0-9-]+)+)")
_URL = re.compile(r"https://([A-Za-z0-9-]+(\.[A-Za-z0-9-]+)+)(:\d+)?(/\S*)?")


def placeholder_domain(domain):
    return bool(_PLACEHOLDER.search(domain.lower().rstrip(".")))


def check_publisher(publisher, where="publisher.conf"):
    """The publisher as given, or ValueError with the one line that says what is wrong."""
    if not publisher.name:
        raise ValueError(f"{where} names no publisher")
    for key, pattern in (("email", _EMAIL), ("url", _URL)):
        value = getattr(publisher, key)
        if not value:
            continue
        found = pattern.fullmatch(value)
        if not found:
            raise ValueError(f"{where}: {key} {value!r} is not {'an email address' if key == 'email' else 'an https URL'}")
        if placeholder_domain(found[1]):
            raise ValueError(f"{where}: {key} {value!r} is at a placeholder domain, which reaches nobody")
    return publisher


@functools.lru_cache(maxsize=None)
def publisher():
    values = read_conf(PUBLISHER_PATH)
    return check_publisher(Publisher(values.get("name", ""), values.get("email", ""), values.get("url", "")),
                           os.path.basename(PUBLISHER_PATH))


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


PROVENANCE = value("provenance")


def release_files():
    """Every file of a signed release folder, as sign-release.sh writes it; SHA256SUMS last."""
    files = []
    for arch in ARCHES:
        files += [f"{build_folder(arch)}/{name}{suffix}" for name in PROGRAMS for suffix in ("", ".sig")]
        files += [zip_name(arch, True)] + sbom_names(arch)
    return files + [PROVENANCE, SUMS]


def main(argv):
    if len(argv) not in (3, 4) or argv[1] != "value":
        print(__doc__, file=sys.stderr)
        return 2
    try:
        print(value(*argv[2:]))
    except (OSError, ValueError) as error:
        print(error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
