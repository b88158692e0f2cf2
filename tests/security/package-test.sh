#!/bin/bash
# The release package holds exactly what ships, and its SHA256SUMS checks out.
#   package-test.sh BIN_DIR WORKDIR
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
bin=$1 work=$2
rm -rf "$work"
mkdir -p "$work"
"$root/scripts/package.sh" "$work/package.zip" "$bin" >/dev/null || {
  echo "FAIL: package.sh failed"
  exit 1
}
expected="Relocator.exe
SHA256SUMS
docs/deploying.md
docs/exit-codes.md
docs/log-lines.md
docs/security.md
relocator-check.exe
relocator-report.exe"
listed=$(unzip -Z1 "$work/package.zip" | LC_ALL=C sort)
status=0
if [ "$listed" != "$(LC_ALL=C sort <<<"$expected")" ]; then
  echo "FAIL: the package holds:"
  echo "$listed"
  status=1
fi
mkdir -p "$work/unpacked"
(cd "$work/unpacked" && unzip -q ../package.zip && sha256sum --quiet -c SHA256SUMS) || {
  echo "FAIL: SHA256SUMS does not check out"
  status=1
}
[ $status = 0 ] && echo "package: $(wc -l <<<"$listed") files, sums check out"
exit $status
