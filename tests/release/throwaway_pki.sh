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
#   token/                   a SoftHSM2 token "signer" (its configuration:
#                            SOFTHSM2_CONF=DIR/token/softhsm2.conf) whose key
#                            "release" was made inside it, its PIN in token/pin
#   token-leaf.pem           the CA's code-signing certificate of that key,
#                            issued through a CSR the token signed;
#                            token-chain.pem: it, then ca.pem
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

# The token. Its set-up tools take the PINs on their command lines: a throwaway token's, never a signer's.
module=/usr/lib/softhsm/libsofthsm2.so
mkdir -p token/store
printf '%s\n' "directories.tokendir = $PWD/token/store" "objectstore.backend = file" "log.level = ERROR" \
    > token/softhsm2.conf
export SOFTHSM2_CONF=$PWD/token/softhsm2.conf
pin=$RANDOM$RANDOM
printf '%s\n' "$pin" > token/pin
softhsm2-util --init-token --free --label signer --pin "$pin" --so-pin "$RANDOM$RANDOM" > /dev/null
pkcs11-tool --module "$module" --token-label signer --login --pin "$pin" --keypairgen --key-type rsa:2048 \
    --label release --id 01 > /dev/null 2>&1
PKCS11_MODULE_PATH=$module openssl req -new -engine pkcs11 -keyform engine -passin file:token/pin \
    -key "pkcs11:token=signer;object=release;type=private" -subj "/CN=korvel throwaway token leaf" \
    -out token-leaf.csr 2> /dev/null
printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" "extendedKeyUsage=codeSigning" \
    > token-leaf.ext
openssl x509 -req -in token-leaf.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out token-leaf.pem -days 30 \
    -extfile token-leaf.ext 2> /dev/null
cat token-leaf.pem ca.pem > token-chain.pem
