#!/usr/bin/env bash
# The listing sort against GNU sort with the same memory on one generated
# listing: time and peak memory of each, in one run.
#   bench/sort_vs_gnu.sh [RECORDS] [KEYS]      (defaults: 20000000 records, key n)
# Needs the bench build: cmake -S . -B build -DFILARIX_BENCH=ON && cmake --build build
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
records=${1:-20000000}
keys=${2:-n}
bench=${SORT_BENCH:-$here/../build/bench/sort_listing_bench}
work=${SORT_WORK:-$(mktemp -d "${TMPDIR:-/tmp}/sortbench.XXXXXX")}
export TZ=UTC LC_ALL=C
[ -x /usr/bin/time ] || { apt-get update -qq && apt-get install -y -qq time >/dev/null; }

echo "generating $records records in $work ..."
python3 "$here/make_listing.py" "$work/list.txt" "$records"
ls -l "$work/list.txt"
cp "$work/list.txt" "$work/gnu.txt"

# The keys in GNU sort's terms (default layout: path 1-54, size 56-76).
case "$keys" in
    n) gnu_keys=(-k1.1,1.54f) ;;
    s) gnu_keys=(-k1.56,1.76n -k1.1,1.54f) ;;
    *) echo "no GNU equivalent written for keys $keys" >&2; exit 2 ;;
esac

measure() {  # label, command...
    local label=$1
    shift
    /usr/bin/time -v "$@" 2>"$work/$label.time" >/dev/null || { cat "$work/$label.time"; exit 1; }
    local wall rss
    wall=$(grep 'Elapsed (wall clock)' "$work/$label.time" | awk '{print $NF}')
    rss=$(grep 'Maximum resident set size' "$work/$label.time" | awk '{print $NF}')
    printf '%-10s wall %s  peak RSS %d MB\n' "$label" "$wall" $((rss / 1024))
}

measure filarix "$bench" "$work/list.txt" 5 "$keys"
measure gnu sort -S 256M -t "$(printf '\t')" "${gnu_keys[@]}" -o "$work/gnu.sorted" "$work/gnu.txt"

# The records must agree with GNU sort's order.
head -n 5 "$work/list.txt" >/dev/null
if cmp -s <(sed -n '6,$p' "$work/list.txt" | head -n "$records") \
          <(grep -v -e '^$' -e '^Started' -e '^COMMAND' -e '^  PATH' -e ' directories, ' \
                -e '^  Elapsed' "$work/gnu.sorted"); then
    echo "same order as GNU sort"
else
    echo "ORDER DIFFERS from GNU sort"
fi
ls "$work"
[ -n "${SORT_KEEP:-}" ] || rm -rf "$work"
