#!/bin/bash
# Rehearses the tool's main job on a simulated host in a throwaway Wine prefix: shows the
# services and files before, runs Relocator.exe, shows the log and the host afterwards.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$(nproc)" >/dev/null
prefix=$PWD/build/windows/wine/demo
tests/wine/make-prefix.sh "$prefix" win64
WINEPREFIX=$prefix RELOCATOR_BIN=$PWD/build/windows/bin tests/wine/run.sh build/windows/bin/relocator_demo.exe
tests/wine/stop-prefix.sh "$prefix"
