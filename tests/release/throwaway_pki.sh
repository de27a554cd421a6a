#!/usr/bin/env bash
# A throwaway CA and an RSA code-signing certificate it issued, made anew in
# DIR for one test run; no key of it is ever committed.
#   ca.pem, ca.key           the CA (no code signing)
#   leaf.pem, leaf.key       the code-signing certificate and its key
#   leaf-encrypted.key       the same key under the password in password
#   chain.pem                leaf.pem then ca.pem
#   leaf.p12                 key and chain under the password in password
# Usage: tests/release/throwaway_pki.sh DIR
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"
printf 'throwaway-%s\n' "$RANDOM$RANDOM" > password
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 30 \
    -subj "/CN=korvel throwaway test CA" -addext "keyUsage=critical,keyCertSign,cRLSign" 2> /dev/null
openssl req -newkey rsa:2048 -nodes -keyout leaf.key -out leaf.csr -subj "/CN=korvel throwaway code signing" \
    2> /dev/null
printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" "extendedKeyUsage=codeSigning" \
    > leaf.ext
openssl x509 -req -in leaf.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out leaf.pem -days 30 -extfile leaf.ext \
    2> /dev/null
cat leaf.pem ca.pem > chain.pem
openssl pkey -in leaf.key -aes256 -passout file:password -out leaf-encrypted.key
openssl pkcs12 -export -inkey leaf.key -in leaf.pem -certfile ca.pem -passout file:password -out leaf.p12
