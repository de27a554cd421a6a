#!/usr/bin/python3
"""Static checks of the Windows deliverables in dist/, every architecture:
machine and subsystem, self-containment, stripped and time-stamp free, the
size budgets, the embedded manifest, dist/SHA256SUMS, the ostrum imports and
brisal's six exports under the names MSVC gives them (learned from clang
for the MSVC targets, not from our .def files), the exports bound to the class
operators (read from the link map), the version resources: brisal's
own, and the project's in every other program; and the hardening a security
review scans for: Control Flow Guard, a stack cookie the loader randomizes
and the stack protector uses, CET shadow-stack compatibility, NO_SEH on x86,
ASLR, NX and no writable code; with checksec's table of every program."""
import hashlib
import json
import os
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from tally import Tally  # noqa: E402

import pefile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import components  # noqa: E402  (its reader of lld's map)
import release_description  # noqa: E402

WINDOWS_DLLS = {"kernel32.dll", "ole32.dll", "oleaut32.dll"}
# The Universal CRT's API sets: part of every Windows 10 and 11, WinPE included.
UCRT_DLLS = {f"api-ms-win-crt-{name}-l1-1-0.dll" for name in (
    "conio", "convert", "environment", "filesystem", "heap", "locale", "math", "multibyte", "private", "process",
    "runtime", "stdio", "string", "time", "utility")}
# Each architecture: its machine, clang's MSVC target, Windows' default stack cookie (which the loader
# replaces with a random one) and how C names are decorated.
ARCHES = {
    "x64": {"machine": 0x8664, "msvc": "x86_64-pc-windows-msvc", "cookie": 0x2B992DDFA232, "prefix": ""},
    "x86": {"machine": 0x14C, "msvc": "i686-pc-windows-msvc", "cookie": 0xBB40E64E, "prefix": "_"},
    "arm64": {"machine": 0xAA64, "msvc": "aarch64-pc-windows-msvc", "cookie": 0x2B992DDFA232, "prefix": ""},
}
SYSTEM_DLLS = WINDOWS_DLLS | UCRT_DLLS
CLASSES = ["WMIinterface", "Device", "Partition", "HardDisk", "System", "OperatingSystem"]
EXECUTABLES = ["korvel.exe", "brisal.exe", "korvel-capture.exe", "korvel-report.exe"]
BUDGETS = {"brisal.exe": 98304, "korvel.exe": 229376}
SUPPORTED_OS = {"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}  # Windows 10 and 11
RT_MANIFEST = 24
HIGH_ENTROPY_VA, DYNAMIC_BASE, NX_COMPAT, NO_SEH, GUARD_CF = 0x20, 0x40, 0x100, 0x400, 0x4000
RELOCS_STRIPPED = 0x1
CF_INSTRUMENTED, CF_FUNCTION_TABLE_PRESENT = 0x100, 0x400
DEBUG_TYPE_EX_DLLCHARACTERISTICS, CET_COMPAT = 20, 0x1
MEM_EXECUTE, MEM_WRITE = 0x20000000, 0x80000000

tally = Tally("static")
check = tally.check


def imports(pe):
    found = {}
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        found[entry.dll.decode().lower()] = {imp.name.decode() for imp in entry.imports if imp.name}
    return found


def exports(pe):
    if not hasattr(pe, "DIRECTORY_ENTRY_EXPORT"):
        return {}
    return {sym.name.decode(): sym.address for sym in pe.DIRECTORY_ENTRY_EXPORT.symbols}


def msvc_names(arch):
    """(ostrum function names, {class: operator= name}) as MSVC decorates them."""
    with tempfile.TemporaryDirectory() as work:
        obj = os.path.join(work, "names.obj")
        subprocess.run(["clang++", f"--target={ARCHES[arch]['msvc']}", "-c", os.path.join(HERE, "msvc_names.cpp"),
                        "-o", obj], check=True)
        listing = subprocess.run(["llvm-nm-14", obj], stdout=subprocess.PIPE, check=True).stdout.decode()
    undefined = {line.split()[1] for line in listing.splitlines() if line.split()[0] == "U"}
    operators = {}
    for line in listing.splitlines():
        name = line.split()[-1]
        for cls in CLASSES:
            if name.startswith(f"??4{cls}@@"):
                operators[cls] = name
    return undefined, operators


def operator_addresses(arch, pe):
    """Where the link map puts each class's copy assignment (one section per function): lld's
    link.exe-style map gives the output section and the offset within it."""
    text = open(os.path.join(ROOT, "build", f"windows-{arch}", "brisal", "brisal.map")).read()
    found = {}
    for cls in CLASSES:
        section = r"\.text\$_ZN%d%saSERKS_" % (len(cls), cls)
        lld = re.search(r"^ ([0-9a-f]{4}):([0-9a-f]{8}) [0-9a-f]{8}H %s +CODE$" % section, text, re.M)
        if lld:
            output = pe.sections[int(lld.group(1), 16) - 1]
            found[cls] = pe.OPTIONAL_HEADER.ImageBase + output.VirtualAddress + int(lld.group(2), 16)
    return found


def common(name, pe, arch, size, extra_dlls=()):
    check(f"{name} machine", pe.FILE_HEADER.Machine == ARCHES[arch]["machine"], hex(pe.FILE_HEADER.Machine))
    check(f"{name} imports only system DLLs", set(imports(pe)) <= SYSTEM_DLLS | set(extra_dlls), sorted(imports(pe)))
    stripped = pe.FILE_HEADER.PointerToSymbolTable == 0 and pe.FILE_HEADER.NumberOfSymbols == 0 and \
        not any(s.Name.rstrip(b"\0").startswith(b".debug") or s.Name.startswith(b"/") for s in pe.sections)
    check(f"{name} stripped", stripped, [s.Name for s in pe.sections])
    check(f"{name} no time stamp", pe.FILE_HEADER.TimeDateStamp == 0, pe.FILE_HEADER.TimeDateStamp)
    # ASLR and NX; a 64-bit program's ASLR uses the whole address space.
    wanted = DYNAMIC_BASE | NX_COMPAT | (HIGH_ENTROPY_VA if pe.OPTIONAL_HEADER.Magic == 0x20B else 0)
    check(f"{name} ASLR and NX", pe.OPTIONAL_HEADER.DllCharacteristics & wanted == wanted,
          hex(pe.OPTIONAL_HEADER.DllCharacteristics))
    # libc++ on Win32's own threads links no winpthread; our terminate handler replaces the verbose one.
    check(f"{name} carries no winpthread", b"pthread" not in pe.__data__)
    check(f"{name} carries no verbose terminate handler", b"terminate called" not in pe.__data__)
    budget = BUDGETS.get(name.split()[0])
    if budget:
        print(f"{name}: {size} bytes (budget {budget})")
        check(f"{name} within {budget} bytes", size <= budget, size)


def map_symbols(path, prefix):
    """C name -> (address, origin) of the public symbols of lld's link map (prefix: the architecture's
    decoration of C names)."""
    with open(path, errors="replace") as f:
        return {name[len(prefix):] if name.startswith(prefix) else name: (address, origin)
                for name, address, origin in components.public_symbols(f.read())}


def hardening(name, pe, arch, link_map):
    """Control Flow Guard, the stack cookie, CET, SEH, relocations and W^X, as a security review reads them."""
    characteristics = pe.OPTIONAL_HEADER.DllCharacteristics
    check(f"{name} GUARD_CF", characteristics & GUARD_CF, hex(characteristics))
    config = getattr(pe, "DIRECTORY_ENTRY_LOAD_CONFIG", None)
    check(f"{name} has a load configuration", config is not None)
    if config is None:
        return
    config = config.struct
    flags = config.GuardFlags
    check(f"{name} load configuration: CF_INSTRUMENTED and a function table",
          flags & CF_INSTRUMENTED and flags & CF_FUNCTION_TABLE_PRESENT and config.GuardCFFunctionCount > 0
          and config.GuardCFFunctionTable and config.GuardCFCheckFunctionPointer, (hex(flags), config.GuardCFFunctionCount))
    base = pe.OPTIONAL_HEADER.ImageBase
    cookie_rva = config.SecurityCookie - base
    section = pe.get_section_by_rva(cookie_rva) if config.SecurityCookie else None
    stored = (pe.get_qword_at_rva(cookie_rva) if pe.OPTIONAL_HEADER.Magic == 0x20B else pe.get_dword_at_rva(cookie_rva)) \
        if section else None
    check(f"{name} security cookie stored as Windows' default, in writable data",
          stored == ARCHES[arch]["cookie"] and section.Characteristics & MEM_WRITE
          and not section.Characteristics & MEM_EXECUTE, hex(stored or 0))
    symbols = map_symbols(link_map, ARCHES[arch]["prefix"])
    guard, failure = symbols.get("__stack_chk_guard"), symbols.get("__stack_chk_fail")
    check(f"{name} the stack protector's canary and failure are the load configuration's",
          guard and guard[0] == config.SecurityCookie and "load_config" in guard[1]
          and failure and "load_config" in failure[1], (guard, failure))
    extended = [d for d in getattr(pe, "DIRECTORY_ENTRY_DEBUG", []) if d.struct.Type == DEBUG_TYPE_EX_DLLCHARACTERISTICS]
    cet = bool(extended) and pe.get_dword_at_rva(extended[0].struct.AddressOfRawData) & CET_COMPAT
    check(f"{name} CET shadow-stack compatible", cet, [d.struct.Type for d in getattr(pe, "DIRECTORY_ENTRY_DEBUG", [])])
    if arch == "x86":
        check(f"{name} NO_SEH", characteristics & NO_SEH and not config.SEHandlerTable, hex(characteristics))
    relocations = pe.OPTIONAL_HEADER.DATA_DIRECTORY[5]
    check(f"{name} relocations kept", not pe.FILE_HEADER.Characteristics & RELOCS_STRIPPED and relocations.Size > 0)
    both = [s.Name.rstrip(b"\0").decode() for s in pe.sections
            if s.Characteristics & MEM_WRITE and s.Characteristics & MEM_EXECUTE]
    check(f"{name} no section both writable and executable", not both, both)


def checksec(paths):
    """checksec-py's table of every program, and its verdicts on what it scans."""
    tool = os.path.join(os.environ.get("KORVEL_PYTHON_TOOLS") or os.path.join(ROOT, "build", "python-tools"),
                        "bin", "checksec")
    table = subprocess.run([tool, "--workers=1", *paths], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                           env=dict(os.environ, COLUMNS="200", TERM="dumb"), cwd=os.path.join(ROOT, "dist"))
    print("\n".join(line for line in table.stdout.splitlines() if line.strip() and "Processing" not in line))
    found = json.loads(subprocess.run([tool, "--json", *paths], stdout=subprocess.PIPE, check=True,
                                      cwd=os.path.join(ROOT, "dist")).stdout)
    for path in paths:
        verdict = found.get(os.path.join(ROOT, "dist", path), {})
        wanted = ["nx", "canary", "aslr", "dynamic_base", "guard_cf"] + \
                 (["high_entropy_va"] if "x86/" not in path else [])
        check(f"checksec {path}: {', '.join(wanted)}", all(verdict.get(w) for w in wanted), verdict)


def manifest(name, pe):
    data = None
    resources = pe.DIRECTORY_ENTRY_RESOURCE.entries if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE") else []
    for kind in resources:
        if kind.id == RT_MANIFEST:
            leaf = kind.directory.entries[0].directory.entries[0].data.struct
            data = pe.get_data(leaf.OffsetToData, leaf.Size)
    check(f"{name} has a manifest", data is not None)
    if data is None:
        return
    root = ElementTree.fromstring(data)
    levels = [e.get("level") for e in root.iter() if e.tag.endswith("}requestedExecutionLevel")]
    oses = {e.get("Id") for e in root.iter() if e.tag.endswith("}supportedOS")}
    check(f"{name} manifest asInvoker", levels == ["asInvoker"], levels)
    check(f"{name} manifest supportedOS 10/11 only", oses == SUPPORTED_OS, oses)
    check(f"{name} manifest keeps the ANSI code page", not any(e.tag.endswith("activeCodePage") for e in root.iter()))


def version_of(text):
    """(MS, LS) of a fixed version from "a.b.c.d"."""
    a, b, c, d = (int(n) for n in text.split("."))
    return (a << 16 | b, c << 16 | d)


BRISAL_VERSION = {"FileVersion": "4,22,3,0", "ProductVersion": "4,22,3,0", "FileDescription": "brisal Application",
                  "InternalName": "brisal", "OriginalFilename": "brisal.exe", "ProductName": " brisal Application"}


def our_version(exe):
    """What the version resource of a program we write holds: the project's version, its own file name."""
    version = release_description.VERSION + ".0"
    return {"FileVersion": version, "ProductVersion": version, "InternalName": exe, "OriginalFilename": exe,
            "ProductName": "korvel"}


def version_resource(name, pe, expected, fixed_version):
    check(f"{name} has a version resource", hasattr(pe, "VS_FIXEDFILEINFO") and hasattr(pe, "FileInfo"))
    if not hasattr(pe, "VS_FIXEDFILEINFO"):
        return
    fixed = pe.VS_FIXEDFILEINFO[0]
    check(f"{name} FILEVERSION", (fixed.FileVersionMS, fixed.FileVersionLS) == version_of(fixed_version),
          (hex(fixed.FileVersionMS), hex(fixed.FileVersionLS)))
    check(f"{name} PRODUCTVERSION", (fixed.ProductVersionMS, fixed.ProductVersionLS) == version_of(fixed_version))
    check(f"{name} FILETYPE VFT_APP", fixed.FileType == 1, fixed.FileType)
    check(f"{name} FILEOS VOS__WINDOWS32", fixed.FileOS == 4, fixed.FileOS)
    tables = []
    translations = []
    for info in pe.FileInfo[0]:
        if info.Key == b"StringFileInfo":
            tables.extend(info.StringTable)
        elif info.Key == b"VarFileInfo":
            for var in info.Var:
                translations.append(var.entry)
    check(f"{name} one string table 040904B0", [t.LangID.upper() for t in tables] == [b"040904B0"],
          [t.LangID for t in tables])
    if tables:
        strings = {k.decode(): v.decode() for k, v in tables[0].entries.items()}
        for key, value in expected.items():
            check(f"{name} {key}", strings.get(key) == value, repr(strings.get(key)))
        for key in ("LegalCopyright", "FileDescription"):
            check(f"{name} {key}", bool(strings.get(key)), strings)
    check(f"{name} Translation 0x0409 1200", translations == [{b"Translation": "0x0409 0x04b0"}], translations)


def checksums():
    """dist/SHA256SUMS lists every Windows deliverable and SBOM, and each sum holds."""
    dist = os.path.join(ROOT, "dist")
    listed = {}
    for line in open(os.path.join(dist, "SHA256SUMS")):
        digest, path = line.rstrip("\n").split("  ", 1)
        listed[path] = digest
    present = {os.path.relpath(os.path.join(folder, f), dist)
               for arch in ARCHES for folder, _, files in os.walk(os.path.join(dist, f"windows-{arch}")) for f in files}
    present |= {f for f in os.listdir(dist) if f.endswith((".spdx.json", ".cdx.json"))}
    check("SHA256SUMS lists every Windows deliverable", set(listed) == present, sorted(set(listed) ^ present))
    wrong = [p for p in listed if p in present and
             hashlib.sha256(open(os.path.join(dist, p), "rb").read()).hexdigest() != listed[p]]
    check("SHA256SUMS sums hold", not wrong, wrong)


def main():
    for arch in ARCHES:
        dist = os.path.join(ROOT, "dist", f"windows-{arch}")
        ostrum_calls, operators = msvc_names(arch)
        check(f"clang gives five ostrum names and six operators ({arch})",
              len(ostrum_calls) == 5 and len(operators) == 6, (ostrum_calls, operators))
        for exe in EXECUTABLES:
            path = os.path.join(dist, exe)
            pe = pefile.PE(path)
            name = f"{exe} ({arch})"
            common(name, pe, arch, os.path.getsize(path), extra_dlls=("ostrum.dll",) if exe == "brisal.exe" else ())
            check(f"{name} console subsystem", pe.OPTIONAL_HEADER.Subsystem == 3, pe.OPTIONAL_HEADER.Subsystem)
            manifest(name, pe)
            folder = "brisal" if exe == "brisal.exe" else "korvel"
            hardening(name, pe, arch, os.path.join(ROOT, "build", f"windows-{arch}", folder, exe[:-4] + ".map"))
            if exe != "brisal.exe":
                version_resource(name, pe, our_version(exe), our_version(exe)["FileVersion"])
            imported = set().union(*imports(pe).values())
            if exe == "korvel-report.exe":
                probing = imported & {"DeviceIoControl", "GetLogicalDriveStringsA", "CoCreateInstance", "LoadLibraryExA"}
                check(f"{name} never asks the machine it runs on", not probing, sorted(probing))
            elif exe != "brisal.exe":
                check(f"{name} does not import CoInitializeSecurity", "CoInitializeSecurity" not in imported)
                check(f"{name} imports the calls it makes",
                      {"CoCreateInstance", "CoInitialize", "LoadLibraryExA", "GetProcAddress", "DeviceIoControl",
                       "GetLogicalDriveStringsA", "CreateFileA", "GetEnvironmentVariableA"} <= imported)

        brisal = pefile.PE(os.path.join(dist, "brisal.exe"))
        name = f"brisal.exe ({arch})"
        check(f"{name} ostrum imports", imports(brisal).get("ostrum.dll") == ostrum_calls,
              imports(brisal).get("ostrum.dll"))
        got = exports(brisal)
        check(f"{name} exports exactly the six operators", set(got) == set(operators.values()), sorted(got))
        addresses = operator_addresses(arch, brisal)
        base = brisal.OPTIONAL_HEADER.ImageBase
        for cls, export in operators.items():
            check(f"{name} {export} is {cls}::operator=",
                  export in got and addresses.get(cls) == base + got[export],
                  (hex(got.get(export, 0)), addresses.get(cls)))
        version_resource(name, brisal, BRISAL_VERSION, "4.22.3.0")

        path = os.path.join(dist, "ostrum.dll")
        ostrum = pefile.PE(path)
        common(f"ostrum.dll ({arch})", ostrum, arch, os.path.getsize(path))
        check(f"ostrum.dll ({arch}) stand-in exports the decorated names", set(exports(ostrum)) == ostrum_calls,
              sorted(exports(ostrum)))
    checksums()
    checksec([f"windows-{arch}/{exe}" for arch in ARCHES for exe in EXECUTABLES])
    return tally.finish()


if __name__ == "__main__":
    sys.exit(main())
