#!/usr/bin/env bash
# Times --DIFF at scale: makes a tree of FILES empty files (default
# 1,000,000, in 100 x 10 directories) under /tmp, writes its CSV catalogue,
# then lists the unchanged tree as plain CSV and as CSV compared with that
# catalogue, and prints the best wall time, the CPU time and the peak
# resident memory of each and their ratio. The tree is deleted afterwards.
#   bench/compare_scale.sh [FILES]
#   RUNS=5 ...               runs of each (default 3; the best time counts)
#   FILARIX=path/filarix64   a binary already built
# Runs with TZ=UTC and LC_ALL=C, cache warm.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
files=${1:-1000000}
runs=${RUNS:-3}
. "$here/bench_lib.sh"
require_tools /usr/bin/time python3
bench_setup scale
tree="$work/tree"

echo "making $files files under $tree ..." >&2
make_tree "$tree" "$files" 'b""'

"$bin" "$tree" --CSV -o "$work/base.csv" >/dev/null 2>&1
rows=$(($(wc -l <"$work/base.csv") - 1))
read -r pt pc pm < <(measure "$bin" "$tree" --CSV -o "$work/plain.csv")
read -r dt dc dm < <(measure "$bin" "$tree" --CSV --DIFF="$work/base.csv" -o "$work/diff.csv")
counts=$("$bin" "$tree" --CSV --DIFF="$work/base.csv" -o "$work/diff.csv" 2>&1 |
    sed -n 's/^ *Compared with [^:]*: //p' | tail -n 1)
awk -v rows="$rows" -v pt="$pt" -v pc="$pc" -v pm="$pm" -v dt="$dt" -v dc="$dc" -v dm="$dm" \
    -v runs="$runs" -v counts="$counts" 'BEGIN {
    printf "TZ=UTC LC_ALL=C, best of %d runs, warm cache; catalogue of %d rows\n", runs, rows
    printf "  plain CSV listing   %7.2f s wall  %7.2f s CPU  peak %8d KiB\n", pt, pc, pm
    printf "  --DIFF=catalogue    %7.2f s wall  %7.2f s CPU  peak %8d KiB\n", dt, dc, dm
    printf "  ratio --DIFF/plain  %7.2f wall    %7.2f CPU    %5.1f bytes per row held\n",
           (pt > 0 ? dt / pt : 0), (pc > 0 ? dc / pc : 0), (dm - pm) * 1024 / rows
    printf "  compared: %s\n", counts }'
