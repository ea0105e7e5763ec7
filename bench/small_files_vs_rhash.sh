#!/usr/bin/env bash
# Digests of many small files: filarix64 -c -5 -s against
# rhash --crc32 --md5 --sha1 -r over the same tree, run in turn RUNS times
# in one script run, so that both meet the same load. Prints for each run
# the wall, user and system time of each tool and the wall ratio, then the
# system calls per file of each (every thread), the load average, and
# whether the listing is byte for byte that of one digest thread.
#   bench/small_files_vs_rhash.sh [FILES]          (default 100000)
#   OTHER=/path/to/filarix64 ...   times that build too, beside this one
#   TREE=/path/to/tree ...         an existing tree instead of bench/corpus-tree-FILES
set -euo pipefail
export TZ=UTC LC_ALL=C
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
files=${1:-100000}
runs=${RUNS:-5}
. "$here/bench_lib.sh"
require_tools rhash strace
bin=$(filarix_binary)

tree=${TREE:-$here/corpus-tree-$files}
if [ ! -f "$tree/.complete" ] && [ -z "${TREE:-}" ]; then
    echo "building a tree of $files files in $tree ..." >&2
    rm -rf "$tree"
    python3 "$root/../shared/bench/make-corpus" tree "$tree" "$files"
    touch "$tree/.complete"
fi
count=$(find "$tree" -type f | wc -l)
find "$tree" -type f -exec cat {} + >/dev/null

tools=("$bin")
[ -n "${OTHER:-}" ] && tools+=("$OTHER")
stats=$(mktemp)
trap 'rm -f "$stats" "$stats".*' EXIT

# "wall user sys" of one run.
timed() {
    /usr/bin/time -f "%e %U %S" -o "$stats" "$@" >/dev/null 2>&1 || true
    tail -n 1 "$stats"
}

# System calls of one run, every thread. perf counts every call, including
# those strace's summary leaves out (calls it has no name for).
# perf's status is the program's, which is 1 after a normal listing.
calls() {
    rm -f "$stats.perf"
    perf stat -x, -e raw_syscalls:sys_enter -o "$stats.perf" "$@" >/dev/null 2>&1 || true
    if grep -qs '^[0-9]*,.*raw_syscalls' "$stats.perf"; then
        awk -F, '/raw_syscalls/ { print $1 }' "$stats.perf"
    else
        syscall_total "$@"
    fi
}

echo "tree: $count files in $tree; $(nproc) cores; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for run in $(seq "$runs"); do
    line="run $run:"
    for tool in "${tools[@]}"; do
        read -r w u s <<<"$(timed "$tool" "$tree" -c -5 -s)"
        if [ "$tool" = "$bin" ]; then
            label=filarix64
            ours=$w
        else
            label=other
        fi
        line+=$(printf '  %s %ss (user %s sys %s)' "$label" "$w" "$u" "$s")
    done
    read -r w u s <<<"$(timed rhash --crc32 --md5 --sha1 -r "$tree")"
    line+=$(printf '  rhash %ss (user %s sys %s)  ratio %s' "$w" "$u" "$s" \
        "$(awk -v a="$ours" -v b="$w" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')")
    echo "$line  load $(cut -d' ' -f1 /proc/loadavg)"
done

for tool in "${tools[@]}"; do
    n=$(calls "$tool" "$tree" -c -5 -s)
    echo "system calls per file, $tool: $(awk -v n="$n" -v f="$count" 'BEGIN { printf "%.2f", n / f }')"
done
n=$(calls rhash --crc32 --md5 --sha1 -r "$tree")
echo "system calls per file, rhash: $(awk -v n="$n" -v f="$count" 'BEGIN { printf "%.2f", n / f }')"

two=$(mktemp)
one=$(mktemp)
"$bin" "$tree" -c -5 -s -o "$two" >/dev/null 2>&1 || true
FILARIX_DIGEST_THREADS=1 "$bin" "$tree" -c -5 -s -o "$one" >/dev/null 2>&1 || true
if cmp -s <(sed '/Started\|COMMAND LINE\|Drive Freespace\|Elapsed/d' "$one") \
    <(sed '/Started\|COMMAND LINE\|Drive Freespace\|Elapsed/d' "$two"); then
    echo "listing on two threads: byte for byte that of one"
else
    echo "listing on two threads: DIFFERENT from one"
fi
rm -f "$one" "$two"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
