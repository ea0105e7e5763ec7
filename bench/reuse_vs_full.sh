#!/usr/bin/env bash
# Times a full digest run (CRC-32, MD5, SHA-1, CSV listing) over a tree of
# 256 MiB against a run that reuses the digests of its listing (--REUSE),
# side by side, best of RUNS by wall time, and counts the system calls per
# file of each (strace -c -f). Goal: the reuse run at most 0.2x the full one.
#   bench/reuse_vs_full.sh [FILES] [MIB_PER_FILE]     (default 256 and 1)
#   RUNS=5 ...               runs of each (default 3; the best counts)
#   FILARIX=path/filarix64   a binary already built
set -euo pipefail
export TZ=UTC LC_ALL=C
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
files=${1:-256}
mib=${2:-1}
runs=${RUNS:-3}
. "$here/bench_lib.sh"
bin=$(filarix_binary)

tree="$here/corpus-reuse-$files-$mib"
if [ ! -f "$tree/.complete" ]; then
    echo "building $files files of $mib MiB in $tree ..." >&2
    rm -rf "$tree"
    mkdir -p "$tree"
    for i in $(seq -w 1 "$files"); do
        head -c "$((mib * 1048576))" /dev/urandom >"$tree/f$i.bin"
    done
    touch "$tree/.complete"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Both runs read from the page cache.
cat "$tree"/*.bin >/dev/null

full=("$bin" "$tree" -c -5 -s --CSV -o "$work/full.csv")
"${full[@]}" 2>/dev/null || [ $? -eq 1 ]
cp "$work/full.csv" "$work/listing.csv"
reuse=("$bin" "$tree" -c -5 -s --CSV --REUSE="$work/listing.csv" -o "$work/again.csv")

read -r t_full c_full m_full < <(measure "${full[@]}")
read -r t_reuse c_reuse m_reuse < <(measure "${reuse[@]}")
s_full=$(syscall_total "${full[@]}")
s_reuse=$(syscall_total "${reuse[@]}")
"${reuse[@]}" 2>"$work/summary.txt" || true
cmp -s "$work/full.csv" "$work/again.csv" && same="byte-identical" || same="DIFFERENT"

awk -v files="$files" -v mib="$mib" -v runs="$runs" -v tf="$t_full" -v cf="$c_full" \
    -v mf="$m_full" -v sf="$s_full" -v tr="$t_reuse" -v cr="$c_reuse" -v mr="$m_reuse" \
    -v sr="$s_reuse" 'BEGIN {
    printf "TZ=UTC LC_ALL=C, best of %d runs, warm cache; %d files of %d MiB\n", runs, files, mib
    printf "  full run   %6.3f s wall %6.2f s CPU  peak %7d KiB  syscalls/file %5.1f\n",
           tf, cf, mf, sf / files
    printf "  --REUSE    %6.3f s wall %6.2f s CPU  peak %7d KiB  syscalls/file %5.1f\n",
           tr, cr, mr, sr / files
    printf "  ratio      %.3f (goal <= 0.2)\n", (tf > 0 ? tr / tf : 0) }'
echo "  listings   $same"
grep "Digests reused" "$work/summary.txt" || true
