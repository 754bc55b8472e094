#!/bin/sh
# wine-lanes.sh start|stop PREFIX WINEARCH LANES: starts or stops the persistent wineserver (and the
# services) of the Wine prefix PREFIX and of its LANES lane prefixes PREFIX-lane1 ... PREFIX-laneN,
# in which CTest runs tests side by side (see cmake/wine-run.sh.in).
#
# A lane is a copy of the build's prefix, made once: creating a prefix runs wineboot (half a minute and
# more under qemu-user emulation), copying one (wine-clone.sh: Wine's own files are hard links) takes a
# second. The copy is taken while the build's prefix is stopped, so that its registry is on disk. The lanes start at the same time; each start is
# bounded and tried twice (wine-prefix.sh), and a lane that does not start fails the whole start.
set -u
[ $# -eq 4 ] || { echo "usage: $0 start|stop PREFIX WINEARCH LANES" >&2; exit 2; }
action=$1 main=$2 lanes=$4
export WINEARCH=$3
prefix_script="$(cd "$(dirname "$0")" && pwd)/wine-prefix.sh"

lane_prefixes() {
    i=1
    while [ "$i" -le "$lanes" ]; do
        echo "$main-lane$i"
        i=$((i + 1))
    done
}

# on_every ACTION PREFIX...: the action on each prefix at the same time; fails when one fails.
on_every() {
    what=$1
    shift
    pids=""
    for p in "$@"; do
        WINEPREFIX=$p "$prefix_script" "$what" &
        pids="$pids $!"
    done
    rc=0
    for pid in $pids; do
        wait "$pid" || rc=1
    done
    return $rc
}

case "$action" in
  start)
    WINEPREFIX=$main "$prefix_script" start || exit 1
    missing=""
    for p in $(lane_prefixes); do
        [ -f "$p/system.reg" ] || missing="$missing $p"
    done
    if [ -n "$missing" ]; then
        WINEPREFIX=$main "$prefix_script" stop
        for p in $missing; do
            "$(dirname "$prefix_script")/wine-clone.sh" "$main" "$p" || exit 1
        done
        WINEPREFIX=$main "$prefix_script" start || exit 1
    fi
    # shellcheck disable=SC2046 # one word a prefix: the build folder's path has no spaces
    on_every start $(lane_prefixes) || { echo "a test lane's Wine prefix did not start" >&2; exit 1; }
    ;;
  stop)
    # shellcheck disable=SC2046
    on_every stop "$main" $(lane_prefixes)
    ;;
  *)
    echo "usage: $0 start|stop PREFIX WINEARCH LANES" >&2
    exit 2
    ;;
esac
exit 0
