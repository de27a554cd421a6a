#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for the given seconds (default
# 60), its committed seed corpus first. New inputs go to build/fuzz-corpus/.
# Any crash, leak or sanitizer report fails the run.
set -uo pipefail
cd "$(dirname "$0")"
source scripts/common.sh

seconds=${1:-60}
install_missing || exit 1
build_preset fuzz > build/fuzz-build.log 2>&1 || { cat build/fuzz-build.log; exit 1; }

failed=0
passed=0
for target in partition_count drive_roots boot_query machine_loader korvel_entry brisal_entry; do
    work="build/fuzz-corpus/$target"
    mkdir -p "$work" "build/fuzz-artifacts/$target"
    log="build/fuzz-artifacts/$target/run.log"
    if ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0 \
        "build/fuzz/tests/fuzz/${target}_fuzzer" "$work" "tests/fuzz/corpus/$target" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="build/fuzz-artifacts/$target/" > "$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "fuzz $target: ${runs:-?} executions in ${seconds}s, no finding"
        passed=$((passed + 1))
    else
        echo "fuzz $target: FINDING (see $log)"
        grep -E "ERROR|check failed|held or misused|SUMMARY" "$log" | head -10
        failed=$((failed + 1))
    fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
