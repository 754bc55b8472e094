#!/bin/sh
# A private PostgreSQL cluster for the server's tests: initdb in DIR, run as an unprivileged user
# (PostgreSQL refuses root), listening only on a Unix socket in DIR, fsync on. Never touches a
# system cluster.
#   pg_cluster.sh start DIR   make and start it (a cluster left in DIR by an earlier run is
#                             stopped and removed first); database "vlpolicy", superuser "vlpolicy"
#   pg_cluster.sh stop DIR    stop it and remove DIR
#   pg_cluster.sh pause DIR   stop it, keeping DIR;  pg_cluster.sh resume DIR   start it again
# Without the PostgreSQL server binaries, start makes nothing and succeeds: the tests that need the
# cluster skip themselves when its socket is missing.
set -eu
action=$1
dir=$2
bin=
for candidate in /usr/lib/postgresql/*/bin; do
    [ -x "$candidate/initdb" ] && bin=$candidate
done
if [ -z "$bin" ]; then
    echo "pg_cluster: no PostgreSQL server binaries; the PostgreSQL tests will be skipped"
    exit 0
fi
# The user the cluster runs as: ourselves unless root, else nobody.
run() {
    if [ "$(id -u)" = 0 ]; then
        runuser -u nobody -- "$@"
    else
        "$@"
    fi
}
ctl() {
    # Bounded: pg_ctl waits at most 20 s for the server to start or stop.
    run "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 20 "$@"
}

case $action in
start)
    if [ -f "$dir/data/postmaster.pid" ]; then
        ctl stop -m immediate >/dev/null 2>&1 || true
    fi
    rm -rf "$dir"
    mkdir -p "$dir"
    [ "$(id -u)" = 0 ] && chown nobody "$dir"
    chmod 700 "$dir"
    run "$bin/initdb" -D "$dir/data" -U vlpolicy --auth=trust -E UTF8 --locale=C.UTF-8 -N >"$dir/initdb.log" 2>&1 ||
        { cat "$dir/initdb.log"; exit 1; }
    cat >>"$dir/data/postgresql.conf" <<CONF
listen_addresses = ''
unix_socket_directories = '$dir'
fsync = on
max_connections = 100
shared_buffers = 32MB
CONF
    ctl start >/dev/null
    "$bin/psql" -h "$dir" -U vlpolicy -d postgres -qc "CREATE DATABASE vlpolicy" >/dev/null
    echo "pg_cluster: running at postgresql:///vlpolicy?host=$dir&user=vlpolicy"
    ;;
pause)
    ctl stop -m fast >/dev/null
    ;;
resume)
    ctl start >/dev/null
    ;;
stop)
    if [ -f "$dir/data/postmaster.pid" ]; then
        ctl stop -m fast >/dev/null || ctl stop -m immediate >/dev/null || true
    fi
    rm -rf "$dir"
    ;;
*)
    echo "usage: pg_cluster.sh start|stop|pause|resume DIR" >&2
    exit 2
    ;;
esac
