#!/usr/bin/env bash
# Builds the Windows deliverables a second time, from a copy of the sources at
# another path and in build folders of other names: the programs and the
# unsigned zips equal dist/'s byte for byte. Then dist/ is signed with a
# throwaway key, and the copy's own verify-release.sh puts those signatures
# into the second build: the signed programs and zips come out the same.
set -uo pipefail
cd "$(dirname "$0")/../.."
source scripts/common.sh
copy=$(mktemp -d /tmp/korvel-second-build.XXXXXX)
trap 'rm -rf "$copy"' EXIT
git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$copy" 2>/dev/null
# The copy is no checkout: it is told the commit and its time.
KORVEL_COMMIT=$(release_commit)
SOURCE_DATE_EPOCH=$(release_time)
export KORVEL_COMMIT SOURCE_DATE_EPOCH
status=0
presets=$(windows_presets)
for preset in $presets; do
    (cd "$copy" && cmake --preset "$preset" -B "$copy/second-$preset" > /dev/null &&
        cmake --build "$copy/second-$preset" -j "$(nproc)" > /dev/null &&
        cmake --install "$copy/second-$preset" --prefix "$copy/dist/$preset" > /dev/null) ||
        { echo "second build of $preset failed"; status=1; }
done
(cd "$copy" && write_unsigned_zips "$copy/second-windows-{arch}") || { echo "second build: the zips failed"; status=1; }

listing() {
    (cd "$1" && find $presets -type f &&
        find . -maxdepth 1 \( -name "*.zip" -o -name "*.spdx.json" -o -name "*.cdx.json" \) -printf "%f\n") | LC_ALL=C sort
}
for file in $(listing dist); do
    if cmp -s "dist/$file" "$copy/dist/$file"; then echo "identical: dist/$file"; else echo "DIFFERS: dist/$file"; status=1; fi
done
[ "$(listing dist)" = "$(listing "$copy/dist")" ] || { echo "DIFFERS: the file lists of dist/"; status=1; }

tests/release/throwaway_pki.sh "$copy/pki"
if scripts/sign-release.sh --pkcs12 "$copy/pki/leaf.p12" --password-file "$copy/pki/password" \
    --out "$copy/release" > /dev/null; then
    (cd "$copy" && scripts/verify-release.sh "$copy/release") || status=1
else
    echo "signing dist/ failed"
    status=1
fi
exit "$status"
