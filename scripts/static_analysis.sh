#!/usr/bin/env bash
# clang-tidy (.clang-tidy) and cppcheck over every source of the programs and
# the replay tool: as compiled for the Linux target, and the sources only the
# Windows build compiles (the Win32 platform, the replay tool, the Windows
# entry points) as build/windows-x64 compiles them, read through Debian's
# MinGW-w64 headers (scripts/windows_compile_db.py). Any finding fails.
set -uo pipefail
cd "$(dirname "$0")/.."
linux_db=build/linux/compile_commands.json
windows_db=build/analysis-windows/compile_commands.json
[ -f "$linux_db" ] || { echo "no $linux_db: build the linux preset first"; exit 1; }
[ -f build/windows-x64/compile_commands.json ] || { echo "no build/windows-x64: run ./build.sh first"; exit 1; }
windows_sources=$(scripts/windows_compile_db.py build/windows-x64 build/linux build/analysis-windows) || exit 1
linux_sources=$(ls korvel/*.cpp korvel/sim/*.cpp korvel/report/*.cpp brisal/*.cpp brisal/standin/*.cpp | grep -v _win32.cpp)
status=0

# A few files per clang-tidy, one per core.
tidy() {  # BUILD_DIR SOURCES LOG
    echo "$2" | xargs -n 4 -P "$(nproc 2>/dev/null || echo 2)" clang-tidy -p "$1" --quiet > "$3" 2>&1 ||
        { grep -E "(warning|error):" "$3" | sort -u; return 1; }
}
echo "clang-tidy: $(echo "$linux_sources" | wc -w) files for Linux, $(echo "$windows_sources" | wc -w) for Windows"
tidy build/linux "$linux_sources" build/clang-tidy.log || status=1
tidy build/analysis-windows "$windows_sources" build/clang-tidy-windows.log || status=1

echo "cppcheck"
check() {  # COMPILE_DB LOG OPTIONS...
    local db=$1 log=$2
    shift 2
    cppcheck --project="$db" --enable=warning,style,performance,portability --inline-suppr --error-exitcode=1 \
        --quiet --std=c++17 --suppress='*:/usr/*' "$@" > "$log" 2>&1 || { cat "$log"; return 1; }
}
check "$linux_db" build/cppcheck.log -i tests || status=1
# The replay shim's answers keep the signatures of the Win32 functions and COM methods they stand in for.
check "$windows_db" build/cppcheck-windows.log --platform=win64 \
    --suppress='constParameter:*replay/replay_com.cpp' --suppress='constParameter:*replay/replay_kernel32.cpp' ||
    status=1
[ "$status" -eq 0 ] && echo "static analysis: no finding"
exit "$status"
