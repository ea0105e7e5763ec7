#!/usr/bin/env bash
# Lists trees with filarix64 (one walk thread, and the default of two) and
# with find -printf and prints, per tree, the best wall time of each, the
# ratios, the system calls per file of each and the peak resident memory
# of each.
#   bench/list_vs_find.sh                 trees of 100,000 and 1,000,000 files,
#                                         2,000 levels deep, 200,000 in one directory
#   SIZES="10000 100000" bench/list_vs_find.sh   other many-file trees
#   RUNS=5 ...                            runs per tool (default 3, the best counts)
#   FILARIX=path/to/filarix64 ...         a binary already built
#   CORPUS=/tmp/somewhere ...             where the trees are built (default bench/)
# Both tools run with TZ=UTC and LC_ALL=C: without TZ the C library reads
# /etc/localtime again at every local-time conversion, which slows find
# about fourfold and makes the comparison meaningless.
# System calls are counted from strace -f's trace, one per call: strace -c
# leaves out calls it has no name for (listxattrat on older strace).
# Trees are built once under $CORPUS/corpus-* (make-corpus for the
# many-file trees) and kept; a 1,000,000-file tree takes a few GB.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
sizes=${SIZES:-100000 1000000}
runs=${RUNS:-3}
corpus=${CORPUS:-$here}
corpus_tool="$root/../shared/bench/make-corpus"
[ -x "$corpus_tool" ] || corpus_tool="python3 $root/../shared/bench/make-corpus"
. "$here/bench_lib.sh"
require_tools /usr/bin/time strace python3
bin=$(filarix_binary)
export TZ=UTC LC_ALL=C

build_once() {  # DIR COMMAND...: runs COMMAND to build DIR unless it is complete
    local dir=$1 mark
    shift
    mark="$corpus/corpus-marks/$(basename "$dir")"
    if [ ! -f "$mark" ]; then
        echo "building $dir ..." >&2
        rm -rf "$dir"
        "$@"
        mkdir -p "$corpus/corpus-marks"
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

# All system calls of one run (every thread), one trace line per call; a
# call whose trace another thread's call split in two is counted once.
syscalls() {
    strace -f -qq -o >(grep -vc 'resumed>') "$@" >/dev/null 2>/dev/null
}

compare() {  # NAME TREE
    local name=$1 tree=$2 files listed t1 m1 t2 m2 gt gm s1 s2 gs
    local -a find_cmd=(find "$tree" -type f -printf '%p %s %TY-%Tm-%Td %TH:%TM\n')
    files=$(find "$tree" -type f | wc -l)
    # Warm the cache so every tool reads the same metadata from memory.
    "$bin" "$tree" >/dev/null 2>&1 || true
    "${find_cmd[@]}" >/dev/null
    listed=$("$bin" "$tree" 2>&1 >/dev/null | sed -n 's/^  [0-9,]* director[a-z]*, \([0-9,]*\) files.*/\1/p' | tr -d ,)
    read -r t1 _ m1 < <(FILARIX_WALK_THREADS=1 measure "$bin" "$tree")
    read -r t2 _ m2 < <(measure "$bin" "$tree")
    read -r gt _ gm < <(measure "${find_cmd[@]}")
    s1=$(syscalls env FILARIX_WALK_THREADS=1 "$bin" "$tree")
    s2=$(syscalls "$bin" "$tree")
    gs=$(syscalls "${find_cmd[@]}")
    awk -v n="$name" -v files="$files" -v listed="$listed" -v t1="$t1" -v t2="$t2" -v gt="$gt" \
        -v m1="$m1" -v m2="$m2" -v gm="$gm" -v s1="$s1" -v s2="$s2" -v gs="$gs" 'BEGIN {
        printf "%-20s %8d files (%d listed)  find %6.2f s\n", n, files, listed, gt
        printf "  one thread  %6.2f s  ratio %5.2f  syscalls/file %5.2f  peak %7d KiB\n",
               t1, (gt > 0 ? t1 / gt : 0), s1 / files, m1
        printf "  two threads %6.2f s  ratio %5.2f  syscalls/file %5.2f  peak %7d KiB\n",
               t2, (gt > 0 ? t2 / gt : 0), s2 / files, m2
        printf "  find                             syscalls/file %5.2f  peak %7d KiB\n",
               gs / files, gm }'
}

echo "TZ=$TZ LC_ALL=$LC_ALL, best of $runs runs, warm cache, $(nproc) cores"
for n in $sizes; do
    build_once "$corpus/corpus-tree-$n" $corpus_tool tree "$corpus/corpus-tree-$n" "$n"
    compare "tree of $n" "$corpus/corpus-tree-$n"
done
build_once "$corpus/corpus-deep-2000" deep_tree "$corpus/corpus-deep-2000"
compare "2,000 levels deep" "$corpus/corpus-deep-2000"
build_once "$corpus/corpus-wide-200000" wide_tree "$corpus/corpus-wide-200000"
compare "200,000 in one dir" "$corpus/corpus-wide-200000"
