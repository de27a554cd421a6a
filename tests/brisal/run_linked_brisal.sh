#!/usr/bin/env bash
# The Linux brisal, linked by plain C++ names against the stand-in libostrum.so.
set -u
brisal=$1
log=$(mktemp)
trap 'rm -f "$log"' EXIT
out=$(OSTRUM_LOG="$log" OSTRUM_RESULT=-1 OSTRUM_MOUNT_POINT='/mnt/service' "$brisal" -f -d)
code=$?
expected=$(printf '\n\rbrisal - Service Partition and Virtual Partition tool\n\r\n\rDebug Printing enabled\n\rService Partition mounted at: /mnt/service\n\r')
[ "$out" = "$expected" ] || { echo "unexpected output: $(printf '%s' "$out" | od -c | head)"; exit 1; }
[ "$code" -eq 0 ] || { echo "exit code $code"; exit 1; }
[ "$(cat "$log")" = "findMountedSP 260" ] || { echo "calls: $(cat "$log")"; exit 1; }
OSTRUM_RESULT=0 "$brisal" -r > /dev/null
[ $? -eq 1 ] || { echo "a failing umountSP must exit 1"; exit 1; }
# A result that is no whole int is refused in one stderr line, and the call fails.
for value in "" "x" "1x" " 1" "4294967296" "-2147483649"; do
    err=$(OSTRUM_RESULT="$value" "$brisal" -v 2>&1 > /dev/null)
    code=$?
    [ "$code" -eq 1 ] && [ "$(printf '%s\n' "$err" | wc -l)" -eq 1 ] && [ -n "$err" ] ||
        { echo "OSTRUM_RESULT='$value': exit $code, stderr '$err'"; exit 1; }
done
echo "linked brisal: 3 passed, 0 failed"
