#!/usr/bin/env bash
# Builds the Windows deliverables a second time, from a copy of the sources at
# another path and in build folders of other names, and compares them byte for
# byte with dist/.
set -uo pipefail
cd "$(dirname "$0")/../.."
copy=$(mktemp -d /tmp/korvel-second-build.XXXXXX)
trap 'rm -rf "$copy"' EXIT
git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$copy" 2>/dev/null
status=0
for preset in windows-x64 windows-x86; do
    (cd "$copy" && cmake --preset "$preset" -B "$copy/second-$preset" > /dev/null &&
        cmake --build "$copy/second-$preset" -j "$(nproc)" > /dev/null &&
        cmake --install "$copy/second-$preset" --prefix "$copy/installed-$preset" > /dev/null) ||
        { echo "second build of $preset failed"; status=1; continue; }
    for file in dist/"$preset"/*; do
        if cmp -s "$file" "$copy/installed-$preset/$(basename "$file")"; then
            echo "identical: $file"
        else
            echo "DIFFERS: $file"
            status=1
        fi
    done
    [ "$(ls dist/"$preset" | wc -l)" -eq "$(ls "$copy/installed-$preset" | wc -l)" ] ||
        { echo "DIFFERS: the file lists of $preset"; status=1; }
done
exit "$status"
