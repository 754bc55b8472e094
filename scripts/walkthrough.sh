#!/bin/sh
# Walks through the module's work with vlagt.exe against the reference policy server vlpolicyd, on
# binaries that are already built: a fresh store in a temporary folder, vlpolicyd on 127.0.0.1 over
# HTTPS with a test CA that the private Wine prefix trusts, and every step printed with the module's
# answer.
#
#   scripts/walkthrough.sh [BUILD_FOLDER [VLPOLICYD]]
#
# Defaults: build/ and build-server/vlpolicyd. Exits 0 when every step gave the expected result,
# 1 naming the step that did not, 77 when vlpolicyd or vlagt.exe is not built. Everything it starts
# is stopped on every path.
set -u
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=$(cd "${1:-build}" 2>/dev/null && pwd) || BUILD="${1:-build}"
POLICYD=${2:-build-server/vlpolicyd}
case "$POLICYD" in /*) ;; *) POLICYD="$ROOT/$POLICYD" ;; esac
VLAGT_EXE="$BUILD/bin/vlagt.exe"

if [ ! -x "$POLICYD" ]; then
    echo "walk-through skipped: vlpolicyd is not built ($POLICYD)"
    exit 77
fi
if [ ! -f "$VLAGT_EXE" ]; then
    echo "walk-through skipped: vlagt.exe is not built ($VLAGT_EXE)"
    exit 77
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/vlagt-walkthrough.XXXXXX")
DB="$WORK/policy.db"
SERVER_PID=""
MONITOR_PID=""
STEP=0
STEPS=24
OTHER_PID=""
CURRENT="setting up"

# The prefix lives in the build folder (created once, about 10 s, or copied from the test suite's
# when that exists), apart from the test suite's.
export WINEPREFIX="$BUILD/walkthrough-wineprefix"
[ -n "${VLAGT_WINE_SEED:-}" ] || export VLAGT_WINE_SEED="$BUILD/wineprefix"
# The build's architecture names the prefix's (win32, or win64 for build-x64/), unless WINEARCH is set.
[ -n "${WINEARCH:-}" ] || WINEARCH=$(sed -n 's/^export WINEARCH=//p' "$BUILD/wine-run.sh" 2>/dev/null)
# Wine's own messages are off; VLAGT_WINEDEBUG sets them for a hunt (say -all,err+all,warn+debugstr,
# which also shows every debug line of the module in each step's output).
export WINEARCH="${WINEARCH:-win32}" WINEDEBUG="${VLAGT_WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml="
# Every Wine call is bounded: one that hangs is stopped, names itself ("hung: ...") and fails its step.
BOUNDED="$ROOT/scripts/bounded.sh"
WINE_LIMIT=${VLAGT_WINE_TIMEOUT:-120}
. "$ROOT/scripts/wine-env.sh"
bwine() { "$BOUNDED" "$WINE_LIMIT" "$VLAGT_WINE" "$@"; }
# The CCF of this run, in its temporary folder (a Windows path: drive Z: is the root).
export CORVANE_CCF_PATH="Z:$(printf '%s' "$WORK/ccf/Client.ccf" | tr / '\\')"

cleanup() {
    [ -n "$MONITOR_PID" ] && kill "$MONITOR_PID" 2>/dev/null
    [ -n "$OTHER_PID" ] && kill "$OTHER_PID" 2>/dev/null
    if [ -n "$SERVER_PID" ]; then
        kill -TERM "$SERVER_PID" 2>/dev/null
        wait "$SERVER_PID" 2>/dev/null
    fi
    "$ROOT/scripts/wine-prefix.sh" stop
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
    echo "FAILED at step $STEP ($CURRENT): $*"
    exit 1
}

# The process id of this prefix's wineserver, or nothing: the server works in a folder named after
# the prefix's device and inode.
wineserver_pid() {
    key="server-$(stat -c %D "$WINEPREFIX" 2>/dev/null)-$(printf '%x' "$(stat -c %i "$WINEPREFIX" 2>/dev/null)")"
    for proc in /proc/[0-9]*; do
        case "$(readlink "$proc/cwd" 2>/dev/null)" in
            */"$key") echo "${proc#/proc/}"; return ;;
        esac
    done
}
WINESERVER_PID=""

# Why a Wine call may have ended with nothing printed. A program cannot speak when it is ended from
# outside: Wine ends every process of a prefix with exit code 1 and no word when the prefix's
# server stops (wineserver -k, or a server that is not persistent shutting down), and a signal ends
# it without a word too.
silent_end() {
    now=$(wineserver_pid)
    if [ -z "$WINESERVER_PID" ]; then
        state="the prefix's wineserver was not known"
    elif [ -z "$now" ]; then
        state="the prefix's wineserver (pid $WINESERVER_PID) is gone: it was stopped or shut down under the command"
    elif [ "$now" != "$WINESERVER_PID" ]; then
        state="the prefix's wineserver is pid $now, not $WINESERVER_PID: it was stopped and started again"
    else
        state="the prefix's wineserver (pid $now) still runs, so it did not end the command"
    fi
    # vlagt itself exits 0, 1 or 2; other codes of a silent end are Wine's (an NTSTATUS, low byte).
    case "$RC" in
        53) state="exit code 53 is Wine's for 0xC0000135: a DLL the program imports was not found or could not be loaded; $state" ;;
        123) state="exit code 123 is Wine's for 0xC000007B: the program or a DLL is not a valid image for this architecture; $state" ;;
        66) state="exit code 66 is Wine's for 0xC0000142: a DLL's initialisation failed; $state" ;;
        5) state="exit code 5 is Wine's for 0xC0000005: an access violation; $state" ;;
    esac
    echo "the command printed nothing; $state (a stopped wineserver ends its programs with exit code 1 and no word; VLAGT_WINEDEBUG=-all,err+all shows Wine's own messages)"
}

# Runs a command with its output in a file; after a second it prints a dot every half second, so a
# long step shows that it is working. Sets RC and OUT.
run() {
    "$@" >"$WORK/out" 2>&1 </dev/null &
    pid=$!
    ticks=0
    while kill -0 "$pid" 2>/dev/null; do
        sleep 0.25
        ticks=$((ticks + 1))
        [ "$ticks" -ge 4 ] && [ $((ticks % 2)) -eq 0 ] && printf '.' >&2
    done
    wait "$pid"
    RC=$?
    [ "$ticks" -ge 4 ] && printf '\n' >&2
    OUT=$(tr -d '\r' <"$WORK/out")
}

vlagt() { bwine "$VLAGT_EXE" "$@"; }

# step "title" EXPECTED_EXIT PATTERN command...: one numbered step; its output is shown indented,
# and the step fails unless the exit code is EXPECTED_EXIT (or any of "0|1") and the output holds
# PATTERN (empty: anything).
step() {
    title=$1 expect=$2 pattern=$3
    shift 3
    STEP=$((STEP + 1))
    CURRENT=$title
    echo
    echo "==> [$STEP/$STEPS] $title"
    shown=${SHOW:-$(printf '%s ' "$@")}
    SHOW=""
    printf '    $ %s\n' "$(printf '%s' "$shown" | sed "s#$POLICYD#vlpolicyd#g; s#$WORK#\$TMP#g")"
    run "$@"
    printf '%s\n' "$OUT" | sed 's/^/    /'
    case "|$expect|" in
        *"|$RC|"*) ;;
        *) [ -n "$OUT" ] || fail "exit code $RC, expected $expect; $(silent_end)"
           fail "exit code $RC, expected $expect" ;;
    esac
    if [ -n "$pattern" ] && ! printf '%s\n' "$OUT" | grep -q -- "$pattern"; then
        [ -n "$OUT" ] || fail "the output does not show \"$pattern\"; $(silent_end)"
        fail "the output does not show \"$pattern\""
    fi
}

TODAY=$(date +%Y%m%d)
LATER=$(date -d '+6 days' +%Y%m%d)

echo "VLAgtClient walk-through: vlagt against vlpolicyd, store and CCF in $WORK"

SHOW="wineserver -p; wine cmd /c exit"
step "start the private Wine prefix (the first run creates it)" 0 "" \
    "$ROOT/scripts/wine-prefix.sh" start
WINESERVER_PID=$(wineserver_pid)
bwine reg delete 'HKLM\Software\Velmora' /f /reg:32 >/dev/null 2>&1 </dev/null
bwine reg delete 'HKCR\Velmora TessaLINE' /f >/dev/null 2>&1 </dev/null

step "make a test CA and a server certificate for 127.0.0.1 and localhost" 0 "ca.pem" \
    "$POLICYD" tls init --dir "$WORK/tls"
CA_WIN="Z:$(printf '%s' "$WORK/tls/ca.pem" | tr / '\\')"
step "trust the test CA in this prefix (the machine's trusted root store)" 0 "trusted as a root CA" \
    vlagt trust "$CA_WIN"

CURRENT="start vlpolicyd"
STEP=$((STEP + 1))
echo
echo "==> [$STEP/$STEPS] start vlpolicyd on 127.0.0.1 over HTTPS with a new store holding the demonstration directory"
"$POLICYD" serve --demo --listen 127.0.0.1:0 --db "$DB" --tls-cert "$WORK/tls/server.pem" --tls-key "$WORK/tls/server-key.pem" \
    >"$WORK/server.out" 2>"$WORK/server.log" </dev/null &
SERVER_PID=$!
URL=$("$ROOT/scripts/listening.sh" "$WORK/server.out" "$SERVER_PID")
[ -n "$URL" ] || fail "vlpolicyd did not report that it listens: $(cat "$WORK/server.log")"
echo "    listening on $URL"

# The install folder of the agent, as its installer records it: the offline check finds Ossilet.dll
# there.
BIN_WIN="Z:$(printf '%s' "$BUILD/bin/" | tr / '\\')"
bwine reg add 'HKCR\Velmora TessaLINE\Shell\Open\Command' /ve /d "\"${BIN_WIN}vlagt.exe\" \"%1\"" /f \
    >/dev/null 2>&1 </dev/null

step "set the server" 0 "VLDrmAgtSvr" vlagt server "$URL"
step "show the server" 0 "tls *yes" vlagt server

# A second server whose certificate comes from a CA this prefix does not trust: the login is refused
# before anything of it is sent, and that server sees no exchange.
"$POLICYD" tls init --dir "$WORK/untrusted" >/dev/null 2>&1 </dev/null || fail "tls init of the untrusted CA"
"$POLICYD" serve --listen 127.0.0.1:0 --db "$WORK/other.db" --tls-cert "$WORK/untrusted/server.pem" \
    --tls-key "$WORK/untrusted/server-key.pem" >"$WORK/other.out" 2>"$WORK/other.log" </dev/null &
OTHER_PID=$!
LISTENING=$("$ROOT/scripts/listening.sh" "$WORK/other.out" "$OTHER_PID")
[ -n "$LISTENING" ] || fail "the second vlpolicyd did not start: $(cat "$WORK/other.log")"
SHOW="printf 'demo-pass-01\\n' | vlagt login demo01 --url $LISTENING"
step "a server whose certificate is not trusted is refused (nothing is sent to it)" 1 "certificate issuer not trusted" \
    sh -c "printf 'demo-pass-01\n' | '$BOUNDED' $WINE_LIMIT wine '$VLAGT_EXE' login demo01 --url '$LISTENING'"
kill "$OTHER_PID" 2>/dev/null
wait "$OTHER_PID" 2>/dev/null
OTHER_PID=""
[ -s "$WORK/other.log" ] && fail "the untrusted server saw an exchange: $(cat "$WORK/other.log")"
printf '%s\n' "$OUT" | grep -q "demo-pass-01" && fail "the password shows in the output"

# The monitor watches every process's debug output while demo01 logs in.
"$BOUNDED" 300 "$VLAGT_WINE" "$VLAGT_EXE" monitor --filter CDRMLogin >"$WORK/monitor.txt" 2>"$WORK/monitor.err" </dev/null &
MONITOR_PID=$!
for _ in $(seq 1 100); do
    grep -q "Ctrl-C" "$WORK/monitor.err" 2>/dev/null && break
    sleep 0.1
done

SHOW="printf 'demo-pass-01\\n' | vlagt login demo01"
step "log demo01 in (binary login; the password comes on standard input)" 0 "demo01 logged in" \
    sh -c "printf 'demo-pass-01\n' | '$BOUNDED' $WINE_LIMIT '$VLAGT_WINE' '$VLAGT_EXE' login demo01"
printf '%s\n' "$OUT" | grep -q "demo-pass-01" && fail "the password shows in the output"

SHOW="vlagt monitor --filter CDRMLogin   (started before the login)"
step "the monitor saw the login's debug lines" 0 "\[CDRMLogin\] Success : demo01" \
    sh -c "sleep 0.5; cat '$WORK/monitor.txt'"
kill "$MONITOR_PID" 2>/dev/null
wait "$MONITOR_PID" 2>/dev/null
MONITOR_PID=""
grep -q "demo-pass-01" "$WORK/monitor.txt" && fail "the password shows in a debug line"

step "whoami, from a second process" 0 "demo01 is logged in" vlagt whoami
step "the CCF written from the login reply" 0 "company *DEMOCO" vlagt ccf

step "request a take-out from $TODAY to $LATER" 0 "take-out requested" \
    vlagt takeout request --start "$TODAY" --end "$LATER" --reason "walk-through: customer visit"
KEY=$(printf '%s\n' "$OUT" | sed -n 's/^ *key  *//p' | head -n 1)
[ -n "$KEY" ] || fail "no take-out key in the reply"

step "the request, as the server's administrator sees it" 0 "$KEY" "$POLICYD" takeout list --db "$DB"
step "approve it on the server" 0 "" "$POLICYD" takeout approve "$KEY" --db "$DB"
echo "    The same decision can be given in a browser: the administrators' console at ${URL%/agent}/admin/"
echo "    lists the pending requests with Approve and Refuse (an account: vlpolicyd admin add NAME --db ...)."
step "follow the take-out: the decision and its dates go into the CCF" 0 "approved from" vlagt takeout status
step "the CCF holds the approval" 0 "take-out *approved" vlagt ccf
step "the approved dates in the CCF file" 0 "TakeOutEndDate=$LATER" \
    grep -a "^TakeOut" "$WORK/ccf/Client.ccf"

step "ACL of demo01 for the level Confidential" 0 "RWP" vlagt acl demo01 Confidential
step "ping the server" 0 "answered the ping" vlagt ping
step "is this machine online? (the echo check; either answer is this machine's)" "0|1" "nOnline" vlagt online
step "log out" 0 "demo01 logged out" vlagt logout

CURRENT="stop vlpolicyd"
kill -TERM "$SERVER_PID" 2>/dev/null
wait "$SERVER_PID" 2>/dev/null
SERVER_PID=""
echo
echo "    (vlpolicyd stopped)"

step "check-user with the server stopped: the offline check of the approved take-out" 0 "may go on" \
    vlagt check-user demo01
step "whoami after the logout" 1 "nobody is logged in" vlagt whoami
step "stop trusting the test CA" 0 "no longer trusted" vlagt untrust "$CA_WIN"

echo
echo "walk-through complete: $STEP steps, every result as expected"
exit 0
