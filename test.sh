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

# The cross-built test programs (Zig, as what ships) beside the shipped executables.
wine_test_programs() {
    build_preset "wine-tests-$1" wine_test_programs > "build/wine-tests-$1-build.log" 2>&1 ||
        { tail -20 "build/wine-tests-$1-build.log"; return 1; }
}

wine_suite() { wine_test_programs "$1" && tests/wine/run_wine_tests.py "$1"; }

replay_suite() { tests/wine/run_replay_tests.py "$1"; }

# Suites that run one after another beside the others, each shown when they are waited for.
beside=()
start_beside() {
    beside=("$@")
    (
        for i in "${!beside[@]}"; do
            started=$SECONDS
            ${beside[$i]#*:} > "build/beside-$i.log" 2>&1
            echo "$? $((SECONDS - started))" > "build/beside-$i.result"
        done
    ) &
    beside_pid=$!
}

wait_for_beside() {
    wait "$beside_pid"
    local i status seconds
    for i in "${!beside[@]}"; do
        echo
        echo "== suite: ${beside[$i]%%:*} (ran beside the suites above)"
        cat "build/beside-$i.log"
        read -r status seconds < "build/beside-$i.result" || status=1
        if [ "$status" -eq 0 ]; then
            suites_passed=$((suites_passed + 1))
        else
            suites_failed=$((suites_failed + 1))
            failures+=("${beside[$i]%%:*}")
        fi
        echo "== suite took ${seconds:-?} s: ${beside[$i]%%:*}"
    done
}

# The emulated architecture's programs run in one emulated thread most of the time: its suites run
# beside the others, and so do the signed releases after them (which start its Wine too, and the
# other architectures' in a prefix of their own, once their test programs are built).
emulated=arm64
native_arches=()
for arch in $(release_value architectures); do
    [ "$arch" = "$emulated" ] || native_arches+=("$arch")
done
rm -f build/wine-test-programs.built
signed_releases() {
    while [ ! -e build/wine-test-programs.built ]; do sleep 2; done
    tests/release/run_release_tests.py
}
start_beside "Windows $emulated programs under Wine:wine_suite $emulated" \
    "Windows $emulated replays under Wine:replay_suite $emulated" \
    "signed releases:signed_releases"
for arch in "${native_arches[@]}"; do
    run_suite "Windows $arch test programs built" wine_test_programs "$arch"
done
touch build/wine-test-programs.built
run_suite "native unit and scenario tests" native_tests
run_suite "native tests under ASan and UBSan" sanitizer_tests
run_suite "fuzz targets, briefly" fuzz_smoke
run_suite "clang-tidy and cppcheck" scripts/static_analysis.sh
for arch in "${native_arches[@]}"; do
    run_suite "Windows $arch programs under Wine" tests/wine/run_wine_tests.py "$arch"
    run_suite "Windows $arch replays under Wine" replay_suite "$arch"
done
run_suite "static checks of the Windows binaries" tests/static/check_pe.py
run_suite "documentation examples and links" tests/docs/check_docs.py
run_suite "korvel-report in a browser" tests/report/browser_report.py dist/linux/korvel-report
run_suite "SBOMs and third-party notices" tests/release/check_sboms.py
run_suite "reproducible Windows builds and signatures" tests/static/reproducible_build.sh
wait_for_beside

echo
[ ${#failures[@]} -eq 0 ] || printf 'failed suite: %s\n' "${failures[@]}"
echo "test.sh: $suites_passed passed, $suites_failed failed"
[ "$suites_failed" -eq 0 ]
