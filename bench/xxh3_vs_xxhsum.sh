#!/usr/bin/env bash
# Times XXH3-128 of one file, warm cache: filarix64 --XXH3 (its digests
# shared over two threads, and on one) against xxhsum -H2, best of RUNS by
# wall time, every tool with TZ=UTC LC_ALL=C. Checks that both print the
# same digits and prints the ratios (goal: at most 1.0).
#   bench/xxh3_vs_xxhsum.sh [MIB]     (default 1024)
set -euo pipefail
export TZ=UTC LC_ALL=C
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
mib=${1:-1024}
runs=${RUNS:-5}

if ! command -v xxhsum >/dev/null; then
    sudo=""
    [ "$(id -u)" = 0 ] || sudo="sudo"
    $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq xxhash >/dev/null
fi

. "$here/bench_lib.sh"
bin=$(filarix_binary)

data=$(random_data "corpus-xxh3-$mib" "$mib")

# A run that listed files ends with status 1.
ours=$({ "$bin" "$data" --XXH3 --JSONL -o stdout 2>/dev/null || true; } |
    grep -o '"xxh3":"[0-9A-F]*"' | cut -d'"' -f4)
theirs=$(xxhsum -H2 "$data" | cut -d' ' -f1 | tr a-f A-F)
if [ "$ours" != "$theirs" ]; then
    echo "digests differ: filarix64 '$ours', xxhsum '$theirs'" >&2
    exit 1
fi

read -r f_wall f_cpu _ <<<"$(measure "$bin" "$data" --XXH3)"
read -r o_wall o_cpu _ <<<"$(measure env FILARIX_DIGEST_THREADS=1 "$bin" "$data" --XXH3)"
read -r x_wall x_cpu _ <<<"$(measure xxhsum -H2 "$data")"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

echo "data: $mib MiB, $(nproc) cores, best of $runs by wall time; digests agree ($ours)"
printf '%-28s %6ss (cpu %6ss)\n' "xxhsum -H2" "$x_wall" "$x_cpu"
printf '%-28s %6ss (cpu %6ss)  ratio %s (target <= 1.00)\n' "filarix64 --XXH3" "$f_wall" "$f_cpu" \
    "$(ratio "$f_wall" "$x_wall")"
printf '%-28s %6ss (cpu %6ss)  ratio %s\n' "filarix64 --XXH3, 1 thread" "$o_wall" "$o_cpu" \
    "$(ratio "$o_wall" "$x_wall")"
