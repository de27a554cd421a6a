#!/usr/bin/env bash
# Proves that a signed release came from the build in dist/: each published
# signature, put into the same-named program of dist/, gives the signed
# program byte for byte; the signed zips rebuilt from those programs equal
# the published ones; DIR/SHA256SUMS holds. With --ca, osslsigncode also
# verifies every signed program against that CA.
#
# Usage: scripts/verify-release.sh DIR [--ca FILE]
# One line per file; exit code 0 only when everything holds.
set -uo pipefail
cd "$(dirname "$0")/.."

usage() {
    echo "usage: scripts/verify-release.sh DIR [--ca FILE]" >&2
    exit 1
}
[ $# -ge 1 ] || usage
release=$1
shift
ca=""
while [ $# -gt 0 ]; do
    case "$1" in
        --ca) [ $# -ge 2 ] || usage; ca=$2; shift 2 ;;
        *) usage ;;
    esac
done
[ -d "$release" ] || { echo "verify-release.sh: $release is not a folder" >&2; exit 1; }
[ -z "$ca" ] || [ -r "$ca" ] || { echo "verify-release.sh: cannot read $ca" >&2; exit 1; }

mapfile -t PROGRAMS < <(scripts/release_zip.py programs)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

report() {  # holds? file what
    if [ "$1" = yes ]; then echo "ok    $2: $3"; else echo "FAIL  $2: $3"; failures=$((failures + 1)); fi
}

for arch in x64 x86; do
    mkdir -p "$work/windows-$arch"
    for program in "${PROGRAMS[@]}"; do
        name="windows-$arch/$program"
        if [ ! -f "$release/$name.sig" ] || [ ! -f "$release/$name" ]; then
            report no "$name" "no signed file or no signature published"
            continue
        fi
        if ! scripts/pe_signature.py attach "dist/$name" "$release/$name.sig" "$work/$name" 2> "$work/attach.log"; then
            report no "$name" "$(tail -1 "$work/attach.log")"
            continue
        fi
        if ! cmp -s "$work/$name" "$release/$name"; then
            report no "$name" "dist/$name with the published signature is not the signed file"
        elif [ -n "$ca" ] && ! osslsigncode verify -CAfile "$ca" -in "$release/$name" > /dev/null 2>&1 < /dev/null; then
            report no "$name" "is dist/$name with its signature, but osslsigncode does not verify it against $ca"
        else
            report yes "$name" "dist/$name with the published signature is the signed file${ca:+, verified against $ca}"
        fi
    done
    zip=$(scripts/release_zip.py name "$arch" signed)
    if [ -f "$release/$zip" ]; then
        signer=$(scripts/release_zip.py signer "$release/$zip")
        scripts/release_zip.py signed "dist/$(scripts/release_zip.py name "$arch" unsigned)" "$work/windows-$arch" \
            "$signer" "$work/$zip" 2> /dev/null
        if cmp -s "$work/$zip" "$release/$zip"; then
            report yes "$zip" "rebuilt from dist/ and the signatures, it is the same"
        else
            report no "$zip" "rebuilt from dist/ and the signatures, it differs"
        fi
    else
        report no "$zip" "not published"
    fi
done

if [ -f "$release/SHA256SUMS" ]; then
    listed=$(cut -d' ' -f3- "$release/SHA256SUMS" | LC_ALL=C sort)
    present=$(cd "$release" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort)
    sums_hold=$( (cd "$release" && sha256sum --quiet --strict -c SHA256SUMS) > /dev/null 2>&1 && echo yes || echo no)
    [ "$listed" = "$present" ] || sums_hold=no
    report "$sums_hold" SHA256SUMS "lists every other file of $release, and each sum holds"
else
    report no SHA256SUMS "not published"
fi

[ "$failures" -eq 0 ] || { echo "verify-release.sh: $failures check(s) failed" >&2; exit 1; }
echo "verify-release.sh: $release is the build in dist/, signed"
