# What the benchmark scripts share: the binary under test, the timing of a
# command over several runs and its system calls, the tools they need and
# the trees they make. Sourced, not run; the script sets `root` (the
# checkout) and `runs` first.

# The binary: FILARIX when set, else the release build of this checkout.
filarix_binary() {
    if [ -n "${FILARIX:-}" ]; then
        echo "$FILARIX"
        return
    fi
    cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$root/build" --target filarix64 >/dev/null
    echo "$root/build/filarix64"
}

# "WALL CPU PEAK": the best wall time of `runs` runs, the CPU time (user +
# system) of that run and the highest peak resident size (KiB) of them all.
measure() {
    local best="" cpu="" peak=0 stats out t u s m
    stats=$(mktemp)
    for _ in $(seq "$runs"); do
        /usr/bin/time -f "%e %U %S %M" -o "$stats" "$@" >/dev/null 2>/dev/null || true
        out=$(tail -n 1 "$stats")
        read -r t u s m <<<"$out"
        if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN{exit !(a<b)}'; then
            best=$t
            cpu=$(awk -v u="$u" -v s="$s" 'BEGIN{printf "%.2f", u + s}')
        fi
        [ "$m" -gt "$peak" ] && peak=$m
    done
    rm -f "$stats"
    echo "$best $cpu $peak"
}

# The system calls of one run, every thread, from strace's summary.
syscall_total() {
    local summary
    summary=$(mktemp)
    strace -c -f -o "$summary" "$@" >/dev/null 2>/dev/null || true
    awk '$NF == "total" { print $4 }' "$summary"
    rm -f "$summary"
}

# Stops the script (status 2) when one of the tools is not on the PATH.
require_tools() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 2; }
    done
}

# Installs from Debian the packages (named as their commands) not on the
# PATH, updating the package lists once when the first try fails.
install_missing() {
    local tool missing=() sudo=""
    for tool in "$@"; do
        command -v "$tool" >/dev/null || missing+=("$tool")
    done
    [ ${#missing[@]} -gt 0 ] || return 0
    [ "$(id -u)" = 0 ] || sudo="sudo"
    $sudo apt-get install -y -qq "${missing[@]}" >/dev/null 2>&1 ||
        { $sudo apt-get update >/dev/null 2>&1 && $sudo apt-get install -y -qq "${missing[@]}" >/dev/null 2>&1; }
}

# bench_setup NAME: the binary in `bin`, UTC and the C locale, and a scratch
# folder `work` under /tmp that goes when the script ends.
bench_setup() {
    bin=$(filarix_binary)
    export TZ=UTC LC_ALL=C
    work=$(mktemp -d "/tmp/filarix-$1.XXXXXX")
    trap 'rm -rf "$work"' EXIT
}

# make_tree DIR FILES CONTENT: FILES files in 100 x 10 directories, file n
# holding the bytes of the Python expression CONTENT (of n).
make_tree() {
    python3 - "$1" "$2" "$3" <<'EOF'
import os, sys
root, files = sys.argv[1], int(sys.argv[2])
content = eval("lambda n: " + sys.argv[3])
per_dir = max(1, -(-files // 1000))
n = 0
for a in range(100):
    for b in range(10):
        if n >= files:
            break
        d = os.path.join(root, "d%03d" % a, "s%02d" % b)
        os.makedirs(d)
        fd = os.open(d, os.O_RDONLY)
        for i in range(min(per_dir, files - n)):
            f = os.open("file%05d.dat" % i, os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd)
            data = content(n)
            if data:
                os.write(f, data)
            os.close(f)
            n += 1
        os.close(fd)
EOF
}

# Prints the path of MIB MiB of random data kept under bench/ as NAME
# (written once, then reused by later runs) after reading it into the page
# cache, so every tool timed reads it from memory.
#   data=$(random_data corpus-xxh3-1024 1024)
random_data() {
    local data="$here/$1/data.bin"
    if [ ! -f "$data" ]; then
        echo "writing $2 MiB of random data to $data ..." >&2
        mkdir -p "$(dirname "$data")"
        head -c $(($2 * 1048576)) /dev/urandom >"$data.part"
        mv "$data.part" "$data"
    fi
    cat "$data" >/dev/null
    echo "$data"
}
