#!/bin/bash
# Builds everything and runs every test: the portable core natively under ASan/UBSan (with the
# fuzz seeds replayed), then the Windows build on throwaway Wine prefixes.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)
cmake --preset native >/dev/null
cmake --build --preset native -j"$jobs"
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$jobs"
status=0
ctest --preset native -j"$jobs" || status=1
ctest --preset windows || status=1
exit $status
