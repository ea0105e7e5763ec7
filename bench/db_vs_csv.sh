#!/usr/bin/env bash
# Times the database of --DB against the CSV listing: makes a tree of FILES
# small files (default 100,000), writes it with --CSV into a file and with
# --CSV --DB into a new SQLite database (the listing to /dev/null), one run
# of each in turn; prints the best wall time, its CPU time and the peak
# memory of each, their ratio (goal: at most 1.5) and the load average;
# then makes a tree of SIZE_FILES empty files (default 1,000,000; 0 skips
# it) and prints the size of its database with the default indexes (goal:
# at most 400 MB). The trees are deleted afterwards.
#   bench/db_vs_csv.sh [FILES] [SIZE_FILES]
#   RUNS=5 ...               runs of each (default 3; the best time counts)
#   FILARIX=path/filarix64   a binary already built
#   THREADS=1 ...            also the CPU time of each thread of one --DB run
#                            (perf samples at 10 kHz; the writer is the thread
#                            in SQLite's VDBE)
# Runs with TZ=UTC and LC_ALL=C, cache warm.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
files=${1:-100000}
size_files=${2:-1000000}
runs=${RUNS:-3}
. "$here/bench_lib.sh"
require_tools /usr/bin/time python3
bench_setup db

# Each run starts from no file, as a first run would.
fresh() {
    rm -f "$work"/out.*
    exec "$@"
}
export -f fresh
export work

echo "making $files files ..." >&2
make_tree "$work/tree" "$files" 'b"x" * (n % 101)'
# One run of each in turn, so that both see the same load; the best counts.
better() { [ -z "$2" ] || awk -v a="$1" -v b="$2" 'BEGIN{exit !(a<b)}'; }
ct="" dt="" cm=0 dm=0
for _ in $(seq "$runs"); do
    read -r t c m < <(runs=1 measure bash -c 'fresh "$@"' _ "$bin" "$work/tree" --CSV \
        -o "$work/out.csv")
    better "$t" "$ct" && { ct=$t; cc=$c; }
    [ "$m" -gt "$cm" ] && cm=$m
    read -r t c m < <(runs=1 measure bash -c 'fresh "$@"' _ "$bin" "$work/tree" --CSV \
        --DB="$work/out.sqlite" -o /dev/null)
    better "$t" "$dt" && { dt=$t; dc=$c; }
    [ "$m" -gt "$dm" ] && dm=$m
done
rows=$(sqlite3 "$work/out.sqlite" "select count(*) from entries" 2>/dev/null || echo "?")
load=$(uptime | sed 's/.*load average: //')
awk -v rows="$rows" -v load="$load" -v ct="$ct" -v cc="$cc" -v cm="$cm" -v dt="$dt" -v dc="$dc" -v dm="$dm" \
    -v runs="$runs" 'BEGIN {
    printf "TZ=UTC LC_ALL=C, best of %d runs each in turn, warm cache; %s rows; load %s\n", runs, rows, load
    printf "  --CSV -o file          %7.2f s wall  %7.2f s CPU  peak %8d KiB\n", ct, cc, cm
    printf "  --CSV --DB (new file)  %7.2f s wall  %7.2f s CPU  peak %8d KiB\n", dt, dc, dm
    printf "  ratio DB/CSV           %7.2f wall    %7.2f CPU    (goal <= 1.5)\n",
           (ct > 0 ? dt / ct : 0), (cc > 0 ? dc / cc : 0) }'
if [ "${THREADS:-0}" = 1 ] && command -v perf >/dev/null; then
    rm -f "$work"/out.*
    perf record -q -F 10000 -o "$work/perf.data" -- "$bin" "$work/tree" --CSV \
        --DB="$work/out.sqlite" -o /dev/null >/dev/null 2>&1
    writer=$(perf report -i "$work/perf.data" --sort pid,sym --stdio -n 2>/dev/null |
        awk '/sqlite3VdbeExec/ { split($3, t, ":"); print t[1]; exit }')
    perf report -i "$work/perf.data" --sort pid --stdio -n 2>/dev/null | awk -v w="$writer" '
        /^ *[0-9.]+%/ { split($3, t, ":"); what = t[1] == w ? "writer" : (n++ ? "other" : "busiest")
                        printf "  thread %-8s %7.0f ms CPU\n", what, $2 / 10 }'
fi
rm -rf "$work/tree" "$work"/out.*

if [ "$size_files" -gt 0 ]; then
    echo "making $size_files empty files ..." >&2
    make_tree "$work/big" "$size_files" 'b""'
    /usr/bin/time -f "%e s wall, %M KiB peak" -o "$work/time" \
        "$bin" "$work/big" --DB="$work/big.sqlite" -o /dev/null >/dev/null 2>&1 || true
    bytes=$(stat -c %s "$work/big.sqlite")
    awk -v b="$bytes" -v n="$size_files" -v t="$(tail -n 1 "$work/time")" 'BEGIN {
        printf "  database of %d files with its indexes: %.1f MB (%.0f bytes a file; goal <= 400 MB), %s\n",
               n, b / 1e6, b / n, t }'
fi
