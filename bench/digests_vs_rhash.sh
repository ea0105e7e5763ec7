#!/usr/bin/env bash
# Times the digests of a 1 GiB data set, in one run: filarix64 -c -5 -s
# against rhash --crc32 --md5 --sha1, and the single digests against
# md5sum and sha1sum; prints the ratios.
#   bench/digests_vs_rhash.sh [MIB]     (default 1024)
set -euo pipefail
# Every tool runs with the same zone and locale, so that none pays for
# re-reading the zone file.
export TZ=UTC LC_ALL=C
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
mib=${1:-1024}
runs=${RUNS:-3}
corpus_tool="$root/../shared/bench/make-corpus"

if ! command -v rhash >/dev/null; then
    sudo=""
    [ "$(id -u)" = 0 ] || sudo="sudo"
    $sudo apt-get update -qq && $sudo apt-get install -y -qq rhash >/dev/null
fi

cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" --target filarix64 >/dev/null
bin="$root/build/filarix64"

data="$here/corpus-data-$mib"
if [ ! -f "$data/.complete" ]; then
    echo "building $mib MiB of data in $data ..." >&2
    rm -rf "$data"
    python3 "$corpus_tool" data "$data" "$mib"
    touch "$data/.complete"
fi
cat "$data"/*.bin >/dev/null  # every tool reads from the page cache

best_time() {
    local best="" t
    for _ in $(seq "$runs"); do
        local start end
        start=$(date +%s.%N)
        "$@" >/dev/null 2>&1 || true
        end=$(date +%s.%N)
        t=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
        if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$t; fi
    done
    echo "$best"
}

f_all=$(best_time "$bin" "$data" -c -5 -s)
r_all=$(best_time rhash --crc32 --md5 --sha1 -r "$data")
f_md5=$(best_time "$bin" "$data" -5)
md5=$(best_time md5sum "$data"/*.bin)
f_sha=$(best_time "$bin" "$data" -s)
sha=$(best_time sha1sum "$data"/*.bin)
f_crc=$(best_time "$bin" "$data" -c)

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
echo "data: $mib MiB"
echo "CRC-32+MD5+SHA-1: filarix64 ${f_all}s, rhash ${r_all}s, ratio $(ratio "$f_all" "$r_all") (target <= 0.90)"
echo "MD5:              filarix64 ${f_md5}s, md5sum ${md5}s, ratio $(ratio "$f_md5" "$md5")"
echo "SHA-1:            filarix64 ${f_sha}s, sha1sum ${sha}s, ratio $(ratio "$f_sha" "$sha") (target < 1)"
echo "CRC-32:           filarix64 ${f_crc}s"
