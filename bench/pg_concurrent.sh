#!/usr/bin/env bash
# Times four catalogues written at once into one PostgreSQL server against
# one catalogue of the four trees together: starts a throwaway server (its
# own data directory, a Unix socket only, as the postgres user; installs
# Debian's postgresql when missing), makes four trees of FILES small files
# (default 100,000) under one directory, then, best of RUNS (3) rounds side
# by side, the wall time of four concurrent `--DB=postgresql://...` runs
# (until the last ends) and of one run over the four trees; prints the
# ratio (goal: at most 1.5), the rows a second, the system calls per file of
# one tree's run and checks that every run is complete with all its rows.
# The server is stopped and its data directory removed at the end.
#   bench/pg_concurrent.sh [FILES]
#   RUNS=5 ...               rounds (default 3; the best time counts)
#   FILARIX=path/filarix64   a binary already built
# Runs as root, with TZ=UTC and LC_ALL=C, cache warm.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
files=${1:-100000}
runs=${RUNS:-3}
. "$here/bench_lib.sh"
[ "$(id -u)" = 0 ] || { echo "needs root: the server runs as the postgres user" >&2; exit 2; }
ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1 ||
    { apt-get install -y -qq postgresql >/dev/null 2>&1 ||
        { apt-get update >/dev/null 2>&1 && apt-get install -y -qq postgresql >/dev/null 2>&1; }; }
pg=$(dirname "$(ls /usr/lib/postgresql/*/bin/initdb 2>/dev/null | sort -V | tail -n 1)")
[ -x "$pg/pg_ctl" ] || { echo "needs PostgreSQL's server (Debian package postgresql)" >&2; exit 2; }
require_tools /usr/bin/time python3 strace runuser psql
bench_setup pg

# The server: its data and its socket under the scratch folder.
chmod 711 "$work"
mkdir "$work/pg"
chown postgres: "$work/pg"
as_postgres() { runuser -u postgres -- "$@"; }
stop_server() {
    as_postgres "$pg/pg_ctl" -D "$work/pg/data" -m fast stop >/dev/null 2>&1
    rm -rf "$work"
}
trap stop_server EXIT
as_postgres "$pg/initdb" -D "$work/pg/data" -A trust -U postgres -E UTF8 >/dev/null ||
    { echo "initdb failed" >&2; exit 2; }
as_postgres "$pg/pg_ctl" -D "$work/pg/data" -l "$work/pg/server.log" -w \
    -o "-k $work/pg -c listen_addresses=" start >/dev/null ||
    { cat "$work/pg/server.log" >&2; exit 2; }
as_postgres "$pg/createdb" -h "$work/pg" catalogue
db="--DB=postgresql:///catalogue?host=$work/pg&user=postgres"
sql() { as_postgres psql -X -A -t -h "$work/pg" -d catalogue -c "$1"; }

echo "making 4 trees of $files files ..." >&2
for t in 1 2 3 4; do make_tree "$work/all/t$t" "$files" 'b"x" * (n % 101)'; done

four() {
    for t in 1 2 3 4; do "$bin" "$work/all/t$t" "$db" -o /dev/null >/dev/null 2>&1 & done
    wait
}
one() { "$bin" "$work/all" "$db" -o /dev/null >/dev/null 2>&1; }
export -f four one
export bin work db

# Rounds side by side, so that both see the same load and table size.
best_four="" best_one=""
for _ in $(seq "$runs"); do
    for what in four one; do
        /usr/bin/time -f "%e" -o "$work/time" bash -c "$what"
        t=$(tail -n 1 "$work/time")
        if [ "$what" = four ]; then
            [ -z "$best_four" ] || awk -v a="$t" -v b="$best_four" 'BEGIN{exit !(a<b)}' && best_four=$t
        else
            [ -z "$best_one" ] || awk -v a="$t" -v b="$best_one" 'BEGIN{exit !(a<b)}' && best_one=$t
        fi
    done
done
calls=$(syscall_total "$bin" "$work/all/t1" "$db" -o /dev/null)

# Every run complete, with one file row for each file of its trees.
bad=$(sql "SELECT r.run_id, r.status, r.files, count(e.run_id) FROM runs AS r
           LEFT JOIN entries AS e ON e.run_id = r.run_id AND e.kind = 'file'
           GROUP BY r.run_id, r.status, r.files
           HAVING r.status <> 'complete' OR count(e.run_id) <> r.files
               OR r.files NOT IN ($files, 4 * $files)")
total=$(sql "SELECT count(*) FROM runs")
load=$(uptime | sed 's/.*load average: //')
awk -v f="$files" -v t4="$best_four" -v t1="$best_one" -v runs="$runs" -v calls="$calls" \
    -v total="$total" -v load="$load" 'BEGIN {
    printf "TZ=UTC LC_ALL=C, best of %d rounds, warm cache, load average %s\n", runs, load
    printf "  4 runs of %d files at once  %7.2f s wall  %9.0f rows/s\n", f, t4, 4 * f / t4
    printf "  1 run of %d files           %7.2f s wall  %9.0f rows/s\n", 4 * f, t1, 4 * f / t1
    printf "  ratio 4 at once / 1        %7.2f         (goal <= 1.5)\n", (t1 > 0 ? t4 / t1 : 0)
    printf "  system calls a file, one run of one tree: %.1f\n", calls / f
    printf "  %d runs in the server\n", total }'
if [ -n "$bad" ]; then
    echo "  runs incomplete or missing rows (run|status|files|rows):" >&2
    echo "$bad" >&2
    exit 1
fi
echo "  every run complete with all its rows"
