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
    build-server/bench_vlpolicyd_logins
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
