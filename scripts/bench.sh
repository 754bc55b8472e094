#!/bin/sh
# Builds the benchmarks and runs them under Wine in the build's private prefix: every
# build/bin/bench_*.exe in name order, or only the figures named (scripts/bench.sh acl_timeout_cpu).
# A benchmark is added with one vlagt_add_bench(<figure> <sources>) line in bench/CMakeLists.txt.
set -eu
cd "$(dirname "$0")/.."

# vlpolicyd's logins per second with 1, 4 and 16 clients and their ratio to what the cores allow
# (native, its own build folder).
if [ "$#" -eq 0 ] || [ "$*" = vlpolicyd_logins ]; then
    (cd server && { [ -f ../build-server/build.ninja ] || cmake --preset vlpolicyd; } &&
        cmake --build --preset vlpolicyd --target bench_vlpolicyd_logins)
    echo "== bench_vlpolicyd_logins"
    # Beside SQLite: PostgreSQL in a private cluster (as the tests make it), and two instances on it
    # behind haproxy, when both are installed.
    bench_args=""
    instance_pids=""
    haproxy_pid=""
    pg_dir=/tmp/vlpolicyd-bench-pg
    if ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1 && [ -x /usr/sbin/haproxy ]; then
        (cd server && cmake --build --preset vlpolicyd --target vlpolicyd)
        sh server/tests/pg_cluster.sh start "$pg_dir" >/dev/null
        trap 'kill $instance_pids $haproxy_pid 2>/dev/null; sh server/tests/pg_cluster.sh stop "$pg_dir"' EXIT
        pg_uri="postgresql:///vlpolicy?host=$pg_dir&user=vlpolicy"
        psql_bin=$(ls -d /usr/lib/postgresql/*/bin | tail -1)
        "$psql_bin/psql" -h "$pg_dir" -U vlpolicy -d vlpolicy -qc "CREATE DATABASE balanced" >/dev/null
        balanced_uri="postgresql:///balanced?host=$pg_dir&user=vlpolicy"
        build-server/vlpolicyd store init --demo --db "$balanced_uri" >/dev/null
        instance_pids=""
        for port in 18481 18482; do
            build-server/vlpolicyd serve --db "$balanced_uri" --listen 127.0.0.1:$port --trusted-proxy 127.0.0.1 \
                >/dev/null 2>&1 </dev/null &
            instance_pids="$instance_pids $!"
        done
        cat >"$pg_dir/haproxy.cfg" <<CFG
global
    maxconn 512
defaults
    mode http
    timeout connect 2s
    timeout client 30s
    timeout server 10s
    option forwardfor
frontend agents
    bind 127.0.0.1:18480
    default_backend vlpolicyd
backend vlpolicyd
    balance roundrobin
    option httpchk GET /healthz
    default-server inter 500ms
    server first 127.0.0.1:18481 check
    server second 127.0.0.1:18482 check
CFG
        /usr/sbin/haproxy -db -f "$pg_dir/haproxy.cfg" >/dev/null 2>&1 </dev/null &
        haproxy_pid=$!
        sleep 2
        bench_args="--postgres $pg_uri --balanced 18480"
    fi
    # shellcheck disable=SC2086
    build-server/bench_vlpolicyd_logins $bench_args
    if [ -n "$bench_args" ]; then
        kill $instance_pids $haproxy_pid 2>/dev/null || true
        sh server/tests/pg_cluster.sh stop "$pg_dir"
        trap - EXIT
    fi
    [ "$#" -eq 0 ] || exit 0
fi

[ -f build/build.ninja ] || cmake --preset default
cmake --build --preset default --target benchmarks

if [ "$#" -gt 0 ]; then
    programs=""
    for figure in "$@"; do
        programs="$programs build/bin/bench_$figure.exe"
    done
else
    programs=$(ls build/bin/bench_*.exe)
fi

# Start the prefix's server with its output detached (the pipe trap), stop it when done.
export VLAGT_LANES=0 # the benchmarks run in the build's own prefix, no test lanes
build/wine-prefix.sh start
# bench_tls_exchange talks to vlpolicyd over https and http: two servers on 127.0.0.1 and a test CA
# that the prefix trusts while it runs.
tls_work=""
tls_servers=""
tls_setup() {
    (cd server && { [ -f ../build-server/build.ninja ] || cmake --preset vlpolicyd; } &&
        cmake --build --preset vlpolicyd --target vlpolicyd)
    tls_work=$(mktemp -d "${TMPDIR:-/tmp}/vlagt-bench-tls.XXXXXX")
    build-server/vlpolicyd tls init --dir "$tls_work" >/dev/null
    build-server/vlpolicyd serve --listen 127.0.0.1:0 --db "$tls_work/tls.db" --tls-cert "$tls_work/server.pem" \
        --tls-key "$tls_work/server-key.pem" >"$tls_work/tls.out" 2>/dev/null </dev/null &
    tls_servers="$!"
    tls_url=$(scripts/listening.sh "$tls_work/tls.out" "$tls_servers")
    build-server/vlpolicyd serve --listen 127.0.0.1:0 --db "$tls_work/plain.db" >"$tls_work/plain.out" 2>/dev/null </dev/null &
    plain_url=$(scripts/listening.sh "$tls_work/plain.out" "$!")
    tls_servers="$tls_servers $!"
    tls_ca="Z:$(printf '%s' "$tls_work/ca.pem" | tr / '\\')"
    build/wine-run.sh build/bin/vlagt.exe trust "$tls_ca" >/dev/null </dev/null
}
tls_cleanup() {
    [ -n "$tls_work" ] || return 0
    build/wine-run.sh build/bin/vlagt.exe untrust "$tls_ca" >/dev/null </dev/null
    # shellcheck disable=SC2086 # two process ids
    kill $tls_servers 2>/dev/null
    rm -rf "$tls_work"
}
trap 'tls_cleanup; build/wine-prefix.sh stop' EXIT

for program in $programs; do
    echo "== $(basename "$program" .exe)"
    if [ "$(basename "$program")" = bench_tls_exchange.exe ]; then
        [ -n "$tls_work" ] || tls_setup
        VLAGT_WINE_TIMEOUT=1800 build/wine-run.sh "$program" "$tls_url" "$plain_url"
    else
        VLAGT_WINE_TIMEOUT=1800 build/wine-run.sh "$program"
    fi
done
