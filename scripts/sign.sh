#!/bin/bash
# Gives Windows programs an Authenticode signature with a SHA-256 digest, in place, with Debian's
# osslsigncode. The certificate and key are the caller's and never stored in the project.
#
#   scripts/sign.sh --cert CERT --key KEY [--pass FILE] [--timestamp URL] PROGRAM...
#   scripts/sign.sh --pkcs12 FILE [--pass FILE] [--timestamp URL] PROGRAM...
#
# CERT: the signing certificate (and its chain), PEM or DER; KEY: its private key; --pass: a
# file holding the key's password; --timestamp: an RFC 3161 time-stamp server, so the signature
# stays valid after the certificate expires. A program is replaced only by a signed copy that
# osslsigncode wrote completely.
set -eu
cert="" key="" pkcs12="" pass="" timestamp=""
usage() {
  sed -n '5,6p' "$0" | sed 's/^#   /usage: /' >&2
  exit 2
}
while [ $# -gt 0 ]; do
  case $1 in
    --cert) cert=${2:?}; shift 2 ;;
    --key) key=${2:?}; shift 2 ;;
    --pkcs12) pkcs12=${2:?}; shift 2 ;;
    --pass) pass=${2:?}; shift 2 ;;
    --timestamp) timestamp=${2:?}; shift 2 ;;
    --) shift; break ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || usage
if [ -n "$pkcs12" ]; then
  [ -z "$cert$key" ] || usage
  credentials=(-pkcs12 "$pkcs12")
else
  [ -n "$cert" ] && [ -n "$key" ] || usage
  credentials=(-certs "$cert" -key "$key")
fi
[ -z "$pass" ] || credentials+=(-readpass "$pass")
[ -z "$timestamp" ] || credentials+=(-ts "$timestamp")
command -v osslsigncode >/dev/null || {
  echo "sign.sh: osslsigncode is missing (apt-get install osslsigncode)" >&2
  exit 1
}

for program in "$@"; do
  signed=$program.signing
  rm -f "$signed"
  if ! osslsigncode sign "${credentials[@]}" -h sha256 -n "$(basename "$program" .exe)" \
    -in "$program" -out "$signed" >/dev/null; then
    rm -f "$signed"
    echo "sign.sh: could not sign $program" >&2
    exit 1
  fi
  mv -f "$signed" "$program"
  echo "signed $program"
done
