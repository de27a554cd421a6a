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
echo "linked brisal: 2 passed, 0 failed"
