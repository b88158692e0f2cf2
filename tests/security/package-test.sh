#!/bin/bash
# The release package holds exactly what ships, its SHA256SUMS checks out, the sum beside the
# ZIP checks the ZIP itself, and every relative link in its documents resolves inside it.
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
expected="README.md
Relocator.exe
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
(cd "$work" && sha256sum --quiet -c package.zip.sha256) || {
  echo "FAIL: package.zip.sha256 does not check the ZIP"
  status=1
}
# Every relative link of every document, resolved from the document's folder.
links=0
while IFS= read -r doc; do
  dir=$(dirname "$work/unpacked/$doc")
  while IFS= read -r target; do
    target=${target%%#*}
    [ -z "$target" ] && continue
    links=$((links + 1))
    resolved=$(realpath -m "$dir/$target")
    case "$resolved" in
      "$work/unpacked"/*) [ -e "$resolved" ] || { echo "FAIL: $doc links to missing $target"; status=1; } ;;
      *) echo "FAIL: $doc links outside the package: $target"; status=1 ;;
    esac
  done < <(grep -o '](\([^)]*\))' "$work/unpacked/$doc" | sed 's/^](//; s/)$//' | grep -v '^[a-z]*:')
done < <(cd "$work/unpacked" && find . -name '*.md' | sed 's|^\./||')
[ "$links" -gt 5 ] || { echo "FAIL: only $links links found"; status=1; }
[ $status = 0 ] && echo "package: $(wc -l <<<"$listed") files, sums check out, $links links resolve"
exit $status
