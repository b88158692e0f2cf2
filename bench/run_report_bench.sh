#!/bin/bash
# The fleet report over a large collection, built as the README documents it: the release
# preset (-O2, no sanitizers), build/release/src/report/relocator-report.
#
#   bench/run_report_bench.sh [HOSTS]      (default 100000; files go to build/bench/report-HOSTS)
#   RUNS=N bench/run_report_bench.sh ...   (runs of relocator-report, default 3)
#
# report_bench makes the tree once (HOSTS folders with the Relocator.log of a typical run, about
# 8 KB on disk each) and times the report's core over it in-process; then relocator-report
# itself runs RUNS times over the same tree with every output asked for (CSV, JSON, HTML and
# the table), under /usr/bin/time for its wall time, processor time and peak memory. The tree is
# read warm from the page cache, as a second run over a collection would be.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
hosts=${1:-100000}
runs=${RUNS:-3}
build=$root/build/release
work=$root/build/bench/report-$hosts
(cd "$root" && cmake --preset release >/dev/null &&
  cmake --build --preset release --target report_bench relocator-report >/dev/null)
report=$build/src/report/relocator-report
mkdir -p "$work/out"
"$build/bench/report_bench" "$work" "$hosts" >/dev/null  # makes the tree, warms the cache
"$build/bench/report_bench" "$work" "$hosts"
echo
echo "$report over $hosts hosts, --csv --json --html and the table (to /dev/null), $runs runs:"
status=0
for run in $(seq "$runs"); do
  status=0
  /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$report" "$work/logs" \
    --csv "$work/out/cli.csv" --json "$work/out/cli.json" --html "$work/out/cli.html" \
    >/dev/null 2>"$work/stderr.txt" || status=$?
  # time says first when the command's exit code was not 0; the figures are its last line.
  tail -n 1 "$work/time.txt" | awk -v run="$run" \
    '{ printf "  run %d: %.2f s wall, %.2f s user, %.2f s system, %.1f MiB peak\n",
       run, $1, $2, $3, $4 / 1024 }' | tee -a "$work/runs.txt"
done
awk '{ w = $3 + 0; if (best == "" || w < best) best = w; if (w > worst) worst = w }
     END { printf "best %.2f s, worst %.2f s of wall time\n", best, worst }' "$work/runs.txt"
rm -f "$work/runs.txt"
echo "exit code $status (1: hosts need attention, as the mix has them)"
[ "${KEEP:-0}" = 1 ] || rm -rf "$work/out"
