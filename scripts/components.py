"""The third-party components of each shipped program, read from the build
itself: the linker's map says which archives and objects gave the program
bytes, and the compiler's dependency files of the objects it kept say which
headers they were compiled from. Each such file is owned by a Debian
package; the package is the component. Header files count only for
header-only packages: a package that also ships an archive is in a program
only when the map shows one of its archives or objects there."""
import functools
import os
import re
import subprocess
import urllib.parse

# Licences of the components' Debian source packages, as SPDX expressions,
# with the texts of /usr/share/common-licenses that they refer to. A new
# component stops the build until its licence has been looked at here.
LICENCES = {
    "mingw-w64": ("ZPL-2.1", []),  # Files: * of its copyright file: the runtime's own licence
    "gcc-mingw-w64": ("GPL-3.0-or-later WITH GCC-exception-3.1", ["GPL-3"]),  # libgcc, libstdc++
    "nlohmann-json3": ("MIT", []),  # Files: * is Expat, SPDX's MIT
}

# An input section that gave the image bytes: [name] address size file, on one line or two.
_INPUT = re.compile(r"^\s*(?:\S+)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S+?\.(?:a\([^)]*\)|o|obj))\s*$", re.M)


class Component:
    def __init__(self, package, fields):
        self.package = package
        self.version, self.source, self.architecture = fields
        if self.source not in LICENCES:
            raise ValueError(f"{package}: no licence is recorded for its source package {self.source}")
        self.licence, self.common_licences = LICENCES[self.source]
        self.programs = []

    @property
    def purl(self):
        return (f"pkg:deb/debian/{self.package}@{urllib.parse.quote(self.version, safe='')}"
                f"?arch={self.architecture}&distro=debian-{debian_release()}")

    def copyright_file(self):
        return f"/usr/share/doc/{self.package}/copyright"


@functools.lru_cache(maxsize=None)
def debian_release():
    with open("/etc/os-release") as f:
        fields = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
    return fields.get("VERSION_ID", "").strip('"') or "unknown"


def kept_inputs(map_path):
    """Files (archive members as 'archive(member)') that gave the image at least one byte."""
    with open(map_path, errors="replace") as f:
        memory = f.read().split("Linker script and memory map", 1)[-1]
    return {path for address, size, path in _INPUT.findall(memory) if int(size, 16) and int(address, 16)}


def depfile_of(link_dir, member):
    """The compiler's dependency file of one of our archive members, or None (resources, import stubs)."""
    archive, name = re.fullmatch(r"(.*)\((.*)\)", member).groups()
    folder = os.path.join(link_dir, os.path.dirname(archive))
    library = os.path.basename(archive)
    if library != "objects.a":  # a static library of ours: its target's object folder
        folder = os.path.join(folder, "CMakeFiles", re.sub(r"^lib|\.a$", "", library) + ".dir")
    for path, _, names in os.walk(folder):
        if name + ".d" in names:
            return os.path.join(path, name + ".d")
    return None


def headers_of(depfile):
    with open(depfile) as f:
        return f.read().replace("\\\n", " ").split(":", 1)[1].split()


def owners(paths):
    """Debian package of each path that one owns."""
    if not paths:
        return {}
    result = subprocess.run(["dpkg", "-S", *sorted(paths)], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            text=True)
    found = {}
    for line in result.stdout.splitlines():
        packages, path = line.split(": ", 1)
        found[path] = packages.split(", ")[0].split(":")[0]
    return found


def package_fields(packages):
    fields = {}
    for package in packages:
        out = subprocess.run(["dpkg-query", "-W", "-f=${Version}\t${source:Package}\t${Architecture}",
                              package], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, check=True)
        fields[package] = out.stdout.split("\t")
    return fields


@functools.lru_cache(maxsize=None)
def ships_archives(package):
    out = subprocess.run(["dpkg", "-L", package], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout
    return any(line.endswith(".a") for line in out.splitlines())


def header_copies(build_dir):
    """Folders the build copied headers into -> the folder they were copied from."""
    copies = {}
    with open(os.path.join(build_dir, "CMakeCache.txt")) as f:
        for line in f:
            if line.startswith("NLOHMANN_JSON_INCLUDE_DIR:"):
                copies[os.path.join(os.path.abspath(build_dir), "nlohmann-only")] = line.split("=", 1)[1].strip()
    return copies


def real_path(path, copies):
    for copy, origin in copies.items():
        if path.startswith(copy + "/"):
            path = origin + path[len(copy):]
    return os.path.realpath(path)


def packages_of_program(map_path, copies):
    """(packages of the archives and objects it kept, packages of the headers of our objects it kept)"""
    link_dir = os.path.dirname(map_path)
    linked, headers = set(), set()
    for member in kept_inputs(map_path):
        path = os.path.normpath(os.path.join(link_dir, re.sub(r"\(.*\)$", "", member)))
        if path.startswith("/usr/"):
            linked.add(path)
            continue
        depfile = depfile_of(link_dir, member) if "(" in member else None
        if depfile:
            headers.update(real_path(h, copies) for h in headers_of(depfile) if h.startswith("/"))
    linked_owners, header_owners = owners(linked), owners({h for h in headers if h.startswith("/usr/")})
    unowned = sorted(linked - set(linked_owners))
    if unowned:
        raise ValueError(f"{map_path}: no Debian package owns {unowned[0]}")
    return set(linked_owners.values()), set(header_owners.values())


def components(build_dir, programs):
    """[Component] of the programs built in build_dir, each with the programs that contain it, by name."""
    copies = header_copies(build_dir)
    maps = {}
    for path, _, names in os.walk(build_dir):
        maps.update({name[:-4] + ".exe": os.path.join(path, name) for name in names if name.endswith(".map")})
    contained = {}
    for program in programs:
        if program not in maps:
            raise ValueError(f"{build_dir}: no link map of {program}")
        linked, headers = packages_of_program(maps[program], copies)
        contained[program] = linked | {p for p in headers - linked if not ships_archives(p)}
    fields = package_fields(set().union(*contained.values()))
    found = {package: Component(package, fields[package]) for package in sorted(fields)}
    for program in programs:
        for package in sorted(contained[program]):
            found[package].programs.append(program)
    return list(found.values())
