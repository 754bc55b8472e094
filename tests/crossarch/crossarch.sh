#!/bin/sh
# One logon, two architectures: the 32- and the 64-bit vlagt.exe (each with its own module) in one
# win64 prefix, where the 32-bit programs run through WoW64, against vlpolicyd on 127.0.0.1. What one
# architecture logs in, sets or writes, the other sees: the logged-in user (the shared record), the
# server URL (the registry's 32-bit view) and the CCF (the user's profile).
#
# Usage: crossarch.sh <x86 bin folder> <x64 bin folder> <vlpolicyd> <prefix folder>
# Exit code: 0 pass, 1 fail, 77 skipped (a build or vlpolicyd missing, or no WoW64 here).
set -u
X86=$1/vlagt.exe
X64=$2/vlagt.exe
POLICYD=$3
export WINEPREFIX=$4 WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
. "$scripts/wine-env.sh" # VLAGT_WINE: the 64-bit loader
LIMIT=${VLAGT_WINE_TIMEOUT:-120}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vlagt-crossarch.XXXXXX")
SERVER_PID=""

for f in "$X86" "$X64" "$POLICYD"; do
    [ -e "$f" ] || { echo "SKIPPED: $f is not built"; exit 77; }
done

cleanup() {
    if [ -n "$SERVER_PID" ]; then
        kill -TERM "$SERVER_PID" 2>/dev/null
        wait "$SERVER_PID" 2>/dev/null
    fi
    "$scripts/wine-prefix.sh" stop
    rm -rf "$WORK"
}
trap cleanup EXIT
failed=0
fail() { echo "FAILED: $*"; failed=1; }

# x86|x64 ARGS...: that architecture's vlagt.exe, bounded; its output (CR removed) in OUT, exit in RC.
run() {
    arch=$1
    shift
    if [ "$arch" = x86 ]; then
        "$scripts/bounded.sh" "$LIMIT" wine "$X86" "$@" >"$WORK/out" 2>&1 </dev/null
    else
        "$scripts/bounded.sh" "$LIMIT" "$VLAGT_WINE" "$X64" "$@" >"$WORK/out" 2>&1 </dev/null
    fi
    RC=$?
    OUT=$(tr -d '\r' <"$WORK/out")
}
# expect WHAT RC PATTERN: the last run's exit code and a line of its output.
expect() {
    if [ "$RC" != "$2" ] || ! printf '%s\n' "$OUT" | grep -q -- "$3"; then
        fail "$1: exit $RC (expected $2), output:"
        printf '%s\n' "$OUT" | sed 's/^/    /'
    else
        echo "ok: $1"
    fi
}
login() { # login x86|x64: demo01, the password on standard input
    if [ "$1" = x86 ]; then program="wine '$X86'"; else program="'$VLAGT_WINE' '$X64'"; fi
    "$scripts/bounded.sh" "$LIMIT" sh -c "printf 'demo-pass-01\n' | $program login demo01" >"$WORK/out" 2>&1 </dev/null
    RC=$?
    OUT=$(tr -d '\r' <"$WORK/out")
}
forget_ccf() { find "$WINEPREFIX/drive_c/users" -name Client.ccf -path '*Velmora*' -delete 2>/dev/null; }

mkdir -p "$WINEPREFIX"
"$scripts/wine-prefix.sh" start || { echo "FAILED: the win64 prefix did not start"; exit 1; }
# Debian's wine runs 32-bit programs in a win64 prefix through WoW64 (under qemu-user where the host
# cannot run 32-bit x86); where it cannot, there is nothing to check.
run x86 --help
[ "$RC" = 126 ] || [ "$RC" = 124 ] && { echo "SKIPPED: 32-bit programs do not run in a win64 prefix here"; exit 77; }
"$scripts/bounded.sh" "$LIMIT" "$VLAGT_WINE" reg delete 'HKLM\Software\Velmora' /f /reg:32 >/dev/null 2>&1 </dev/null
forget_ccf

"$POLICYD" serve --demo --listen 127.0.0.1:0 --db "$WORK/policy.db" >"$WORK/server.out" 2>"$WORK/server.log" </dev/null &
SERVER_PID=$!
URL=$("$scripts/listening.sh" "$WORK/server.out" "$SERVER_PID")
[ -n "$URL" ] || { echo "FAILED: vlpolicyd did not start: $(cat "$WORK/server.log")"; exit 1; }

# 64 -> 32: the server set and the login made by the 64-bit tool.
run x64 server "$URL";            expect "the 64-bit tool sets VLDrmAgtSvr" 0 "VLDrmAgtSvr"
run x86 server;                   expect "the 32-bit tool reads it" 0 "$URL"
login x64
expect "a 64-bit login of demo01" 0 "demo01 logged in"
run x86 whoami;                   expect "the 32-bit whoami names demo01" 0 "demo01 is logged in"
run x86 ccf;                      expect "the 32-bit ccf reads the CCF the 64-bit login wrote" 0 "company *DEMOCO"
run x86 logout;                   expect "a 32-bit logout" 0 "demo01 logged out"
run x64 whoami;                   expect "the 64-bit whoami sees it emptied" 1 "nobody is logged in"

# 32 -> 64: the server set by the 32-bit tool is the one the 64-bit login uses.
"$scripts/bounded.sh" "$LIMIT" "$VLAGT_WINE" reg delete 'HKLM\Software\Velmora' /f /reg:32 >/dev/null 2>&1 </dev/null
forget_ccf
run x86 server "$URL";            expect "the 32-bit tool sets VLDrmAgtSvr" 0 "VLDrmAgtSvr"
run x64 server;                   expect "the 64-bit tool reads it" 0 "$URL"
login x86
expect "a 32-bit login of demo01" 0 "demo01 logged in"
run x64 whoami;                   expect "the 64-bit whoami names demo01" 0 "demo01 is logged in"
run x64 ccf;                      expect "the 64-bit ccf reads the CCF the 32-bit login wrote" 0 "company *DEMOCO"
run x64 logout;                   expect "a 64-bit logout" 0 "demo01 logged out"
run x86 whoami;                   expect "the 32-bit whoami sees it emptied" 1 "nobody is logged in"

exit $failed
