#!/usr/bin/env bash
# Runs the simulated korvel on each case folder and compares stdout, stderr
# and the exit code byte for byte.
#   case/args          one argument a line (absent: no arguments)
#   case/machine.json  the machine (absent: machine-path, else the built-in one)
#   case/machine-path  a KORVEL_MACHINE value used as it stands
#   case/stdout, case/exit, case/stderr (absent: empty; the machine's path written MACHINE)
set -u
korvel=$1
cases=$2
passed=0
failed=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for dir in "$cases"/*/; do
    name=$(basename "$dir")
    args=()
    if [ -f "$dir/args" ]; then mapfile -t args < "$dir/args"; fi
    if [ -f "$dir/machine.json" ]; then
        export KORVEL_MACHINE="$dir/machine.json"
    elif [ -f "$dir/machine-path" ]; then
        KORVEL_MACHINE=$(cat "$dir/machine-path"); export KORVEL_MACHINE
    else
        unset KORVEL_MACHINE
    fi
    "$korvel" "${args[@]}" > "$work/stdout" 2> "$work/raw-stderr"
    code=$?
    # The machine's path stands as MACHINE in the expected stderr.
    if [ -n "${KORVEL_MACHINE:-}" ]; then
        MACHINE_PATH="$KORVEL_MACHINE" awk '{ gsub(ENVIRON["MACHINE_PATH"], "MACHINE"); print }' "$work/raw-stderr" > "$work/stderr"
    else
        cp "$work/raw-stderr" "$work/stderr"
    fi
    [ -f "$dir/stderr" ] && expected_err="$dir/stderr" || expected_err=/dev/null
    problems=""
    cmp -s "$work/stdout" "$dir/stdout" || problems+=" stdout"
    cmp -s "$work/stderr" "$expected_err" || problems+=" stderr"
    [ "$code" = "$(cat "$dir/exit")" ] || problems+=" exit($code)"
    if [ -z "$problems" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL $name:$problems"
        diff <(cat -A "$dir/stdout") <(cat -A "$work/stdout") | head -20
        cat "$work/stderr"
    fi
done
echo "scenarios: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
