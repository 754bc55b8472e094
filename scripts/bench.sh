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
build/wine-prefix.sh start
trap 'build/wine-prefix.sh stop' EXIT
for program in $programs; do
    echo "== $(basename "$program" .exe)"
    VLAGT_WINE_TIMEOUT=1800 build/wine-run.sh "$program"
done
