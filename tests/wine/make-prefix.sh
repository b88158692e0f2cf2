#!/bin/bash
# Makes a fresh Wine prefix for one test run: make-prefix.sh DIR win64|win32
set -eu
dir=$1 arch=$2
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
WINEPREFIX=$dir wineserver -k 2>/dev/null || true
rm -rf "$dir"
mkdir -p "$(dirname "$dir")"
WINEPREFIX=$dir WINEARCH=$arch wineboot -i >/dev/null 2>&1
WINEPREFIX=$dir wineserver -w
echo "prefix $dir ($arch) ready"
