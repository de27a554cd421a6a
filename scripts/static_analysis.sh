#!/usr/bin/env bash
# clang-tidy (.clang-tidy) and cppcheck over every source of both tools, as
# compiled for the Linux target. Any finding fails.
set -uo pipefail
cd "$(dirname "$0")/.."
compile_db=build/linux/compile_commands.json
[ -f "$compile_db" ] || { echo "no $compile_db: build the linux preset first"; exit 1; }

# The Win32 sources (korvel/win32, *_win32.cpp) only compile for Windows and are left to the cross-build's -Werror.
sources=$(ls korvel/*.cpp korvel/sim/*.cpp korvel/report/*.cpp brisal/*.cpp brisal/standin/*.cpp | grep -v _win32.cpp)
status=0

echo "clang-tidy: $(echo "$sources" | wc -w) files"
# A few files per clang-tidy, one per core.
if ! echo "$sources" | xargs -n 4 -P "$(nproc 2>/dev/null || echo 2)" clang-tidy -p build/linux --quiet \
        > build/clang-tidy.log 2>&1; then
    grep -E "(warning|error):" build/clang-tidy.log | sort -u
    status=1
fi

echo "cppcheck"
if ! cppcheck --project="$compile_db" --enable=warning,style,performance,portability --inline-suppr \
        --error-exitcode=1 --quiet --std=c++17 -i tests --suppress='*:/usr/*' > build/cppcheck.log 2>&1; then
    cat build/cppcheck.log
    status=1
fi
[ "$status" -eq 0 ] && echo "static analysis: no finding"
exit "$status"
