#!/usr/bin/env bash
# Signs the Windows programs of dist/ (Authenticode, SHA-256, osslsigncode)
# into a release folder, beside a detached signature of each, the signed
# zips and SHA256SUMS. dist/ itself is left as it is.
#
# Usage: scripts/sign-release.sh (--pkcs12 FILE | --key FILE --certs CHAIN.pem)
#            [--password-file FILE] [--timestamp URL] [--time UNIX] [--out DIR]
#   --certs          the signing certificate first, then its chain
#   --password-file  for the PKCS#12 file or an encrypted key; a password is
#                    never put on a command line
#   --timestamp      an RFC 3161 time-stamp authority
#   --time           the signing time (default: the commit's time)
#   --out            default dist/release; it must not exist yet, or be empty
#
# Writes DIR/windows-ARCH/NAME.exe (signed), NAME.exe.sig (the PKCS#7
# SignedData in plain DER, as it stands in the file's certificate table),
# DIR/korvel-VERSION-windows-ARCH.zip and DIR/SHA256SUMS: exactly the files of
# a release as release.conf names them, which verify-release.sh requires. Any
# failure: one line on stderr, exit code 1, and nothing left in DIR.
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

read -ra PROGRAMS <<< "$(release_value programs)"
read -ra ARCHES <<< "$(release_value architectures)"
out=dist/release
pkcs12="" key="" certs="" password="" timestamp="" when=""
created=""
work=""

cleanup() {
    [ -n "$work" ] && rm -rf "$work"
    return 0
}
trap cleanup EXIT

# One line, and nothing of the release left behind.
die() {
    echo "sign-release.sh: $*" >&2
    if [ -n "$created" ]; then
        if [ "$created" = folder ]; then rm -rf "$out"; else find "$out" -mindepth 1 -delete; fi
    fi
    exit 1
}

while [ $# -gt 0 ]; do
    case "$1" in
        --pkcs12|--key|--certs|--password-file|--timestamp|--time|--out)
            [ $# -ge 2 ] || die "$1 needs a value"
            case "$1" in
                --pkcs12) pkcs12=$2 ;;
                --key) key=$2 ;;
                --certs) certs=$2 ;;
                --password-file) password=$2 ;;
                --timestamp) timestamp=$2 ;;
                --time) when=$2 ;;
                --out) out=$2 ;;
            esac
            shift 2 ;;
        *) die "unknown option $1 (see the usage at the top of this script)" ;;
    esac
done

if [ -n "$pkcs12" ]; then
    [ -z "$key$certs" ] || die "give either --pkcs12 or --key with --certs, not both"
elif [ -z "$key" ] || [ -z "$certs" ]; then
    die "give --pkcs12 FILE, or --key FILE with --certs CHAIN.pem"
fi
for file in "$pkcs12" "$key" "$certs" "$password"; do
    [ -z "$file" ] || { [ -f "$file" ] && [ -r "$file" ]; } || die "cannot read $file"
done
[ -n "$when" ] || when=$(release_time)
[[ $when =~ ^[0-9]+$ ]] || die "--time takes seconds since 1970, not $when"
for arch in "${ARCHES[@]}"; do
    folder=$(release_value build "$arch")
    for program in "${PROGRAMS[@]}"; do
        [ -f "dist/$folder/$program" ] || die "dist/$folder/$program is missing: run ./build.sh first"
    done
    unsigned_zip="dist/$(release_value unsigned-zip "$arch")"
    [ -f "$unsigned_zip" ] || die "$unsigned_zip is missing: run ./build.sh first"
done
if [ -e "$out" ]; then
    [ -d "$out" ] && [ -z "$(ls -A "$out")" ] || die "$out is not an empty folder"
fi
work=$(mktemp -d)

# The signing certificate and the public half of the key, with the password
# read from its file by openssl itself.
passin=()
[ -n "$password" ] && passin=(-passin "file:$password")
if [ -n "$pkcs12" ]; then
    openssl pkcs12 -in "$pkcs12" -nokeys -clcerts "${passin[@]}" -out "$work/leaf.pem" 2>/dev/null < /dev/null ||
        die "cannot open $pkcs12: wrong password or not a PKCS#12 file"
    openssl pkcs12 -in "$pkcs12" -nocerts -nodes "${passin[@]}" 2>/dev/null < /dev/null |
        openssl pkey -pubout -out "$work/key.pub" 2>/dev/null || die "$pkcs12 holds no private key"
else
    openssl x509 -in "$certs" -out "$work/leaf.pem" 2>/dev/null || die "$certs holds no certificate"
    openssl pkey -in "$key" "${passin[@]}" -pubout -out "$work/key.pub" 2>/dev/null < /dev/null ||
        die "cannot open $key: wrong password or not a private key"
fi
openssl x509 -in "$work/leaf.pem" -noout -pubkey > "$work/cert.pub" 2>/dev/null ||
    die "cannot read the signing certificate"
cmp -s "$work/key.pub" "$work/cert.pub" || die "the key does not belong to the signing certificate"
openssl x509 -in "$work/leaf.pem" -noout -ext extendedKeyUsage 2>/dev/null | grep -q "Code Signing" ||
    die "the signing certificate does not allow code signing (no Code Signing extended key usage)"

credentials=()
if [ -n "$pkcs12" ]; then credentials=(-pkcs12 "$pkcs12"); else credentials=(-certs "$certs" -key "$key"); fi
[ -n "$password" ] && credentials+=(-readpass "$password")
[ -n "$timestamp" ] && credentials+=(-ts "$timestamp")

if [ -e "$out" ]; then created=contents; else created=folder; fi
mkdir -p "$out" || die "cannot make $out"
for arch in "${ARCHES[@]}"; do
    folder=$(release_value build "$arch")
    mkdir -p "$out/$folder" || die "cannot write to $out"
    for program in "${PROGRAMS[@]}"; do
        signed="$out/$folder/$program"
        if ! osslsigncode sign "${credentials[@]}" -h sha256 -time "$when" \
            -in "dist/$folder/$program" -out "$signed" > "$work/osslsigncode.log" 2>&1 < /dev/null; then
            reason=$(grep -m1 -iE "timestamp|failed|error" "$work/osslsigncode.log" | tr -d '\r')
            [ -n "$timestamp" ] && grep -qi "timestamp" "$work/osslsigncode.log" &&
                die "signing $folder/$program failed: no time stamp from $timestamp"
            die "signing $folder/$program failed: ${reason:-osslsigncode gave no reason}"
        fi
        scripts/pe_signature.py extract "$signed" "$signed.sig" 2> "$work/extract.log" ||
            die "$(cat "$work/extract.log")"
    done
    scripts/release_zip.py signed "dist/$(release_value unsigned-zip "$arch")" "$out/$folder" \
        "$out/$(release_value zip "$arch")" 2> "$work/zip.log" ||
        die "the signed zip of $arch: $(tail -1 "$work/zip.log")"
done
scripts/release_zip.py sums "$out" 2> "$work/sums.log" || die "cannot write $out/SHA256SUMS: $(tail -1 "$work/sums.log")"
created=""
echo "signed ${#PROGRAMS[@]} programs for ${ARCHES[*]} into $out (signing time $when)"
