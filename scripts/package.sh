#!/bin/bash
# Makes the release ZIP: only what ships (the three programs, a short README, the
# administrators' guides and SHA256SUMS over them), with the programs signed when a certificate
# is named; and beside it OUT.zip.sha256, the sum of the ZIP itself in sha256sum's format.
#
#   scripts/package.sh OUT.zip BIN_DIR [SIGN.SH OPTIONS...]
#
# BIN_DIR: the Windows build's bin folder. SIGN.SH OPTIONS: as for scripts/sign.sh (--cert,
# --key, --pkcs12, --pass, --timestamp); a program already signed at build time is signed once,
# anew.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "$1") bin=$2
shift 2
programs="Relocator.exe relocator-check.exe relocator-report.exe"
guides="deploying.md exit-codes.md log-lines.md security.md"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/docs"
for p in $programs; do
  cp "$bin/$p" "$stage/$p"
done
for g in $guides; do
  cp "$root/docs/$g" "$stage/docs/$g"
done
# The guides link to the README: the package has one of its own.
cp "$root/docs/package-readme.md" "$stage/README.md"
if [ $# -gt 0 ]; then
  for p in $programs; do
    if osslsigncode remove-signature -in "$stage/$p" -out "$stage/$p.unsigned" >/dev/null 2>&1; then
      mv "$stage/$p.unsigned" "$stage/$p"
    fi
    "$root/scripts/sign.sh" "$@" "$stage/$p"
  done
fi
files="$programs README.md $(for g in $guides; do printf 'docs/%s ' "$g"; done)"
(cd "$stage" && sha256sum $files >SHA256SUMS)
# Fixed times and order: the same build gives the same archive.
(cd "$stage" && touch -d @0 $files SHA256SUMS docs && rm -f "$out" && zip -q -X -D "$out" $files SHA256SUMS)
# The sum of the archive itself: SHA256SUMS inside proves only the unpacking.
(cd "$(dirname "$out")" && sha256sum "$(basename "$out")" >"$(basename "$out").sha256")
echo "$out"
