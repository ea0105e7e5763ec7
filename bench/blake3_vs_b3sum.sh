#!/usr/bin/env bash
# Times BLAKE3 of one file, warm cache: filarix64 --BLAKE3 alone, its
# listing to /dev/null (its large reads hashed on both cores, and on one
# thread), against b3sum with its default threads, best of RUNS by wall
# time, every tool with TZ=UTC LC_ALL=C; prints the ratios (goal: at most
# 1.0), the peak memory and the system calls of each. First checks that
# both print the same digits for the tree's edge lengths.
#   bench/blake3_vs_b3sum.sh [MIB]     (default 1024)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
mib=${1:-1024}
runs=${RUNS:-3}

. "$here/bench_lib.sh"
install_missing b3sum strace python3
require_tools b3sum strace python3
bench_setup blake3

# The test-vector input (byte i is i mod 251) at the lengths where the
# tree changes shape: each length's digits from both tools.
mismatches=0
lengths=0
for n in 0 1 63 64 65 1023 1024 1025 2048 2049 3072 3073 4096 4097 5120 6144 7168 8192 \
    8193 16384 16385 17408 31744 33793 102400 1048583; do
    file="$work/edge-$n"
    python3 -c "import sys; sys.stdout.buffer.write(bytes(i % 251 for i in range($n)))" >"$file"
    ours=$({ "$bin" "$file" --BLAKE3 --JSONL -o stdout 2>/dev/null || true; } |
        grep -o '"blake3":"[0-9A-F]*"' | cut -d'"' -f4 | tr A-F a-f)
    theirs=$(b3sum --no-names "$file")
    lengths=$((lengths + 1))
    if [ "$ours" != "$theirs" ]; then
        echo "length $n: filarix64 '$ours', b3sum '$theirs'" >&2
        mismatches=$((mismatches + 1))
    fi
done
[ "$mismatches" = 0 ] || { echo "$mismatches lengths differ" >&2; exit 1; }
echo "edge lengths: the digests agree at all $lengths"

data=$(random_data "corpus-blake3-$mib" "$mib")

ours=$({ "$bin" "$data" --BLAKE3 --JSONL -o stdout 2>/dev/null || true; } |
    grep -o '"blake3":"[0-9A-F]*"' | cut -d'"' -f4 | tr A-F a-f)
theirs=$(b3sum --no-names "$data")
if [ "$ours" != "$theirs" ]; then
    echo "digests differ: filarix64 '$ours', b3sum '$theirs'" >&2
    exit 1
fi

# Side by side, in turn, so that the machine's load falls on all alike.
read -r b_wall b_cpu b_peak <<<"$(measure b3sum "$data")"
read -r f_wall f_cpu f_peak <<<"$(measure "$bin" "$data" --BLAKE3 -o /dev/null)"
read -r o_wall o_cpu o_peak <<<"$(measure env FILARIX_DIGEST_THREADS=1 "$bin" "$data" --BLAKE3 -o /dev/null)"
b_calls=$(syscall_total b3sum "$data")
f_calls=$(syscall_total "$bin" "$data" --BLAKE3 -o /dev/null)
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

echo "data: $mib MiB, $(nproc) cores, best of $runs by wall time; digests agree ($ours)"
echo "load: $(uptime | sed 's/.*load average/load average/')"
printf '%-32s %6ss (cpu %6ss, peak %7s KiB, %s system calls)\n' "b3sum" "$b_wall" "$b_cpu" \
    "$b_peak" "$b_calls"
printf '%-32s %6ss (cpu %6ss, peak %7s KiB, %s system calls)  ratio %s (target <= 1.00)\n' \
    "filarix64 --BLAKE3" "$f_wall" "$f_cpu" "$f_peak" "$f_calls" "$(ratio "$f_wall" "$b_wall")"
printf '%-32s %6ss (cpu %6ss, peak %7s KiB)  ratio %s\n' "filarix64 --BLAKE3, 1 thread" \
    "$o_wall" "$o_cpu" "$o_peak" "$(ratio "$o_wall" "$b_wall")"
