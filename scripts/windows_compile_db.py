#!/usr/bin/python3
"""The compilation database of the sources that only the Windows build
compiles (the Win32 platform, the replay tool, the programs' Windows entry
points), for clang-tidy and cppcheck: each compile as build/windows-x64 runs
it, its flags and warnings unchanged, but for Debian's clang and MinGW-w64
headers instead of Zig's driver, whose libc++ is newer than the analysers'
clang reads.

Usage: windows_compile_db.py WINDOWS_BUILD LINUX_BUILD OUT_DIR"""
import glob
import json
import os
import shlex
import sys

TARGET = "x86_64-w64-mingw32"


def libstdcxx_headers():
    """The C++ library headers of Debian's MinGW-w64 g++ (win32 threads)."""
    found = sorted(glob.glob(f"/usr/lib/gcc/{TARGET}/*-win32/include/c++"))
    if not found:
        raise SystemExit(f"no C++ headers of g++-mingw-w64 under /usr/lib/gcc/{TARGET}")
    return [found[-1], os.path.join(found[-1], TARGET)]


def arguments(entry, headers):
    words = []
    for word in shlex.split(entry["command"]):
        if word.startswith("@"):  # CMake's response file of include folders
            with open(os.path.join(entry["directory"], word[1:])) as f:
                words += shlex.split(f.read())
        elif word.startswith("--target="):
            words.append(f"--target={TARGET}")
        elif word == "-mguard=cf":  # code generation only, and newer than the analysers' clang
            continue
        else:
            words.append(word)
    words[0] = "clang++"
    words[1:1] = [flag for folder in headers for flag in ("-isystem", folder)]
    return words


def main(argv):
    if len(argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    windows, linux, out = argv[1:]
    with open(os.path.join(linux, "compile_commands.json")) as f:
        on_linux = {entry["file"] for entry in json.load(f)}
    with open(os.path.join(windows, "compile_commands.json")) as f:
        entries = json.load(f)
    headers = libstdcxx_headers()
    chosen, seen = [], set()
    for entry in entries:
        # C++ only, as for the Linux build: the C file is the load configuration's symbols, named by the toolchain.
        if entry["file"] in on_linux or entry["file"] in seen or not entry["file"].endswith(".cpp"):
            continue
        seen.add(entry["file"])
        chosen.append({"directory": entry["directory"], "file": entry["file"],
                       "arguments": arguments(entry, headers)})
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "compile_commands.json"), "w") as f:
        json.dump(chosen, f, indent=1)
    print("\n".join(entry["file"] for entry in chosen))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
