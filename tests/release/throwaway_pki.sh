#!/usr/bin/env bash
# A throwaway CA and an RSA code-signing certificate it issued, made anew in
# DIR for one test run; no key of it is ever committed.
#   ca.pem, ca.key           the CA (no code signing)
#   leaf.pem, leaf.key       the code-signing certificate and its key
#   leaf-encrypted.key       the same key under the password in password
#   chain.pem                leaf.pem then ca.pem (second-chain.pem: second.pem then ca.pem)
#   leaf.p12                 key and chain under the password in password
#   second.pem, second.key   another code-signing certificate of the same CA
#   tsa.pem, tsa.key         a time-stamping certificate of the CA
#   attacker-*               an attacker's own CA, with a code-signing
#                            certificate (attacker.pem, .key, .p12, chain)
#                            and a time-stamping one (attacker-tsa.pem, .key)
# Usage: tests/release/throwaway_pki.sh DIR
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"
printf 'throwaway-%s\n' "$RANDOM$RANDOM" > password

authority() {  # NAME
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 30 \
        -subj "/CN=korvel throwaway $1" -addext "keyUsage=critical,keyCertSign,cRLSign" 2> /dev/null
}

issue() {  # NAME CA EXTENDED-KEY-USAGE
    openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=korvel throwaway $1" 2> /dev/null
    printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" "extendedKeyUsage=$3" > "$1.ext"
    openssl x509 -req -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" -CAcreateserial -out "$1.pem" -days 30 \
        -extfile "$1.ext" 2> /dev/null
}

authority ca
issue leaf ca codeSigning
issue second ca codeSigning
issue tsa ca critical,timeStamping
cat leaf.pem ca.pem > chain.pem
cat second.pem ca.pem > second-chain.pem
openssl pkey -in leaf.key -aes256 -passout file:password -out leaf-encrypted.key
openssl pkcs12 -export -inkey leaf.key -in leaf.pem -certfile ca.pem -passout file:password -out leaf.p12

authority attacker-ca
issue attacker attacker-ca codeSigning
issue attacker-tsa attacker-ca critical,timeStamping
cat attacker.pem attacker-ca.pem > attacker-chain.pem
