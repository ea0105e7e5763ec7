#!/usr/bin/env bash
# Times --DUPES against jdupes and rdfind on one generated tree: 6,000 files
# of 4-200 KB (FILES), half of them in duplicate groups of two and of three
# or more, with files of one size and other contents and files that differ
# from a group's only in the last byte. Prints the best wall time, the CPU
# time and the peak memory of each, the ratios ours/jdupes and ours/rdfind,
# the system calls per file, and whether our groups are jdupes' groups (as
# sets of paths), with --DUPES also on one thread (FILARIX_DIGEST_THREADS=1)
# and the load average before and after. Installs jdupes and rdfind when
# missing.
#   bench/dupes_vs_jdupes.sh [FILES]
#   RUNS=5 ...               runs of each (default 3; the best time counts)
#   SCALE=1000000 ...        also the peak memory of --DUPES over that many
#                            small files (none by default)
#   FILARIX=path/filarix64   a binary already built
# Runs with TZ=UTC and LC_ALL=C, cache warm (each tool runs once before it
# is timed).
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
files=${1:-6000}
runs=${RUNS:-3}
scale=${SCALE:-0}

. "$here/bench_lib.sh"
install_missing jdupes rdfind strace
require_tools /usr/bin/time python3 jdupes rdfind strace
bench_setup dupes
tree="$work/tree"

echo "making $files files under $tree ..." >&2
python3 - "$tree" "$files" <<'EOF'
import os, random, sys
root, files = sys.argv[1], int(sys.argv[2])
rng = random.Random(25)
def size(): return rng.randint(4 * 1024, 200 * 1024)
contents = []  # one per file, as it is written
half = files // 2
# Half the files in groups: of two, and of three to five.
while len(contents) < half:
    copies = 2 if rng.random() < 0.7 else rng.randint(3, 5)
    data = rng.randbytes(size())
    contents += [data] * copies
del contents[half:]
originals = list(contents)
# The other half unique: pairs of one size with other contents, files that
# differ from a group's only in the last byte, and the rest of sizes at random.
while len(contents) < files:
    kind = rng.random()
    if kind < 0.1:
        base = bytearray(rng.choice(originals))
        base[-1] ^= 0xFF
        contents.append(bytes(base))
    elif kind < 0.3:
        n = size()
        contents += [rng.randbytes(n), rng.randbytes(n)]
    else:
        contents.append(rng.randbytes(size()))
del contents[files:]
rng.shuffle(contents)
for i, data in enumerate(contents):
    d = os.path.join(root, "d%02d" % (i % 50), "s%d" % (i % 7))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "f%05d.bin" % i), "wb") as f:
        f.write(data)
EOF

ours=(--DUPES --CSV -o "$work/ours.csv")
"$bin" "$tree" "${ours[@]}" >/dev/null 2>&1
jdupes -r -q "$tree" >"$work/jdupes.txt" 2>/dev/null
(cd "$work" && rdfind -dryrun true -outputname "$work/rdfind.txt" "$tree" >/dev/null 2>&1)

load_before=$(uptime)
read -r ot oc om < <(measure "$bin" "$tree" "${ours[@]}")
read -r t1 c1 m1 < <(FILARIX_DIGEST_THREADS=1 measure "$bin" "$tree" "${ours[@]}")
read -r jt jc jm < <(measure jdupes -r -q "$tree")
read -r rt rc rm_ < <(measure rdfind -dryrun true -outputname "$work/rdfind.txt" "$tree")
load_after=$(uptime)
os=$(syscall_total "$bin" "$tree" "${ours[@]}")
js=$(syscall_total jdupes -r -q "$tree")
rs=$(syscall_total rdfind -dryrun true -outputname "$work/rdfind.txt" "$tree")

same=$(python3 - "$work/ours.csv" "$work/jdupes.txt" <<'EOF'
import csv, os, sys
groups = {}
with open(sys.argv[1], newline="", encoding="utf-8", errors="surrogateescape") as f:
    for r in csv.DictReader(f):
        groups.setdefault(r["dupe_group"], set()).add(r["path"])
ours = {frozenset(g) for g in groups.values()}
blocks = open(sys.argv[2], "rb").read().split(b"\n\n")
theirs = {frozenset(os.fsdecode(n) for n in b.split(b"\n") if n) for b in blocks if b.strip()}
print("yes" if ours == theirs else "NO", len(ours), len(theirs))
EOF
)
read -r equal ng jg <<<"$same"

awk -v files="$files" -v runs="$runs" -v ot="$ot" -v oc="$oc" -v om="$om" -v jt="$jt" \
    -v t1="$t1" -v c1="$c1" -v m1="$m1" \
    -v jc="$jc" -v jm="$jm" -v rt="$rt" -v rc="$rc" -v rm_="$rm_" -v os="$os" -v js="$js" \
    -v rs="$rs" -v equal="$equal" -v ng="$ng" -v jg="$jg" 'BEGIN {
    printf "TZ=UTC LC_ALL=C, best of %d runs, warm cache; %d files\n", runs, files
    printf "  filarix64 --DUPES      %6.2f s wall %6.2f s CPU  peak %7d KiB  %6.1f syscalls/file\n", ot, oc, om, os / files
    printf "  the same, one thread   %6.2f s wall %6.2f s CPU  peak %7d KiB\n", t1, c1, m1
    printf "  jdupes -r -q           %6.2f s wall %6.2f s CPU  peak %7d KiB  %6.1f syscalls/file\n", jt, jc, jm, js / files
    printf "  rdfind -dryrun true    %6.2f s wall %6.2f s CPU  peak %7d KiB  %6.1f syscalls/file\n", rt, rc, rm_, rs / files
    printf "  ours/jdupes            %6.2f wall   %6.2f CPU   (goal <= 0.8 wall)\n", (jt > 0 ? ot / jt : 0), (jc > 0 ? oc / jc : 0)
    printf "  ours/rdfind            %6.2f wall   %6.2f CPU   (goal <= 0.8 wall)\n", (rt > 0 ? ot / rt : 0), (rc > 0 ? oc / rc : 0)
    printf "  groups equal to jdupes: %s (%d ours, %d jdupes)\n", equal, ng, jg }'
echo "  load before:${load_before#*load}"
echo "  load after: ${load_after#*load}"

[ "$scale" -gt 0 ] || exit 0
# Small files of few sizes: every one shares its size with very many
# others, so each is collected, kept and digested; one in a hundred is a
# copy of the one before.
big="$work/scale"
echo "making $scale files under $big ..." >&2
make_tree "$big" "$scale" 'b"%d\n" % (n - 1 if n % 100 == 99 else n)'
runs=1
read -r st sc sm < <(measure "$bin" "$big" --DUPES --CSV -o "$work/scale.csv")
groups=$(($(wc -l <"$work/scale.csv") - 1))
awk -v n="$scale" -v st="$st" -v sc="$sc" -v sm="$sm" -v rows="$groups" 'BEGIN {
    printf "  --DUPES over %d small files: %.2f s wall %.2f s CPU  peak %d KiB (%.1f MB; goal < 150 MB), %d rows\n", n, st, sc, sm, sm / 1024, rows }'
