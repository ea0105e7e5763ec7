#!/usr/bin/env bash
# Times the digests in one run, wall and CPU time (user + system) of each
# tool, best of RUNS by wall time:
#   - 1 GiB of data in 64 files of 16 MiB: filarix64 -c -5 -s against
#     rhash --crc32 --md5 --sha1 and hashdeep -c md5,sha1 (its default
#     threads); the single digests against md5sum, sha1sum and sha256sum;
#   - the same 1 GiB as one file: the three digests against rhash;
#   - a tree of 100,000 small files: the same three digests against rhash
#     and hashdeep, and the peak memory of the default and of
#     FILARIX_DIGEST_THREADS=1, whose listings must be byte for byte the
#     same.
# Every tool runs with TZ=UTC LC_ALL=C. Prints the ratios.
#   bench/digests_vs_rhash.sh [MIB] [FILES]     (default 1024 and 100000)
set -euo pipefail
# Every tool runs with the same zone and locale, so that none pays for
# re-reading the zone file.
export TZ=UTC LC_ALL=C
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
mib=${1:-1024}
files=${2:-100000}
runs=${RUNS:-3}
corpus_tool="$root/../shared/bench/make-corpus"

missing=()
command -v rhash >/dev/null || missing+=(rhash)
command -v hashdeep >/dev/null || missing+=(hashdeep)
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" = 0 ] || sudo="sudo"
    $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

. "$here/bench_lib.sh"
bin=$(filarix_binary)

data="$here/corpus-data-$mib"
if [ ! -f "$data/.complete" ]; then
    echo "building $mib MiB of data in $data ..." >&2
    rm -rf "$data"
    python3 "$corpus_tool" data "$data" "$mib"
    touch "$data/.complete"
fi
tree="$here/corpus-tree-$files"
if [ ! -f "$tree/.complete" ]; then
    echo "building a tree of $files files in $tree ..." >&2
    rm -rf "$tree"
    python3 "$corpus_tool" tree "$tree" "$files"
    touch "$tree/.complete"
fi
one="$here/corpus-one-$mib"
if [ ! -f "$one/.complete" ]; then
    rm -rf "$one"
    mkdir -p "$one"
    cat "$data"/*.bin >"$one/all.bin"
    touch "$one/.complete"
fi
# Every tool reads from the page cache.
cat "$data"/*.bin "$one/all.bin" >/dev/null
find "$tree" -type f -exec cat {} + >/dev/null

# "wall cpu" of the best run by wall time.
best_time() {
    local best="" best_cpu="" line wall cpu
    local TIMEFORMAT='%R %U %S'
    for _ in $(seq "$runs"); do
        line=$({ time env TZ=UTC LC_ALL=C "$@" >/dev/null 2>&1; } 2>&1 | tail -1) || true
        wall=$(awk '{ print $1 }' <<<"$line")
        cpu=$(awk '{ printf "%.3f", $2 + $3 }' <<<"$line")
        if [ -z "$best" ] || awk -v a="$wall" -v b="$best" 'BEGIN { exit !(a < b) }'; then
            best=$wall
            best_cpu=$cpu
        fi
    done
    echo "$best $best_cpu"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
wall() { echo "${1% *}"; }
cpu() { echo "${1#* }"; }
show() {  # label, our "wall cpu", peer name, peer "wall cpu", target
    printf '%-28s filarix64 %6ss (cpu %6ss)  %-9s %6ss (cpu %6ss)  ratio %s %s\n' "$1" \
        "$(wall "$2")" "$(cpu "$2")" "$3" "$(wall "$4")" "$(cpu "$4")" \
        "$(ratio "$(wall "$2")" "$(wall "$4")")" "$5"
}

f_all=$(best_time "$bin" "$data" -c -5 -s)
r_all=$(best_time rhash --crc32 --md5 --sha1 -r "$data")
h_all=$(best_time hashdeep -c md5,sha1 -r "$data")
f_md5=$(best_time "$bin" "$data" -5)
md5=$(best_time sh -c 'md5sum "$0"/*.bin' "$data")
f_sha=$(best_time "$bin" "$data" -s)
sha=$(best_time sh -c 'sha1sum "$0"/*.bin' "$data")
f_sha2=$(best_time "$bin" "$data" --SHA2)
sha2=$(best_time sh -c 'sha256sum "$0"/*.bin' "$data")
f_one=$(best_time env FILARIX_DIGEST_THREADS=1 "$bin" "$data" -c -5 -s)

o_all=$(best_time "$bin" "$one" -c -5 -s)
ro_all=$(best_time rhash --crc32 --md5 --sha1 -r "$one")

t_all=$(best_time "$bin" "$tree" -c -5 -s)
tr_all=$(best_time rhash --crc32 --md5 --sha1 -r "$tree")
th_all=$(best_time hashdeep -c md5,sha1 -r "$tree")

# The same listing on one thread and on two, and the peak memory of each.
listing=$(mktemp)
listing_two=$(mktemp)
/usr/bin/time -f %M -o "$listing_two.peak" "$bin" "$tree" -c -5 -s --CSV -o "$listing" >/dev/null 2>&1 || true
mv "$listing" "$listing_two"
FILARIX_DIGEST_THREADS=1 /usr/bin/time -f %M -o "$listing.peak" "$bin" "$tree" -c -5 -s --CSV \
    -o "$listing" >/dev/null 2>&1 || true
peak_two=$(tail -1 "$listing_two.peak")
peak_one=$(tail -1 "$listing.peak")
if cmp -s <(sed '/Drive Freespace\|Elapsed/d' "$listing") \
    <(sed '/Drive Freespace\|Elapsed/d' "$listing_two"); then
    same="byte for byte the same"
else
    same="DIFFERENT"
fi
rm -f "$listing" "$listing_two" "$listing.peak" "$listing_two.peak"

echo "data: $mib MiB; tree: $files files; $(nproc) cores; best of $runs by wall time"
show "CRC-32+MD5+SHA-1, 64 files" "$f_all" rhash "$r_all" "(target <= 0.45)"
show "CRC-32+MD5+SHA-1, 64 files" "$f_all" hashdeep "$h_all" "(target <= 0.70)"
show "CRC-32+MD5+SHA-1, one file" "$o_all" rhash "$ro_all" "(target <= 0.55)"
show "CRC-32+MD5+SHA-1, 1 thread" "$f_one" rhash "$r_all" ""
show "MD5" "$f_md5" md5sum "$md5" ""
show "SHA-1" "$f_sha" sha1sum "$sha" ""
show "SHA-256" "$f_sha2" sha256sum "$sha2" "(target <= 0.60)"
show "tree CRC-32+MD5+SHA-1" "$t_all" rhash "$tr_all" "(target <= 0.50)"
show "tree CRC-32+MD5+SHA-1" "$t_all" hashdeep "$th_all" "(target <= 1.00)"
echo "tree listing, CSV: peak $peak_two KiB on two threads, $peak_one KiB on one; $same"
