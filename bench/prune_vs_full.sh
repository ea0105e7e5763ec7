#!/usr/bin/env bash
# Times the listing of a tree of 100,000 files, nine in ten of them in one
# directory (big/), against the listing of the same tree with --PRUNE=big,
# side by side, best of RUNS by wall time, and checks that the pruned
# listing is the full one without big/. Goal: the pruned run at most 0.2x.
#   bench/prune_vs_full.sh [FILES]     (default 100000)
#   RUNS=5 ...               runs of each (default 3; the best counts)
#   FILARIX=path/filarix64   a binary already built
set -euo pipefail
export TZ=UTC LC_ALL=C
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
files=${1:-100000}
runs=${RUNS:-3}
. "$here/bench_lib.sh"
bin=$(filarix_binary)

tree="$here/corpus-prune-$files"
if [ ! -f "$tree/.complete" ]; then
    echo "building $files files in $tree ..." >&2
    rm -rf "$tree"
    big=$((files * 9 / 10))
    rest=$((files - big))
    mkdir -p "$tree/big"
    (cd "$tree/big" && seq -f "f%06g.txt" 1 "$big" | xargs touch)
    # The other tenth in 100 directories of their own.
    for d in $(seq -w 1 100); do mkdir -p "$tree/small/d$d"; done
    seq 1 "$rest" | awk -v t="$tree" '{ printf "%s/small/d%03d/f%06d.txt\n", t, $1 % 100 + 1, $1 }' |
        xargs touch
    touch "$tree/.complete"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

full=("$bin" "$tree" -V -o "$work/full.txt")
pruned=("$bin" "$tree" -V --PRUNE=big -o "$work/pruned.txt")
"${full[@]}" >/dev/null 2>&1 || [ $? -eq 1 ]  # warms the cache

read -r t_full c_full m_full < <(measure "${full[@]}")
read -r t_pruned c_pruned m_pruned < <(measure "${pruned[@]}")
"${pruned[@]}" >/dev/null 2>"$work/summary.txt" || true
# The listings' records (their summaries differ in the counts and the time).
grep -v '/big/' "$work/full.txt" | grep "^$tree/" >"$work/full-rest.txt" || true
grep "^$tree/" "$work/pruned.txt" >"$work/pruned-rest.txt" || true
cmp -s "$work/full-rest.txt" "$work/pruned-rest.txt" && same="the full one without big/" ||
    same="DIFFERENT"

awk -v files="$files" -v runs="$runs" -v tf="$t_full" -v cf="$c_full" -v mf="$m_full" \
    -v tp="$t_pruned" -v cp="$c_pruned" -v mp="$m_pruned" 'BEGIN {
    printf "TZ=UTC LC_ALL=C, best of %d runs, warm cache; %d files, 90%% in one directory\n",
           runs, files
    printf "  full listing  %6.3f s wall %6.2f s CPU  peak %7d KiB\n", tf, cf, mf
    printf "  --PRUNE=big   %6.3f s wall %6.2f s CPU  peak %7d KiB\n", tp, cp, mp
    printf "  ratio         %.3f (goal <= 0.2)\n", (tf > 0 ? tp / tf : 0) }'
echo "  pruned listing: $same ($(wc -l <"$work/pruned-rest.txt") records)"
grep "directories pruned" "$work/summary.txt" || true
