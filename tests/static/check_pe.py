#!/usr/bin/python3
"""Static checks of the Windows deliverables in dist/, both architectures:
machine and subsystem, self-containment, the ostrum imports, brisal's six
exports bound to the class operators, and brisal's version resource."""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from tally import Tally  # noqa: E402

import pefile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll", "user32.dll",
               "advapi32.dll", "ntdll.dll", "shell32.dll"}
ARCHES = {
    "x64": {"machine": 0x8664, "nm": "x86_64-w64-mingw32-nm", "symbol_prefix": "",
            "ptr": "PE", "ref": "AE", "cref": "AEB", "this": "QEAA"},
    "x86": {"machine": 0x14C, "nm": "i686-w64-mingw32-nm", "symbol_prefix": "_",
            "ptr": "P", "ref": "A", "cref": "AB", "this": "QAE"},
}
CLASSES = ["WMIinterface", "Device", "Partition", "HardDisk", "System", "OperatingSystem"]

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


def common(name, pe, arch, extra_dlls=()):
    info = ARCHES[arch]
    check(f"{name} machine", pe.FILE_HEADER.Machine == info["machine"], hex(pe.FILE_HEADER.Machine))
    check(f"{name} console subsystem", pe.OPTIONAL_HEADER.Subsystem == 3, pe.OPTIONAL_HEADER.Subsystem)
    dlls = set(imports(pe))
    check(f"{name} imports only system DLLs", dlls <= SYSTEM_DLLS | set(extra_dlls), sorted(dlls))


def ostrum_names(arch):
    p = ARCHES[arch]["ptr"]
    return {f"?mountSP@@YAH{p}ADK@Z", f"?findMountedSP@@YAH{p}ADK@Z", "?umountSP@@YAHXZ",
            "?lockVirP@@YAHXZ", "?unlockVirP@@YAHXZ"}


def operator_exports(arch):
    a = ARCHES[arch]
    return {cls: f"??4{cls}@@{a['this']}{a['ref']}AV0@{a['cref']}V0@@Z" for cls in CLASSES}


def symbol_addresses(binary, arch):
    out = subprocess.run([ARCHES[arch]["nm"], binary], stdout=subprocess.PIPE, check=True).stdout.decode()
    table = {}
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 3:
            table[parts[2]] = int(parts[0], 16)
    return table


def version_resource(name, pe):
    check(f"{name} has a version resource", hasattr(pe, "VS_FIXEDFILEINFO") and hasattr(pe, "FileInfo"))
    if not hasattr(pe, "VS_FIXEDFILEINFO"):
        return
    fixed = pe.VS_FIXEDFILEINFO[0]
    check(f"{name} FILEVERSION", (fixed.FileVersionMS, fixed.FileVersionLS) == (0x00040016, 0x00030000),
          (hex(fixed.FileVersionMS), hex(fixed.FileVersionLS)))
    check(f"{name} PRODUCTVERSION", (fixed.ProductVersionMS, fixed.ProductVersionLS) == (0x00040016, 0x00030000))
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
        expected = {"FileVersion": "4,22,3,0", "ProductVersion": "4,22,3,0",
                    "FileDescription": "brisal Application", "InternalName": "brisal",
                    "OriginalFilename": "brisal.exe", "ProductName": " brisal Application"}
        for key, value in expected.items():
            check(f"{name} {key}", strings.get(key) == value, repr(strings.get(key)))
        check(f"{name} LegalCopyright", bool(strings.get("LegalCopyright")), strings)
    check(f"{name} Translation 0x0409 1200", translations == [{b"Translation": "0x0409 0x04b0"}], translations)


def main():
    for arch in ARCHES:
        dist = os.path.join(ROOT, "dist", f"windows-{arch}")
        korvel = pefile.PE(os.path.join(dist, "korvel.exe"))
        common(f"korvel.exe ({arch})", korvel, arch)
        imported = set().union(*imports(korvel).values())
        check(f"korvel.exe ({arch}) does not import CoInitializeSecurity", "CoInitializeSecurity" not in imported)
        check(f"korvel.exe ({arch}) imports the WMI calls it makes",
              {"CoCreateInstance", "CoInitialize", "LoadLibraryExA", "GetProcAddress", "DeviceIoControl",
               "GetLogicalDriveStringsA", "CreateFileA", "GetEnvironmentVariableA"} <= imported)

        brisal_path = os.path.join(dist, "brisal.exe")
        brisal = pefile.PE(brisal_path)
        common(f"brisal.exe ({arch})", brisal, arch, extra_dlls=("ostrum.dll",))
        check(f"brisal.exe ({arch}) ostrum imports", imports(brisal).get("ostrum.dll") == ostrum_names(arch),
              imports(brisal).get("ostrum.dll"))
        wanted = operator_exports(arch)
        got = exports(brisal)
        check(f"brisal.exe ({arch}) exports exactly the six operators", set(got) == set(wanted.values()),
              sorted(got))
        symbols = symbol_addresses(brisal_path, arch)
        base = brisal.OPTIONAL_HEADER.ImageBase
        for cls, export in wanted.items():
            gcc_name = ARCHES[arch]["symbol_prefix"] + f"_ZN{len(cls)}{cls}aSERKS_"
            check(f"brisal.exe ({arch}) {export} is {cls}::operator=",
                  export in got and symbols.get(gcc_name) == base + got[export],
                  (hex(got.get(export, 0)), symbols.get(gcc_name)))
        version_resource(f"brisal.exe ({arch})", brisal)

        ostrum = pefile.PE(os.path.join(dist, "ostrum.dll"))
        check(f"ostrum.dll ({arch}) stand-in exports the decorated names",
              set(exports(ostrum)) == ostrum_names(arch), sorted(exports(ostrum)))
        check(f"ostrum.dll ({arch}) machine", ostrum.FILE_HEADER.Machine == ARCHES[arch]["machine"])
        check(f"ostrum.dll ({arch}) imports only system DLLs", set(imports(ostrum)) <= SYSTEM_DLLS,
              sorted(imports(ostrum)))
    return tally.finish()


if __name__ == "__main__":
    sys.exit(main())
