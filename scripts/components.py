"""The third-party components of each shipped program, read from the build
itself: lld's link map (link.exe's layout) names each kept symbol's library
and object, and the compiler's dependency files of our objects it kept say
which headers they were compiled from. The libraries of Zig's toolchain are
parts of the pinned ziglang package from PyPI, each with its own licence. A
header under /usr is owned by a Debian package, which is then the component;
headers count only for header-only packages.

Each component also names who made it and who supplied it, with their
addresses, and the bytes it was delivered in (the ziglang wheel, the Debian
package), whose SHA-512 the SBOMs give."""
import functools
import glob
import os
import re
import subprocess
import urllib.parse

from pinned import python_tools

# Licences of the components' Debian source packages, as SPDX expressions,
# with the texts of /usr/share/common-licenses that they refer to. A new
# component stops the build until its licence has been looked at here.
LICENCES = {
    "nlohmann-json3": ("MIT", []),  # Files: * is Expat, SPDX's MIT
}
# Who supplies the Debian components, and where.
DEBIAN = ("Debian", "https://www.debian.org")

# The parts of the ziglang package that go into a program: licence, the
# licence text within the package, and who made the part (the project the
# licence file names) and its address. "zig" is Zig's own runtime
# (compiler_rt, its libc pieces).
LLVM = ("LLVM Project", "https://llvm.org")  # lib/libcxx/LICENSE.TXT: "The LLVM Project"
ZIG_PARTS = {
    "libc++": ("Apache-2.0 WITH LLVM-exception", "lib/libcxx/LICENSE.TXT", LLVM),
    "libc++abi": ("Apache-2.0 WITH LLVM-exception", "lib/libcxxabi/LICENSE.TXT", LLVM),
    "libunwind": ("Apache-2.0 WITH LLVM-exception", "lib/libunwind/LICENSE.TXT", LLVM),
    # lib/libc/mingw/COPYING: "the mingw-w64 project"
    "mingw-w64": ("ZPL-2.1", "lib/libc/mingw/COPYING", ("mingw-w64 project", "https://www.mingw-w64.org")),
    "zig": ("MIT", "LICENSE", ("Zig Software Foundation", "https://ziglang.org")),
}
# The libraries and objects Zig links, as lld's map names them. Import
# libraries are made from mingw-w64's module-definition files.
ZIG_LIBRARIES = {"c++": "libc++", "c++abi": "libc++abi", "unwind": "libunwind", "compiler_rt": "zig",
                 "zigc": "zig", "libmingw32": "mingw-w64", "crt2.obj": "mingw-w64"}
ZIG_SUPPLIER = "Zig Software Foundation"

class Component:
    """A Debian package in the programs."""
    supplier, supplier_url = DEBIAN
    debian = True

    def __init__(self, package, fields):
        self.package = package
        self.version, self.source, self.architecture = fields
        if self.source not in LICENCES:
            raise ValueError(f"{package}: no licence is recorded for its source package {self.source}")
        self.licence, self.common_licences = LICENCES[self.source]
        self.programs = []

    @property
    def manufacturer(self):
        """The upstream project, as the package's machine-readable copyright file names it."""
        path = f"/usr/share/doc/{self.package}/copyright"
        with open(path) as f:
            head = f.read().split("\n\n", 1)[0]
        fields = dict(line.split(": ", 1) for line in head.splitlines() if ": " in line)
        if not fields.get("Upstream-Name") or not fields.get("Source", "").startswith("https://"):
            raise ValueError(f"{path}: names no upstream project with an https address")
        return fields["Upstream-Name"], fields["Source"].split()[0]

    def distribution(self):
        """(what, address, file) of the Debian package the build used."""
        return debian_package(self.package, self.version, self.architecture)

    @property
    def purl(self):
        # Percent-encoded, as a canonical package URL writes them: "g++" is "g%2B%2B".
        name, version = (urllib.parse.quote(text, safe="") for text in (self.package, self.version))
        return f"pkg:deb/debian/{name}@{version}?arch={self.architecture}&distro=debian-{debian_release()}"

    def notice_files(self):
        """(how the notices name it, path) of each text its notice copies."""
        paths = [f"/usr/share/doc/{self.package}/copyright"]
        paths += [f"/usr/share/common-licenses/{name}" for name in self.common_licences]
        return [(path, path) for path in paths]


class ZigPart:
    """A part of the pinned ziglang package in the programs."""
    supplier = ZIG_SUPPLIER
    debian = False

    def __init__(self, name):
        self.package = name
        self.version = ziglang_version()
        self.licence, self.licence_file, self.manufacturer = ZIG_PARTS[name]
        self.programs = []

    @property
    def supplier_url(self):
        return ziglang_homepage()

    def distribution(self):
        """(what, address, file) of the ziglang wheel the build installed."""
        wheel = ziglang_wheel()
        return (f"the PyPI wheel {os.path.basename(wheel)}, which holds {os.path.dirname(self.licence_file)}",
                f"https://pypi.org/project/ziglang/{self.version}/", wheel)

    @property
    def purl(self):
        subpath = "" if self.package == "zig" else "#" + os.path.dirname(self.licence_file)
        return f"pkg:pypi/ziglang@{self.version}{subpath}"

    def notice_files(self):
        return [(f"ziglang {self.version}, {self.licence_file}", os.path.join(ziglang_package(), self.licence_file))]


@functools.lru_cache(maxsize=None)
def ziglang_package():
    found = sorted(glob.glob(os.path.join(python_tools(), "lib", "python3*", "site-packages", "ziglang")))
    if not found:
        raise ValueError(f"no ziglang package in {python_tools()}")
    return found[-1]


@functools.lru_cache(maxsize=None)
def ziglang_metadata(prefix, what):
    """What follows prefix on a line of the ziglang package's metadata, as PyPI gives it."""
    for metadata in glob.glob(os.path.join(os.path.dirname(ziglang_package()), "ziglang-*.dist-info", "METADATA")):
        with open(metadata) as f:
            for line in f:
                if line.startswith(prefix):
                    return line[len(prefix):].strip()
    raise ValueError(f"the ziglang package records no {what}")


def ziglang_version():
    return ziglang_metadata("Version: ", "version")


def ziglang_homepage():
    return ziglang_metadata("Project-URL: Homepage, ", "home page")


def distributions():
    """Where the install step keeps the bytes the components came in: KORVEL_DISTRIBUTIONS, else the
    checkout's build/distributions."""
    return os.path.abspath(os.environ.get("KORVEL_DISTRIBUTIONS") or
                           os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build", "distributions"))


@functools.lru_cache(maxsize=None)
def ziglang_wheel():
    found = glob.glob(os.path.join(distributions(), f"ziglang-{ziglang_version()}-*.whl"))
    if len(found) != 1:
        raise ValueError(f"{distributions()}: {len(found)} wheels of ziglang {ziglang_version()}, not one: "
                         "run the install step (./build.sh)")
    return found[0]


# The Debian archives, by the path their pool files stand under.
DEBIAN_ARCHIVES = {"debian": "https://deb.debian.org/debian/", "debian-security": "https://security.debian.org/debian-security/"}


@functools.lru_cache(maxsize=None)
def debian_package(package, version, architecture):
    """(what, address, file) of a Debian package: apt's own copy, else one apt-get downloads."""
    uris = subprocess.run(["apt-get", "download", "--print-uris", f"{package}={version}"], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, text=True).stdout.split()
    found = re.search(r"/(debian(?:-security)?)/(pool/.+)$", uris[0].strip("'")) if uris else None
    if not found:
        raise ValueError(f"{package} {version}: apt knows no archive file of it")
    name = os.path.basename(found[2])
    path = os.path.join("/var/cache/apt/archives", name)
    if not os.path.isfile(path):
        path = os.path.join(distributions(), name)
        if not os.path.isfile(path):
            os.makedirs(distributions(), exist_ok=True)
            if subprocess.run(["apt-get", "download", f"{package}={version}"], cwd=distributions(),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
                raise ValueError(f"{package} {version}: apt-get cannot download it")
    return f"the Debian package {name}", DEBIAN_ARCHIVES[found[1]] + found[2], path


@functools.lru_cache(maxsize=None)
def zig_version():
    """What `zig version` prints."""
    return subprocess.run([os.path.join(ziglang_package(), "zig"), "version"], stdout=subprocess.PIPE,
                          check=True, text=True).stdout.strip()


# A public symbol that went into the image, in lld's link.exe-style map:
# section:offset, name, address, optional flags, library:object or object.
_PUBLIC = re.compile(r"^ [0-9a-f]{4}:[0-9a-f]{8}\s+(\S+)\s+([0-9a-f]{16})\s+(?:[fi]\s+)*(\S+)$", re.M)


def is_lld_map(text):
    return "\n Preferred load address is " in text[:1000]


def public_symbols(text):
    """(name, address, origin) of every public symbol of lld's map; the origin is library:object, an
    object, or the linker's own "<linker-defined>" or "<absolute>"."""
    return [(name, int(address, 16), origin) for name, address, origin in _PUBLIC.findall(text)]


def kept_libraries(text):
    """(library or "", object) of every symbol the image kept."""
    found = set()
    for _, _, origin in public_symbols(text):
        if origin not in ("<linker-defined>", "<absolute>"):  # the linker's own symbols
            library, _, obj = origin.rpartition(":")
            found.add((library, obj))
    return found


@functools.lru_cache(maxsize=None)
def ours(link_dir, library):
    """The object folder of one of our targets, by the library lld names: "objects" is the program's own."""
    build_dir = link_dir
    while not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
        build_dir = os.path.dirname(build_dir)
    target = re.sub(r"^lib", "", library)
    for path, folders, _ in os.walk(build_dir):
        if f"{target}.dir" in folders and os.path.basename(path) == "CMakeFiles":
            return os.path.join(path, f"{target}.dir")
    return None


def is_import_library(library):
    """A library Zig made from one of mingw-w64's module-definition files."""
    mingw = os.path.join(ziglang_package(), "lib", "libc", "mingw")
    return any(os.path.exists(os.path.join(mingw, folder, library + suffix))
               for folder in ("lib-common", "lib32", "lib64", "libarm64") for suffix in (".def", ".def.in"))


def parts_of_lld_program(map_path, text, copies):
    """(Zig parts of the libraries it kept, packages of the headers of our objects it kept)"""
    program = os.path.basename(map_path)[:-4]
    parts, headers = set(), set()
    for library, obj in kept_libraries(text):
        name = library or obj
        if name in ZIG_LIBRARIES:
            parts.add(ZIG_LIBRARIES[name])
            continue
        folder = ours(os.path.dirname(map_path), program if library == "objects" else library)
        if folder is None:
            if is_import_library(library):
                parts.add("mingw-w64")
                continue
            raise ValueError(f"{map_path}: {name} is no library of ours and none of Zig's that has a licence here")
        headers |= headers_of_object(folder, obj, copies)
    return parts, set(owners({h for h in headers if h.startswith("/usr/")}).values())


@functools.lru_cache(maxsize=None)
def debian_release():
    with open("/etc/os-release") as f:
        fields = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
    return fields.get("VERSION_ID", "").strip('"') or "unknown"


def headers_of_object(folder, obj, copies):
    """The headers, from absolute paths, that the compiler's dependency file of an object of the target's
    object folder names; none without one (resources, import stubs)."""
    for path, _, names in os.walk(folder):
        if obj + ".d" in names:
            return {real_path(h, copies) for h in headers_of(os.path.join(path, obj + ".d")) if h.startswith("/")}
    return set()


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


def components(build_dir, programs):
    """[Component or ZigPart] of the programs built in build_dir, each with the programs that contain it,
    by name."""
    copies = header_copies(build_dir)
    maps = {}
    for path, _, names in os.walk(build_dir):
        maps.update({name[:-4] + ".exe": os.path.join(path, name) for name in names if name.endswith(".map")})
    contained, zig = {}, {}
    for program in programs:
        if program not in maps:
            raise ValueError(f"{build_dir}: no link map of {program}")
        with open(maps[program], errors="replace") as f:
            text = f.read()
        if not is_lld_map(text):
            raise ValueError(f"{maps[program]}: not a link map of lld")
        zig[program], headers = parts_of_lld_program(maps[program], text, copies)
        contained[program] = {p for p in headers if not ships_archives(p)}
    fields = package_fields(set().union(*contained.values()))
    found = {package: Component(package, fields[package]) for package in sorted(fields)}
    found.update({name: ZigPart(name) for name in sorted(set().union(*zig.values()))})
    for program in programs:
        for name in sorted(contained[program] | zig[program]):
            found[name].programs.append(program)
    return [found[name] for name in sorted(found)]
