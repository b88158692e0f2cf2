#!/bin/bash
# The fleet report over a large collection, built natively in Release (no sanitizers):
#
#   bench/run_report_bench.sh [HOSTS]      (default 100000; files go to build/bench/report-HOSTS)
#
# report_bench makes the tree once (HOSTS folders with the Relocator.log of a typical run, about
# 8 KB on disk each) and times the report's core over it in-process; then relocator-report
# itself runs over the same tree with every output asked for, under /usr/bin/time -v for its wall
# time and peak memory. The tree is read warm from the page cache, as a second run over a
# collection would be.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
hosts=${1:-100000}
build=$root/build/bench-native
work=$root/build/bench/report-$hosts
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target report_bench relocator-report >/dev/null
mkdir -p "$work"
"$build/bench/report_bench" "$work" "$hosts" >/dev/null  # makes the tree, warms the cache
"$build/bench/report_bench" "$work" "$hosts"
echo
echo "relocator-report $work/logs --csv --json --html (table to /dev/null):"
status=0
/usr/bin/time -v "$build/src/report/relocator-report" "$work/logs" --csv "$work/out/cli.csv" \
  --json "$work/out/cli.json" --html "$work/out/cli.html" >/dev/null 2>"$work/time.txt" || status=$?
grep -E "Elapsed|Maximum resident|User time|System time" "$work/time.txt"
echo "exit code $status (1: hosts need attention, as the mix has them)"
[ "${KEEP:-0}" = 1 ] || rm -rf "$work/out"
