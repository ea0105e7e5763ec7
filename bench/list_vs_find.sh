#!/usr/bin/env bash
# Lists trees with filarix64 and with find -printf and prints, per tree, the
# best wall time of each, their ratio, the system calls per file of each
# (strace -c -f) and the peak resident memory of each.
#   bench/list_vs_find.sh                 trees of 100,000 and 1,000,000 files,
#                                         2,000 levels deep, 200,000 in one directory
#   SIZES="10000 100000" bench/list_vs_find.sh   other many-file trees
#   RUNS=5 ...                            runs per tool (default 3, the best counts)
#   FILARIX=path/to/filarix64 ...         a binary already built
# Both tools run with TZ=UTC and LC_ALL=C: without TZ the C library reads
# /etc/localtime again at every local-time conversion, which slows find
# about fourfold and makes the comparison meaningless.
# Trees are built once under bench/corpus-* (make-corpus for the many-file
# trees) and kept.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
sizes=${SIZES:-100000 1000000}
runs=${RUNS:-3}
corpus_tool="$root/../shared/bench/make-corpus"
[ -x "$corpus_tool" ] || corpus_tool="python3 $root/../shared/bench/make-corpus"
for tool in /usr/bin/time strace python3; do
    command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 2; }
done

bin=${FILARIX:-}
if [ -z "$bin" ]; then
    cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$root/build" --target filarix64 >/dev/null
    bin="$root/build/filarix64"
fi
export TZ=UTC LC_ALL=C

build_once() {  # DIR COMMAND...: runs COMMAND to build DIR unless it is complete
    local dir=$1 mark
    shift
    mark="$here/corpus-marks/$(basename "$dir")"
    if [ ! -f "$mark" ]; then
        echo "building $dir ..." >&2
        rm -rf "$dir"
        "$@"
        mkdir -p "$here/corpus-marks"
        touch "$mark"
    fi
}

deep_tree() {  # 2,000 levels, one file in each, made relative to the level above
    python3 - "$1" <<'EOF'
import os, sys
os.makedirs(sys.argv[1])
fd = os.open(sys.argv[1], os.O_RDONLY)
for level in range(2000):
    os.mkdir("level", dir_fd=fd)
    sub = os.open("level", os.O_RDONLY, dir_fd=fd)
    os.close(fd)
    fd = sub
    os.close(os.open("file%d.txt" % level, os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd))
os.close(fd)
EOF
}

wide_tree() {  # 200,000 files in one directory
    python3 - "$1" <<'EOF'
import os, sys
os.makedirs(sys.argv[1])
for i in range(200000):
    with open(os.path.join(sys.argv[1], "file%06d.dat" % i), "wb") as f:
        f.write(b"x" * (i % 300))
EOF
}

# Best wall time of several runs and the peak resident size (KiB).
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

# All system calls of one run (every thread), from strace's summary.
syscalls() {
    local summary
    summary=$(mktemp)
    strace -c -f -o "$summary" "$@" >/dev/null 2>/dev/null || true
    awk '$NF == "total" { print $(NF-2) ~ /^[0-9]+$/ ? $(NF-2) : $(NF-1) }' "$summary" |
        tail -n 1
    rm -f "$summary"
}

compare() {  # NAME TREE
    local name=$1 tree=$2 files ft fm gt gm fs gs listed
    files=$(find "$tree" -type f | wc -l)
    # Warm the cache so both tools read the same metadata from memory.
    "$bin" "$tree" >/dev/null 2>&1 || true
    listed=$("$bin" "$tree" 2>&1 >/dev/null | sed -n 's/^  [0-9,]* director[a-z]*, \([0-9,]*\) files.*/\1/p' | tr -d ,)
    read -r ft fm < <(measure "$bin" "$tree")
    read -r gt gm < <(measure find "$tree" -type f -printf '%p %s %TY-%Tm-%Td %TH:%TM\n')
    fs=$(syscalls "$bin" "$tree")
    gs=$(syscalls find "$tree" -type f -printf '%p %s %TY-%Tm-%Td %TH:%TM\n')
    awk -v n="$name" -v files="$files" -v listed="$listed" -v ft="$ft" -v gt="$gt" \
        -v fm="$fm" -v gm="$gm" -v fs="$fs" -v gs="$gs" 'BEGIN {
        printf "%-22s %9d files (%d listed)  filarix64 %6.2f s  find %6.2f s  ratio %5.2f\n",
               n, files, listed, ft, gt, (gt > 0 ? ft / gt : 0)
        printf "%-22s syscalls/file: filarix64 %.2f  find %.2f   peak: filarix64 %d KiB  find %d KiB\n",
               "", fs / files, gs / files, fm, gm }'
}

echo "TZ=$TZ LC_ALL=$LC_ALL, best of $runs runs, warm cache"
for n in $sizes; do
    build_once "$here/corpus-tree-$n" $corpus_tool tree "$here/corpus-tree-$n" "$n"
    compare "tree of $n" "$here/corpus-tree-$n"
done
build_once "$here/corpus-deep-2000" deep_tree "$here/corpus-deep-2000"
compare "2,000 levels deep" "$here/corpus-deep-2000"
build_once "$here/corpus-wide-200000" wide_tree "$here/corpus-wide-200000"
compare "200,000 in one dir" "$here/corpus-wide-200000"
