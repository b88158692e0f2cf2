#!/bin/bash
# The release signing step with a throwaway self-signed certificate: the signed program verifies
# with a SHA-256 digest, and the same program changed by one byte does not.
#   sign-test.sh PROGRAM WORKDIR
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
program=$(realpath "$1") work=$2
rm -rf "$work"
mkdir -p "$work"
cd "$work"
failures=0
check() {
  if "$@"; then echo "ok: $desc"; else echo "FAIL: $desc"; failures=$((failures + 1)); fi
}
verify() { osslsigncode verify -CAfile cert.pem -in "$1" >"$1.verify" 2>&1; }

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Relocator throwaway test signer" \
  -addext "extendedKeyUsage=codeSigning" -keyout key.pem -out cert.pem 2>/dev/null || {
  echo "FAIL: openssl could not make the test certificate"
  exit 1
}
# A build signed for release is taken back to its unsigned form first.
osslsigncode remove-signature -in "$program" -out unsigned.exe >/dev/null 2>&1 ||
  cp "$program" unsigned.exe || exit 1
cp unsigned.exe Relocator.exe

desc="an unsigned program does not verify"
check eval '! verify unsigned.exe'
desc="sign.sh signs the program in place"
check "$root/scripts/sign.sh" --cert cert.pem --key key.pem Relocator.exe
desc="the signed program verifies against the certificate"
check verify Relocator.exe
desc="its digest is SHA-256"
check grep -qi "digest algorithm *: *sha256" Relocator.exe.verify

# One byte in the middle of the code changed: the digest no longer matches.
cp Relocator.exe tampered.exe
offset=$(($(stat -c %s unsigned.exe) / 2))  # inside the code section
byte=$(od -An -tu1 -j "$offset" -N1 tampered.exe | tr -d ' ')
printf "$(printf '\\%03o' $(((byte + 1) % 256)))" |
  dd of=tampered.exe bs=1 seek="$offset" conv=notrunc status=none
desc="the tampered copy differs from the signed one in one byte"
check test "$(cmp -l Relocator.exe tampered.exe | wc -l)" = 1
desc="the tampered copy does not verify"
check eval '! verify tampered.exe'

desc="a wrong key is refused and leaves the program untouched"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Other" -keyout other.pem \
  -out other-cert.pem 2>/dev/null
cp unsigned.exe mismatch.exe
check eval '! "$root/scripts/sign.sh" --cert cert.pem --key other.pem mismatch.exe 2>/dev/null && cmp -s unsigned.exe mismatch.exe && [ ! -e mismatch.exe.signing ]'

echo "$((7 - failures)) passed, $failures failed"
[ $failures = 0 ]
