#!/usr/bin/env bash
# Times a full digest run (CRC-32, MD5, SHA-1, CSV listing) over a tree of
# 256 MiB against a run that reuses the digests of its listing (--REUSE),
# side by side, best of RUNS by wall time, and counts the system calls per
# file of each (strace -c -f). Goal: the reuse run at most 0.2x the full one.
#   bench/reuse_vs_full.sh [FILES] [MIB_PER_FILE]     (default 256 and 1)
set -euo pipefail
export TZ=UTC LC_ALL=C
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
files=${1:-256}
mib=${2:-1}
runs=${RUNS:-3}

cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" --target filarix64 >/dev/null
bin="$root/build/filarix64"

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
# A listing that does not carry each file's full-precision times and
# identity yet gets them from lstat, as a listing that does holds them.
python3 - "$work/full.csv" "$work/listing.csv" <<'PY'
import csv, os, sys
rows = list(csv.reader(open(sys.argv[1], newline="", encoding="utf-8", errors="surrogateescape")))
if "inode" not in rows[0]:
    p = rows[0].index("path")
    rows[0] += ["modified_ns", "change_time_ns", "device", "inode"]
    for r in rows[1:]:
        s = os.lstat(r[p])
        r += [s.st_mtime_ns, s.st_ctime_ns, s.st_dev, s.st_ino]
with open(sys.argv[2], "w", newline="", encoding="utf-8", errors="surrogateescape") as out:
    csv.writer(out, lineterminator="\r\n").writerows(rows)
PY
reuse=("$bin" "$tree" -c -5 -s --CSV --REUSE="$work/listing.csv" -o "$work/again.csv")

best_time() {
    local best="" line wall
    local TIMEFORMAT='%R'
    for _ in $(seq "$runs"); do
        line=$({ time "$@" >/dev/null 2>&1; } 2>&1 | tail -1) || true
        wall=$line
        if [ -z "$best" ] || awk -v a="$wall" -v b="$best" 'BEGIN { exit !(a < b) }'; then
            best=$wall
        fi
    done
    echo "$best"
}
calls_per_file() {
    strace -c -f -o "$work/calls.txt" "$@" >/dev/null 2>&1 || true
    awk -v n="$files" '$NF == "total" { printf "%.1f", $4 / n }' "$work/calls.txt"
}

t_full=$(best_time "${full[@]}")
t_reuse=$(best_time "${reuse[@]}")
c_full=$(calls_per_file "${full[@]}")
c_reuse=$(calls_per_file "${reuse[@]}")
"${reuse[@]}" 2>"$work/summary.txt" || true
cmp -s "$work/full.csv" "$work/again.csv" && same="byte-identical" || same="DIFFERENT"

printf 'tree: %s files of %s MiB\n' "$files" "$mib"
printf 'full run     %6ss  %6s system calls per file\n' "$t_full" "$c_full"
printf 'reuse run    %6ss  %6s system calls per file\n' "$t_reuse" "$c_reuse"
printf 'ratio        %s (goal <= 0.2)\n' "$(awk -v a="$t_reuse" -v b="$t_full" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }')"
printf 'listings     %s\n' "$same"
grep "Digests reused" "$work/summary.txt" || true
