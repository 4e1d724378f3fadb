#!/usr/bin/env bash
# A private PostgreSQL 15 cluster for the tests of the team library, in a folder of its own,
# reachable only through a Unix socket in that folder.
#   test-postgres.sh start DIR   creates and starts the cluster; prints the libpq connection
#                                string of its superuser's database on standard output
#   test-postgres.sh stop DIR    stops it (the folder is left to the caller)
# PostgreSQL refuses to run as root: run as root (CI), the cluster belongs to the unprivileged
# user "nobody", who is given the folder.
set -euo pipefail
bin=/usr/lib/postgresql/15/bin
cmd=${1:?start or stop}
dir=${2:?a folder}

as_owner() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u nobody -- "$@"
    else
        "$@"
    fi
}

case "$cmd" in
start)
    [ -x "$bin/initdb" ] || { echo "test-postgres.sh: $bin/initdb missing (package postgresql-15)" >&2; exit 1; }
    mkdir -p "$dir"
    [ "$(id -u)" -eq 0 ] && chown nobody "$dir"
    as_owner "$bin/initdb" -D "$dir/data" -U kvtest -A trust -E UTF8 --no-locale >"$dir/initdb.log" 2>&1 \
        || { cat "$dir/initdb.log" >&2; exit 1; }
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
        -o "-k $dir -c listen_addresses='' -c fsync=off" start >/dev/null \
        || { cat "$dir/server.log" >&2; exit 1; }
    echo "host=$dir port=5432 user=kvtest dbname=postgres"
    ;;
stop)
    as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
    ;;
*)
    echo "test-postgres.sh: start or stop" >&2
    exit 2
    ;;
esac
