#!/usr/bin/env bash
# Checks a changed tree against a baseline with filarix64 --DIFF, with
# `aide --check` and with hashdeep's audit, side by side. Makes a tree of
# FILES small files (default 100,000, 0-4 KB, three levels) under /tmp,
# writes each tool's SHA-256 baseline, then adds, removes and rewrites
# (same size) a hundred files each and moves one to another directory, and
# prints per tool the best wall time of the check, its CPU time, its peak
# resident memory, its system calls per file (strace -c -f), the ratios,
# and the changed paths each found (for a move, both paths) and whether
# the three sets are the same. The tree is deleted afterwards.
#   bench/compare_vs_aide.sh [FILES]
#   RUNS=5 ...               runs of each check (default 3; the best counts)
#   FILARIX=path/filarix64   a binary already built
# aide and hashdeep are installed from Debian when missing. Every tool
# runs with TZ=UTC and LC_ALL=C, cache warm.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
files=${1:-100000}
runs=${RUNS:-3}
changes=100

. "$here/bench_lib.sh"
install_missing aide hashdeep
require_tools aide hashdeep /usr/bin/time strace python3
bench_setup aide
tree="$work/tree"

echo "making $files files under $tree ..." >&2
python3 - "$tree" "$files" <<'EOF'
import os, random, sys
root, files = sys.argv[1], int(sys.argv[2])
rnd = random.Random(4219)
n = d = 0
while n < files:
    path = os.path.join(root, "d%02d" % (d // 100), "s%02d" % (d // 10 % 10), "t%d" % (d % 10))
    os.makedirs(path)
    for i in range(min(50, files - n)):
        with open(os.path.join(path, "file%02d.dat" % i), "wb") as f:
            f.write(rnd.randbytes(rnd.randint(0, 4096)))
        n += 1
    d += 1
EOF

# The baselines, each tool's own way, SHA-256 only.
cat >"$work/aide.conf" <<EOF
database_in=file:$work/aide.db
database_out=file:$work/aide.db.new
gzip_dbout=no
report_url=stdout
Sha256 = sha256+ftype
$tree Sha256
EOF
aide --init --config="$work/aide.conf" >/dev/null 2>&1
mv "$work/aide.db.new" "$work/aide.db"
hashdeep -c sha256 -r "$tree" >"$work/base.hashdeep"
"$bin" "$tree" --SHA2 --CSV -o "$work/base.csv" >/dev/null 2>&1

# The changes: new files, files gone, files rewritten in place with the
# same size, and one file moved to another directory. Files changed or
# removed are never empty: every empty file has the same digest.
python3 - "$tree" "$changes" <<'EOF'
import os, random, sys
root, changes = sys.argv[1], int(sys.argv[2])
rnd = random.Random(77)
names = sorted(os.path.join(d, f) for d, _, fs in os.walk(root) for f in fs)
full = [p for p in names if os.path.getsize(p) > 0]
picked = rnd.sample(full, 2 * changes + 1)
for p in picked[:changes]:
    os.remove(p)
for p in picked[changes:2 * changes]:
    size = os.path.getsize(p)
    with open(p, "r+b") as f:
        f.write(rnd.randbytes(size))
moved = picked[-1]
dirs = sorted({os.path.dirname(p) for p in names} - {os.path.dirname(moved)})
os.rename(moved, os.path.join(dirs[0], "moved-" + os.path.basename(moved)))
for i in range(changes):
    with open(os.path.join(rnd.choice(dirs), "new%03d.dat" % i), "wb") as f:
        f.write(rnd.randbytes(rnd.randint(1, 4096)))
EOF

aide_check=(aide --check --config="$work/aide.conf")
hashdeep_check=(hashdeep -c sha256 -a -k "$work/base.hashdeep" -r "$tree")
ours_check=("$bin" "$tree" --SHA2 --CSV --DIFF="$work/base.csv" --CHANGED -o "$work/diff.csv")

read -r at ac am < <(measure "${aide_check[@]}")
read -r ht hc hm < <(measure "${hashdeep_check[@]}")
read -r ot oc om < <(measure "${ours_check[@]}")
as=$(syscall_total "${aide_check[@]}")
hs=$(syscall_total "${hashdeep_check[@]}")
os_=$(syscall_total "${ours_check[@]}")

# What each found: its own classes, and the set of paths concerned.
"${aide_check[@]}" >"$work/aide.out" 2>&1
hashdeep -c sha256 -a -vv -k "$work/base.hashdeep" -r "$tree" >"$work/hashdeep.out" 2>&1
"${ours_check[@]}" >/dev/null 2>&1
found=$(python3 - "$work" <<'EOF'
import csv, re, sys
work = sys.argv[1]
aide = {"added": set(), "removed": set(), "changed": set()}
section = None
for line in open(work + "/aide.out", errors="replace"):
    m = re.match(r"^(Added|Removed|Changed) entries:$", line.strip())
    if m:
        section = m.group(1).lower()
        continue
    m = re.match(r"^f[^:]*: (/.*)$", line.rstrip("\n"))
    if m and section:
        aide[section].add(m.group(1))
hd = {"no match": set(), "moved": set(), "known file not used": set()}
for line in open(work + "/hashdeep.out", errors="replace"):
    line = line.rstrip("\n")
    m = re.match(r"^(/.*): (No match|Known file not used)$", line)
    if m:
        hd[m.group(2).lower()].add(m.group(1))
    m = re.match(r"^(/.*): Moved from (/.*)$", line)
    if m:
        hd["moved"].update(m.groups())
ours = {}
with open(work + "/diff.csv", newline="") as f:
    for row in csv.DictReader(f):
        ours.setdefault(row["change"], set()).add(row["path"])
        if row["moved_from"]:
            ours[row["change"]].add(row["moved_from"])
sets = [set().union(*t.values()) for t in (aide, hd, ours)]
def counts(t):
    return ", ".join("%d %s" % (len(v), k) for k, v in sorted(t.items()))
print("  aide     %5d paths: %s" % (len(sets[0]), counts(aide)))
print("  hashdeep %5d paths: %s (moves count both paths)" % (len(sets[1]), counts(hd)))
print("  filarix  %5d paths: %s (moves count both paths)" % (len(sets[2]), counts(ours)))
print("  same changed paths: %s" % ("yes" if sets[0] == sets[1] == sets[2] else "NO"))
EOF
)

awk -v files="$files" -v runs="$runs" -v at="$at" -v am="$am" -v ht="$ht" -v hm="$hm" \
    -v ot="$ot" -v om="$om" -v ac="$ac" -v hc="$hc" -v oc="$oc" -v as="$as" -v hs="$hs" \
    -v os="$os_" 'BEGIN {
    printf "TZ=UTC LC_ALL=C, best of %d runs, warm cache; %d files, SHA-256\n", runs, files
    printf "  aide --check      %6.2f s wall %6.2f s CPU  peak %7d KiB  syscalls/file %6.2f\n",
           at, ac, am, as / files
    printf "  hashdeep -a       %6.2f s wall %6.2f s CPU  peak %7d KiB  syscalls/file %6.2f\n",
           ht, hc, hm, hs / files
    printf "  filarix64 --DIFF  %6.2f s wall %6.2f s CPU  peak %7d KiB  syscalls/file %6.2f\n",
           ot, oc, om, os / files
    printf "  ours/aide     wall %5.2f  CPU %5.2f  memory %5.2f\n", (at > 0 ? ot / at : 0),
           (ac > 0 ? oc / ac : 0), (am > 0 ? om / am : 0)
    printf "  ours/hashdeep wall %5.2f  CPU %5.2f  memory %5.2f\n", (ht > 0 ? ot / ht : 0),
           (hc > 0 ? oc / hc : 0), (hm > 0 ? om / hm : 0) }'
echo "$found"
