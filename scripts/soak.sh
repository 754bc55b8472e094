#!/bin/sh
# Runs whole test programs of a build again and again under load, to catch what only shows rarely
# (a crash at process exit, say).
# PROGRAM is a test program's name without "_tests.exe" (policy, netstatus, ...). Each round runs
# every program once, in the build's own prefix, with Wine's error and crash output kept, while one
# busy loop per core but one keeps the machine loaded (-l LOOPS sets their number: a second soak
# beside a first one needs none of its own). A run fails when it exits with anything but 0,
# or prints a crash or an unhandled exception; its whole output is kept under BUILD/soak/. Stops
# after RUNS rounds (50) or once SECONDS (3600) have passed, and prints the runs per program.
# Usage: scripts/soak.sh [-b BUILD] [-l LOOPS] [-n RUNS] [-t SECONDS] PROGRAM...
set -eu
cd "$(dirname "$0")/.."

build=build
runs=50
limit=3600
busy=$(($(nproc) - 1))
while getopts b:l:n:t: option; do
    case "$option" in
    b) build=$OPTARG ;;
    l) busy=$OPTARG ;;
    n) runs=$OPTARG ;;
    t) limit=$OPTARG ;;
    *) exit 2 ;;
    esac
done
shift $((OPTIND - 1))
if [ "$#" -eq 0 ]; then
    echo "usage: scripts/soak.sh [-b BUILD] [-l LOOPS] [-n RUNS] [-t SECONDS] PROGRAM..." >&2
    exit 2
fi
for program in "$@"; do
    [ -f "$build/bin/${program}_tests.exe" ] || { echo "soak: no $build/bin/${program}_tests.exe" >&2; exit 2; }
done

# A whole program is one Wine call: leak_tests alone takes many minutes on a loaded machine.
export VLAGT_WINE_TIMEOUT="${VLAGT_WINE_TIMEOUT:-3600}"
out="$build/soak"
mkdir -p "$out"
loaders=""
stop() {
    # shellcheck disable=SC2086
    [ -z "$loaders" ] || kill $loaders 2>/dev/null || true
    "$build/wine-prefix.sh" stop
}
trap stop EXIT
trap 'exit 130' INT TERM HUP
export VLAGT_LANES=0 # whole programs run in the build's own prefix, no test lanes
"$build/wine-prefix.sh" start
while [ "$busy" -gt 0 ]; do
    sh -c 'while :; do :; done' </dev/null >/dev/null 2>&1 &
    loaders="$loaders $!"
    busy=$((busy - 1))
done

end=$(($(date +%s) + limit))
failures=0
round=0
while [ "$round" -lt "$runs" ] && [ "$(date +%s)" -lt "$end" ]; do
    round=$((round + 1))
    for program in "$@"; do
        log="$out/$program.$round.log"
        # Wine's default channels (errors, and the crash report of an unhandled exception) are kept.
        if WINEDEBUG=fixme-all "$build/wine-run.sh" "$build/bin/${program}_tests.exe" --gtest_brief=1 \
            >"$log" 2>&1 </dev/null && ! grep -q -E "Unhandled|page fault|wine: .*exception" "$log"; then
            rm -f "$log"
        else
            failures=$((failures + 1))
            echo "soak: $program run $round failed, output in $log"
        fi
    done
done
echo "soak: $round rounds of $* ($failures failed runs), load: $(cut -d' ' -f1-3 /proc/loadavg)"
[ "$failures" -eq 0 ]
