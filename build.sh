#!/usr/bin/env bash
# Installs what is missing, builds korvel and brisal for Linux (simulated
# platform) and for Windows x64, x86 and arm64 into dist/, with the replay tool
# for each Windows architecture, then runs the main job.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh

install_missing
build_deliverables

set +e
echo
echo "== dist/linux/korvel /checkLetter C:   (built-in machine)"
dist/linux/korvel /checkLetter C:
echo "== exit code $?"
echo
echo "== dist/linux/korvel-report > dist/report-builtin.html   (built-in machine; open it in a browser)"
grep -o 'data-root="[^"]*" data-exit="[01]"' dist/report-builtin.html
echo
echo "== dist/linux/brisal -m -d   (stand-in ostrum, OSTRUM_MOUNT_POINT=S:\\)"
OSTRUM_MOUNT_POINT='S:\' dist/linux/brisal -m -d
code=$?
echo
echo "== exit code $code"
exit 0
