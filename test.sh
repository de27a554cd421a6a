#!/usr/bin/env bash
# Builds what is needed and runs every test suite; non-zero exit on any failure.
set -uo pipefail
cd "$(dirname "$0")"
source scripts/common.sh

install_missing || exit 1
# The arm64 Wine root, when this machine has none yet, is made meanwhile (mostly downloads and
# emulated package scripts); its suite waits for it.
mkdir -p build
scripts/arm64_wine_root.sh > build/arm64-wine-root.log 2>&1 &
build_deliverables || exit 1

suites_passed=0
suites_failed=0
failures=()

run_suite() {
    local name=$1 started=$SECONDS
    shift
    echo
    echo "== suite: $name"
    if "$@"; then
        suites_passed=$((suites_passed + 1))
    else
        suites_failed=$((suites_failed + 1))
        failures+=("$name")
    fi
    echo "== suite took $((SECONDS - started)) s: $name"
}

native_tests() { ctest --preset linux; }

sanitizer_tests() {
    build_preset sanitize && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 ctest --preset sanitize
}

fuzz_smoke() { ./fuzz.sh 3; }

# The cross-built test programs (MinGW-w64's posix thread model; Zig's for arm64) beside the shipped executables.
wine_suite() {
    local arch=$1
    build_preset "wine-tests-$arch" > "build/wine-tests-$arch-build.log" 2>&1 ||
        { tail -20 "build/wine-tests-$arch-build.log"; return 1; }
    tests/wine/run_wine_tests.py "$arch"
}

# A suite that runs beside the ones that follow; its output is shown when it is waited for.
start_suite() {
    background_name=$1 background_started=$SECONDS
    shift
    ("$@"; status=$?; echo "$SECONDS" > build/suite-beside.end; exit "$status") > build/suite-beside.log 2>&1 &
    background_pid=$!
}

wait_for_suite() {
    wait "$background_pid"
    local status=$?
    echo
    echo "== suite: $background_name (ran beside the suites above)"
    cat build/suite-beside.log
    if [ "$status" -eq 0 ]; then
        suites_passed=$((suites_passed + 1))
    else
        suites_failed=$((suites_failed + 1))
        failures+=("$background_name")
    fi
    echo "== suite took $(($(cat build/suite-beside.end) - background_started)) s: $background_name"
}

# The emulated architecture's programs run in one emulated thread most of the time: that suite
# runs beside the others, and the signed releases, which start its Wine too, wait for it.
emulated=arm64
start_suite "Windows $emulated programs under Wine" wine_suite "$emulated"
run_suite "native unit and scenario tests" native_tests
run_suite "native tests under ASan and UBSan" sanitizer_tests
run_suite "fuzz targets, briefly" fuzz_smoke
run_suite "clang-tidy and cppcheck" scripts/static_analysis.sh
for arch in $(scripts/release_zip.py arches); do
    [ "$arch" = "$emulated" ] || run_suite "Windows $arch programs under Wine" wine_suite "$arch"
done
run_suite "static checks of the Windows binaries" tests/static/check_pe.py
run_suite "documentation examples and links" tests/docs/check_docs.py
run_suite "korvel-report in a browser" tests/report/browser_report.py dist/linux/korvel-report
run_suite "SBOMs and third-party notices" tests/release/check_sboms.py
run_suite "reproducible Windows builds and signatures" tests/static/reproducible_build.sh
wait_for_suite
run_suite "signed releases" tests/release/run_release_tests.py

echo
[ ${#failures[@]} -eq 0 ] || printf 'failed suite: %s\n' "${failures[@]}"
echo "test.sh: $suites_passed passed, $suites_failed failed"
[ "$suites_failed" -eq 0 ]
