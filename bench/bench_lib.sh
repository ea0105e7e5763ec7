# What the benchmark scripts share: the binary under test, the timing of a
# command over several runs and its system calls. Sourced, not run; the
# script sets `root` (the checkout) and `runs` first.

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
