#!/usr/bin/env bash
# Signs the Windows programs of dist/ (Authenticode, SHA-256, osslsigncode)
# into a release folder, beside a detached signature of each, the signed
# zips with their SBOMs signed too, the build provenance and SHA256SUMS.
# dist/ itself is left as it is.
#
# Usage: scripts/sign-release.sh
#            (--pkcs11 URI --pkcs11-module MODULE --certs CHAIN.pem
#             | --pkcs12 FILE | --key FILE --certs CHAIN.pem)
#            [--password-file FILE] [--timestamp URL] [--time UNIX] [--out DIR]
#   --pkcs11         the private key on a PKCS#11 token, as an RFC 7512 URI
#                    (pkcs11:token=signer;object=release;type=private)
#   --pkcs11-module  the token vendor's PKCS#11 library
#   --certs          the signing certificate first, then its chain
#   --password-file  the token's PIN, or the password of the PKCS#12 file or
#                    an encrypted key: read from its file, never put on a
#                    command line
#   --timestamp      an RFC 3161 time-stamp authority (http:// or https://)
#   --time           the signing time (default: the commit's time)
#   --out            default dist/release; it must not exist yet, or be empty
# OSSLSIGNCODE, when set, is the osslsigncode to sign with (2.5 or later).
#
# Writes DIR/windows-ARCH/NAME.exe (signed), NAME.exe.sig (the PKCS#7
# SignedData in plain DER, as it stands in the file's certificate table),
# DIR/korvel-VERSION-windows-ARCH.zip (with its SBOMs beside it),
# DIR/korvel-VERSION.intoto.jsonl and DIR/SHA256SUMS: exactly the files of a
# release as release.conf names them, which verify-release.sh requires. Any
# failure: one line on stderr, exit code 1, and nothing left in DIR.
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

read -ra PROGRAMS <<< "$(release_value programs)"
read -ra ARCHES <<< "$(release_value architectures)"
out=dist/release
pkcs11="" module="" pkcs12="" key="" certs="" password="" timestamp="" when=""
osslsigncode=${OSSLSIGNCODE:-osslsigncode}
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
        --pkcs11|--pkcs11-module|--pkcs12|--key|--certs|--password-file|--timestamp|--time|--out)
            [ $# -ge 2 ] || die "$1 needs a value"
            case "$1" in
                --pkcs11) pkcs11=$2 ;;
                --pkcs11-module) module=$2 ;;
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

# The key, as release_key.py and osslsigncode are told of it.
if [ -n "$pkcs11" ]; then
    [ -z "$pkcs12$key" ] || die "give one of --pkcs11, --pkcs12 and --key"
    [ -n "$module" ] && [ -n "$certs" ] || die "--pkcs11 needs --pkcs11-module MODULE and --certs CHAIN.pem"
    [[ $pkcs11 == pkcs11:* ]] || die "--pkcs11 takes an RFC 7512 URI (pkcs11:...), not $pkcs11"
    export KORVEL_SIGNING_KEY_KIND=pkcs11 KORVEL_SIGNING_KEY=$pkcs11 KORVEL_SIGNING_MODULE=$module
elif [ -n "$pkcs12" ]; then
    [ -z "$key$certs$module" ] || die "give either --pkcs12 or --key with --certs, not both"
    export KORVEL_SIGNING_KEY_KIND=pkcs12 KORVEL_SIGNING_KEY=$pkcs12
elif [ -n "$key" ] && [ -n "$certs" ] && [ -z "$module" ]; then
    export KORVEL_SIGNING_KEY_KIND=key KORVEL_SIGNING_KEY=$key
else
    die "give --pkcs11 URI with --pkcs11-module and --certs, --pkcs12 FILE, or --key FILE with --certs CHAIN.pem"
fi
for file in "$pkcs12" "$key" "$certs" "$password"; do
    [ -z "$file" ] || { [ -f "$file" ] && [ -r "$file" ]; } || die "cannot read $file"
done
export KORVEL_SIGNING_CERTS=$certs KORVEL_SIGNING_PASSWORD=$password
[ -z "$timestamp" ] || [[ $timestamp =~ ^https?://[^[:space:]]+$ ]] || die "--timestamp takes an http:// or https:// URL"
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

# Runs one step of ours, its stderr kept in LOG: any failure, the death of a tool included, is one line.
# The group's stderr also takes the shell's own word of a tool that dies.
step() {  # WHAT LOG COMMAND...
    local what=$1 log=$2 status
    shift 2
    { "$@" > /dev/null 2> "$log" < /dev/null; } 2> /dev/null
    status=$?
    [ "$status" -eq 0 ] && return 0
    [ "$status" -gt 128 ] && [ "$status" -lt 255 ] && die "$what${what:+: }$(basename "$1") ended by signal $((status - 128))"
    die "$what${what:+: }$(tail -1 "$log" | cut -c1-300)"
}

# The key signs as the certificate's, which allows code signing; a token takes its PIN here.
step "" "$work/check.log" scripts/release_key.py check

credentials=()
case $KORVEL_SIGNING_KEY_KIND in
    # osslsigncode 2.5 and 2.9 alike load the PKCS#11 engine by its id (2.5 refuses a path to it); the module
    # is named to osslsigncode and, for 2.5, to the engine in the environment.
    pkcs11) credentials=(-pkcs11module "$module" -certs "$certs" -key "$pkcs11")
            export PKCS11_MODULE_PATH=$module ;;
    pkcs12) credentials=(-pkcs12 "$pkcs12") ;;
    key) credentials=(-certs "$certs" -key "$key") ;;
esac
[ -n "$password" ] && credentials+=(-readpass "$password")
[ -n "$timestamp" ] && credentials+=(-ts "$timestamp")

# osslsigncode failed, or died: one line.
tool_failed() {  # WHAT STATUS LOG
    local reason
    if [ "$2" -gt 128 ] && [ "$2" -lt 255 ]; then
        die "$1 failed: the tool ended by signal $(($2 - 128))"
    fi
    reason=$(grep -m1 -iE "timestamp|time stamp|failed|error|unable" "$3" | tr -d '\r' | cut -c1-200)
    die "$1 failed: ${reason:-the tool gave no reason}"
}

if [ -e "$out" ]; then created=contents; else created=folder; fi
mkdir -p "$out" || die "cannot make $out"
for arch in "${ARCHES[@]}"; do
    folder=$(release_value build "$arch")
    mkdir -p "$out/$folder" || die "cannot write to $out"
    for program in "${PROGRAMS[@]}"; do
        signed="$out/$folder/$program"
        { "$osslsigncode" sign "${credentials[@]}" -h sha256 -time "$when" \
            -in "dist/$folder/$program" -out "$signed" > "$work/osslsigncode.log" 2>&1 < /dev/null; } 2> /dev/null
        status=$?
        if [ "$status" -ne 0 ]; then
            [ -n "$timestamp" ] && grep -qiE "timestamp|time stamp|curl|connect" "$work/osslsigncode.log" &&
                die "signing $folder/$program failed: no time stamp from $timestamp"
            tool_failed "signing $folder/$program" "$status" "$work/osslsigncode.log"
        fi
        step "" "$work/extract.log" scripts/pe_signature.py extract "$signed" "$signed.sig"
    done
    step "the signed zip of $arch" "$work/zip.log" scripts/release_zip.py signed \
        "dist/$(release_value unsigned-zip "$arch")" "$out/$folder" "$out/$(release_value zip "$arch")"
done
step "the build provenance" "$work/provenance.log" scripts/provenance.py write "$out"
step "cannot write $out/SHA256SUMS" "$work/sums.log" scripts/release_zip.py sums "$out"
created=""
echo "signed ${#PROGRAMS[@]} programs for ${ARCHES[*]} into $out (signing time $when)"
