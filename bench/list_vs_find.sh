#!/usr/bin/env bash
# Lists one tree with filarix64 and with find -printf, in one run, and
# prints the time ratio and the peak memory of each.
#   bench/list_vs_find.sh [FILES]      (default 200,000 files)
# The tree is built once with ../shared/bench/make-corpus and kept under
# bench/corpus-tree-FILES; a tenth-size tree shows whether memory grows with
# the tree.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
files=${1:-200000}
runs=${RUNS:-5}
corpus_tool="$root/../shared/bench/make-corpus"
[ -x "$corpus_tool" ] || corpus_tool="python3 $root/../shared/bench/make-corpus"
command -v /usr/bin/time >/dev/null || { echo "needs /usr/bin/time (apt-get install time)" >&2; exit 2; }

cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" --target filarix64 >/dev/null
bin="$root/build/filarix64"

make_tree() {
    local dir=$1 count=$2
    if [ ! -f "$dir/.complete" ]; then
        echo "building a tree of $count files in $dir ..." >&2
        rm -rf "$dir"
        $corpus_tool tree "$dir" "$count"
        touch "$dir/.complete"
    fi
}

# Best wall time of several runs, and the peak resident size (KiB).
measure() {
    local best="" peak=0 out t m stats
    stats=$(mktemp)
    for _ in $(seq "$runs"); do
        /usr/bin/time -f "%e %M" -o "$stats" "$@" >/dev/null 2>/dev/null || true
        out=$(tail -n 1 "$stats")
        t=${out% *}
        m=${out#* }
        if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN{exit !(a<b)}'; then best=$t; fi
        [ "$m" -gt "$peak" ] && peak=$m
    done
    rm -f "$stats"
    echo "$best $peak"
}

big="$here/corpus-tree-$files"
small="$here/corpus-tree-$((files / 10))"
make_tree "$big" "$files"
make_tree "$small" $((files / 10))

# Warm the cache so both tools read the same metadata from memory.
find "$big" -type f >/dev/null
"$bin" "$big" 2>/dev/null || true

read -r ft fm < <(measure "$bin" "$big")
read -r gt gm < <(measure find "$big" -type f -printf '%p %s %TY-%Tm-%Td %TH:%TM\n')
read -r _ sm < <(measure "$bin" "$small")
records=$("$bin" "$big" 2>&1 >/dev/null | grep -c ' A\.\.\.\.\.\. ' || true)

echo "tree: $files files ($records records listed)"
printf 'filarix64: %6.2f s   peak %7d KiB\n' "$ft" "$fm"
printf 'find:      %6.2f s   peak %7d KiB\n' "$gt" "$gm"
awk -v a="$ft" -v b="$gt" 'BEGIN { printf "time ratio filarix64/find: %.2f (target <= 1.20)\n", (b > 0 ? a / b : 0) }'
printf 'peak memory: %d KiB on %d files, %d KiB on %d files\n' "$fm" "$files" "$sm" $((files / 10))
