#!/bin/bash
# The test certificates of the build, made with openssl in DIR (never
# committed; made afresh when missing or within 30 days of their end):
#
#   root.pem             "Vantorima test root", a CA that the test and demo
#                        Wine prefixes trust (tools/wine-session.sh)
#   cert.pem, key.pem    the test code-signing certificate, issued by the
#                        root: it signs the stand-in installer and, for
#                        make package, the module and the CAB
#   chain.pem            cert.pem then root.pem, as a signature carries them
#   cert.sha1            cert.pem's SHA-1 thumbprint, 40 hex digits
#   other.pem, other.key a second code-signing certificate of the root, of
#                        another publisher (chain: other-chain.pem)
#   twin.pem, twin.key   a code-signing certificate with cert.pem's subject,
#                        issued by another CA of the root ("Vantorima test
#                        issuing CA"): the same name from another issuer
#                        (chain: twin-chain.pem)
#   tls.pem, tls.key     a server certificate for https://localhost, issued
#                        by the root
#   stranger.pem, .key   a self-signed certificate that nothing trusts, good
#                        for code signing and for https://localhost alike
#   link-key.pem         the test P-256 key that signs links (vantorima-link
#                        sign --private); never packaged
#   link-pub.pem         its public key, the default of VANTORIMA_LINK_KEYS
#
#   tools/test-certs.sh DIR
set -euo pipefail
dir=$(realpath -m "${1:?usage: $0 DIR}")

valid() {  # every file there, and the certificates good for 30 more days
  local f
  for f in root.pem cert.pem key.pem chain.pem cert.sha1 tls.pem tls.key stranger.pem stranger.key other.pem \
    other.key other-chain.pem twin.pem twin.key twin-chain.pem link-key.pem link-pub.pem; do
    [ -s "$dir/$f" ] || return 1
  done
  for f in root.pem cert.pem tls.pem stranger.pem other.pem twin.pem; do
    openssl x509 -in "$dir/$f" -noout -checkend $((30 * 86400)) >/dev/null 2>&1 || return 1
  done
}
valid && exit 0

echo "test-certs: making the test certificates in $dir"
mkdir -p "$(dirname "$dir")"
work=$(mktemp -d "$dir.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
umask 077
days=3650
subject="/O=Quorsel (test)"
# issue NAME SUBJECT EXTENSIONS...: a key and a certificate issued by the root
# (or by the CA named in $issuer).
issuer=root
issue() {
  local name=$1 subj=$2
  shift 2
  openssl req -new -newkey rsa:2048 -nodes -subj "$subj" -keyout "$name.key" -out "$name.csr" 2>/dev/null
  printf '%s\n' "$@" >"$name.ext"
  openssl x509 -req -in "$name.csr" -CA $issuer.pem -CAkey $issuer.key -set_serial "0x$(openssl rand -hex 8)" \
    -days $days -sha256 -extfile "$name.ext" -out "$name.pem" 2>/dev/null
}

openssl req -x509 -newkey rsa:2048 -sha256 -nodes -days $days -subj "/CN=Vantorima test root$subject" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -keyout root.key -out root.pem 2>/dev/null
issue cert "/CN=Vantorima test code signing$subject" \
  "basicConstraints=critical,CA:FALSE" "keyUsage=critical,digitalSignature" "extendedKeyUsage=codeSigning"
mv cert.key key.pem
cat cert.pem root.pem >chain.pem
issue other "/CN=Vantorima other publisher$subject" \
  "basicConstraints=critical,CA:FALSE" "keyUsage=critical,digitalSignature" "extendedKeyUsage=codeSigning"
cat other.pem root.pem >other-chain.pem
issue ca "/CN=Vantorima test issuing CA$subject" \
  "basicConstraints=critical,CA:TRUE,pathlen:0" "keyUsage=critical,keyCertSign,cRLSign"
issuer=ca issue twin "/CN=Vantorima test code signing$subject" \
  "basicConstraints=critical,CA:FALSE" "keyUsage=critical,digitalSignature" "extendedKeyUsage=codeSigning"
cat twin.pem ca.pem root.pem >twin-chain.pem
openssl x509 -in cert.pem -noout -fingerprint -sha1 | sed 's/.*=//; s/://g' >cert.sha1
issue tls "/CN=localhost$subject" \
  "basicConstraints=critical,CA:FALSE" "keyUsage=critical,digitalSignature,keyEncipherment" \
  "extendedKeyUsage=serverAuth" "subjectAltName=DNS:localhost"
openssl req -x509 -newkey rsa:2048 -sha256 -nodes -days $days -subj "/CN=Vantorima stranger$subject" \
  -addext "basicConstraints=critical,CA:FALSE" -addext "keyUsage=critical,digitalSignature,keyEncipherment" \
  -addext "extendedKeyUsage=codeSigning,serverAuth" -addext "subjectAltName=DNS:localhost" \
  -keyout stranger.key -out stranger.pem 2>/dev/null
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out link-key.pem 2>/dev/null
openssl pkey -in link-key.pem -pubout -out link-pub.pem 2>/dev/null
# Certificates are public; the keys stay the owner's.
chmod 644 root.pem cert.pem chain.pem cert.sha1 tls.pem stranger.pem other.pem other-chain.pem twin.pem \
  twin-chain.pem link-pub.pem
rm -f ./*.csr ./*.ext root.key ca.key ca.pem

# All or nothing: the files of one run belong together.
rm -rf "$dir"
mv "$work" "$dir"
chmod 755 "$dir"
trap - EXIT
