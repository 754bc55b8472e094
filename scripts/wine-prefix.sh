#!/bin/sh
# wine-prefix.sh start|stop: starts or stops the persistent wineserver (and the services) of the Wine
# prefix named by WINEPREFIX (a win32 prefix unless WINEARCH=win64). Output of the server and of the services it launches is detached, so that
# no caller waits on a pipe. Every Wine call is bounded (bounded.sh): a start that hangs (a first
# start under qemu-user emulation was once seen to) is stopped, the prefix's processes are killed and
# the start is tried once more; a second hang fails with the line that names it.
# A prefix that does not exist yet is made from VLAGT_WINE_SEED when that names a prefix of the same
# architecture (wine-clone.sh: a second or so, and almost no disk) instead of by wineboot.
set -u
: "${WINEPREFIX:?WINEPREFIX names the prefix}"
export WINEPREFIX WINEDEBUG="${WINEDEBUG:--all}"
. "$(dirname "$0")/wine-env.sh"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
bounded="$(dirname "$0")/bounded.sh"
# Creating a prefix takes about 7 s natively, several times that under emulation. Starting one that
# exists (or a fresh copy of one) takes 5 s here, 9 s beside four busy loops, under a minute beside the
# three builds with ten prefixes starting at once; a start that hangs (rare: once in a whole test
# command, not seen again in 65 starts) is given up after 90 s and tried again, so that it costs the
# test command a minute and a half, not four.
# (A prefix older than the installed Wine is updated at its next start: that is a creation's time.)
ready() {
    [ -f "$1/system.reg" ] && [ "$(tr -dc 0-9 <"$1/.update-timestamp" 2>/dev/null)" = "$(stat -c %Y /usr/share/wine/wine.inf 2>/dev/null)" ]
}
if ready "$WINEPREFIX" || { [ ! -f "$WINEPREFIX/system.reg" ] && ready "${VLAGT_WINE_SEED:-/nonexistent}"; }; then
    start_limit=${VLAGT_WINE_START_TIMEOUT:-90}
else
    start_limit=${VLAGT_WINE_START_TIMEOUT:-240}
fi

stop() {
    "$bounded" 30 wineserver -k >/dev/null 2>&1 </dev/null || true
}

case "${1:-}" in
  start)
    if [ ! -f "$WINEPREFIX/system.reg" ] && [ -f "${VLAGT_WINE_SEED:-}/system.reg" ]; then
        "$(dirname "$0")/wine-clone.sh" "$VLAGT_WINE_SEED" "$WINEPREFIX" || exit 1
    fi
    mkdir -p "$WINEPREFIX"
    errors=$(mktemp)
    trap 'rm -f "$errors"' EXIT
    for attempt in 1 2; do
        # In the foreground: wineserver returns once its socket is open, so the call below cannot
        # start a server of its own first (one that ends with the last program, taking with it every
        # program still attached: exit code 1, nothing printed).
        "$bounded" 60 wineserver -p >/dev/null 2>&1 </dev/null
        # Wine's own messages go to a file: the services inherit the descriptors and outlive the call.
        if "$bounded" "$start_limit" "$VLAGT_WINE" cmd /c exit >/dev/null 2>"$errors" </dev/null; then
            exit 0
        fi
        grep '^hung:' "$errors" >&2
        echo "the Wine prefix $WINEPREFIX did not start (attempt $attempt of 2)" >&2
        stop
    done
    exit 1
    ;;
  stop)
    stop
    ;;
  *)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac
exit 0
