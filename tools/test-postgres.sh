#!/usr/bin/env bash
# A private PostgreSQL 15 cluster for the tests of the team library, in a folder of its own,
# reachable through a Unix socket in that folder (and, when a port is given, on 127.0.0.1).
#   test-postgres.sh start DIR [PORT]
#                                creates and starts the cluster; prints the libpq connection
#                                string of its superuser's database (through the socket, trusted)
#                                on standard output. With PORT it also listens on 127.0.0.1:PORT,
#                                where a role logs in with its password (scram-sha-256)
#   test-postgres.sh stop DIR    stops it (the folder is left to the caller)
#   test-postgres.sh restart DIR restarts it as an administrator would (every connection ends)
#   test-postgres.sh pause DIR   stops every process of the cluster with SIGSTOP: a server that
#                                accepts and never answers
#   test-postgres.sh resume DIR  lets them go on (SIGCONT)
# PostgreSQL refuses to run as root: run as root (CI), the cluster belongs to the unprivileged
# user "nobody", who is given the folder.
set -euo pipefail
bin=/usr/lib/postgresql/15/bin
cmd=${1:?start, stop, restart, pause or resume}
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
    port=${3:-}
    auth=(-A trust) listen="''" socket_port=5432
    if [ -n "$port" ]; then
        auth=(--auth-local=trust --auth-host=scram-sha-256) listen=127.0.0.1 socket_port=$port
    fi
    as_owner "$bin/initdb" -D "$dir/data" -U kvtest "${auth[@]}" -E UTF8 --no-locale \
        >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
        -o "-k $dir -p $socket_port -c listen_addresses=$listen -c fsync=off" start >/dev/null \
        || { cat "$dir/server.log" >&2; exit 1; }
    echo "host=$dir port=$socket_port user=kvtest dbname=postgres"
    ;;
stop)
    "$0" resume "$dir"
    as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
    ;;
restart)
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -m fast -w -t 60 restart >/dev/null \
        || { cat "$dir/server.log" >&2; exit 1; }
    ;;
pause | resume)
    [ -r "$dir/data/postmaster.pid" ] || exit 0
    postmaster=$(head -n 1 "$dir/data/postmaster.pid")
    signal=STOP
    [ "$cmd" = resume ] && signal=CONT
    # The postmaster first when pausing (it starts no more), last when resuming.
    [ "$cmd" = pause ] && kill -"$signal" "$postmaster"
    for child in $(pgrep -P "$postmaster" || true); do
        kill -"$signal" "$child" || true
    done
    [ "$cmd" = resume ] && kill -"$signal" "$postmaster"
    true
    ;;
*)
    echo "test-postgres.sh: start, stop, restart, pause or resume" >&2
    exit 2
    ;;
esac
