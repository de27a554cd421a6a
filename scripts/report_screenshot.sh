#!/usr/bin/env bash
# The picture of the built-in machine's report that the README shows:
# dist/linux/korvel-report's page as headless Chromium draws it.
# Usage: scripts/report_screenshot.sh [OUT.png]   (default docs/report-builtin.png)
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/report-builtin.png}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dist/linux/korvel-report > "$work/report.html"
chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking \
    --disable-component-update --disable-sync --user-data-dir="$work/profile" --hide-scrollbars \
    --window-size=1100,1500 --screenshot="$work/report.png" "file://$work/report.html" > /dev/null 2>&1
mkdir -p "$(dirname "$out")"
cp "$work/report.png" "$out"
echo "wrote $out"
