#!/usr/bin/env bash
# Counts the instructions the program executes per listed record, under
# callgrind, for one or more builds side by side: the measure a refactor of
# the record writer must not make worse. Wall time on a shared two-core
# machine varies by more than the change being judged; instruction counts
# do not.
#   bench/instructions_per_record.sh BINARY [BINARY...]
#   FILES=20000 ...        files in the tree (default 20,000, in 100 directories)
#   CORPUS=/tmp/x ...      where the tree is built (default bench/), kept between runs
# Each option set is run once per binary with TZ=UTC and LC_ALL=C; the
# figure is callgrind's total Ir over the run divided by the files listed,
# so start-up is spread over the tree.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
[ $# -ge 1 ] || { echo "usage: $0 BINARY [BINARY...]" >&2; exit 2; }
command -v valgrind >/dev/null || { echo "needs valgrind (apt-get install valgrind)" >&2; exit 2; }
files=${FILES:-20000}
corpus=${CORPUS:-$here}/corpus-ir-$files
export TZ=UTC LC_ALL=C

if [ ! -f "$corpus/.complete" ]; then
    rm -rf "$corpus"
    python3 - "$corpus" "$files" <<'PY'
import os, sys
root, n = sys.argv[1], int(sys.argv[2])
for i in range(n):
    d = os.path.join(root, "d%03d" % (i % 100))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "file %05d.txt" % i), "wb") as f:
        f.write(bytes((i * 7 + k) & 0xFF for k in range(i % 700)))
PY
    touch "$corpus/.complete"
fi

option_sets=(
    ""
    "-Ad -tw -8"
    "-c -5 --SHA"
    "--CSV -5"
    "--JSONL --SHA2"
)
bins=()
for bin in "$@"; do bins+=("$(realpath "$bin")"); done
printf '%-22s' "options"
for bin in "${bins[@]}"; do printf ' %16s' "$(basename "$(dirname "$bin")")/$(basename "$bin")"; done
echo
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for opts in "${option_sets[@]}"; do
    printf '%-22s' "$opts"
    for bin in "${bins[@]}"; do
        rm -f "$out/cg"
        # shellcheck disable=SC2086
        (cd "$out" && valgrind --tool=callgrind --callgrind-out-file="$out/cg" \
            "$bin" "$corpus" $opts -o "$out/list.txt" >/dev/null 2>"$out/err") || true
        ir=$(sed -n 's/^summary: //p' "$out/cg" 2>/dev/null)
        if [ -n "$ir" ]; then printf ' %16s' "$((ir / files))"; else printf ' %16s' failed; fi
    done
    echo
done
echo "(instructions per file listed; lower is better)"
