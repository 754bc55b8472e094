#!/bin/sh
# End to end through the real module under Wine against the native policy server: a login by
# DRMAgentLogin returns 40000 and publishes the user, a CCF is written from the reply, a take-out
# requested through TakeOutPC shows in `vlpolicyd takeout list`, and after `takeout approve` a
# reference records the approved dates in the CCF; GetACLInfo and the ping answer from it.
# Usage: vlpolicyd_end_to_end.sh VLPOLICYD WINE_RUN BINDIR WORKFOLDER
# Exit code 77 (skipped) when VLPOLICYD is not there.
set -u
vlpolicyd="$1"
wine_run="$2"
bindir="$3"
work="$4"
# Each Wine call is bounded (wine-run.sh); one that hangs leaves a "hung:" line in wine.err.
export VLAGT_WINE_TIMEOUT=60
if [ -z "$vlpolicyd" ] || [ ! -x "$vlpolicyd" ]; then
    echo "skipped: no native vlpolicyd (configure with -DVLPOLICYD_EXECUTABLE=..., as scripts/test.sh does)"
    exit 77
fi
rm -rf "$work" && mkdir -p "$work" || exit 1
db="$work/policy.db"
ccf="Z:$(printf '%s' "$work/user.ccf" | tr / '\\')"
failures=0
server=""
trap '[ -n "$server" ] && kill "$server" 2>/dev/null' EXIT
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_line() { # expect_line FILE LINE
    tr -d '\r' <"$1" | grep -qxF "$2" || fail "expected \"$2\" in $1: $(tr '\n' '|' <"$1")"
}

"$vlpolicyd" serve --listen 127.0.0.1:0 --path /agent --db "$db" >"$work/serve.out" 2>"$work/serve.err" </dev/null &
server=$!
i=0
while [ "$i" -lt 100 ] && ! grep -q '^listening on ' "$work/serve.out"; do sleep 0.05; i=$((i + 1)); done
url=$(sed -n 's/^listening on //p' "$work/serve.out")
[ -n "$url" ] || { echo "FAIL: vlpolicyd did not start: $(cat "$work/serve.err")"; exit 1; }

# Login through the plain export; the shared record names the user; a session writes the CCF.
"$wine_run" "$bindir/vlserverprobe.exe" login "$url" demo01 demo-pass-01 "$ccf" >"$work/login.out" 2>"$work/wine.err" </dev/null
expect_line "$work/login.out" "login 40000"
expect_line "$work/login.out" "published demo01"
expect_line "$work/login.out" "session login 40000"
expect_line "$work/login.out" "ccf demo01 DEMOCO dkms.demo.invalid:7001"
expect_line "$work/login.out" "web login 40000 DEMOCO 10"

# A take-out through TakeOutPC, by a caller that knows the DLL only by name.
"$wine_run" "$bindir/vlapicaller.exe" "$work/caller.txt" "url:$url" login:demo02:demo-pass-02 \
    "takeout:20270601:20270605:trade fair:0" >/dev/null 2>>"$work/wine.err" </dev/null
expect_line "$work/caller.txt" "login 40000"
expect_line "$work/caller.txt" "takeout 40000"
"$vlpolicyd" takeout list --db "$db" >"$work/list.out" || fail "takeout list"
key=$(grep '	demo02	requested	20270601	20270605	' "$work/list.out" | cut -f1)
[ -n "$key" ] || fail "the take-out is not listed: $(cat "$work/list.out")"

# Approved with other dates; the reference records them in the CCF.
"$vlpolicyd" takeout approve "$key" --start 20270602 --end 20270604 --db "$db" >/dev/null || fail "approve"
"$wine_run" "$bindir/vlserverprobe.exe" reference "$url" demo02 "$key" "$ccf" >"$work/ref.out" 2>>"$work/wine.err" </dev/null
expect_line "$work/ref.out" "reference 40000"
expect_line "$work/ref.out" "takeout 1"
expect_line "$work/user.ccf" "TakeOutStartDate=20270602"
expect_line "$work/user.ccf" "TakeOutEndDate=20270604"

grep -q ' 127.0.0.1 reference demo02 40000$' "$work/serve.err" || fail "no log line of the reference"

# The quick questions read the server URL from the registry: the level list, the ACL and the ping.
key_path='HKLM\Software\Velmora\Tessaline'
"$wine_run" reg add "$key_path" /v VLDrmAgtSvr /d "$url" /f /reg:32 >/dev/null 2>>"$work/wine.err" </dev/null
"$wine_run" "$bindir/vlapicaller.exe" "$work/quick.txt" acl:demo01:confidential ping >/dev/null 2>>"$work/wine.err" </dev/null
"$wine_run" reg delete "$key_path" /v VLDrmAgtSvr /f /reg:32 >/dev/null 2>>"$work/wine.err" </dev/null
acl_hex="$(printf 'demo01:3:RWP' | od -An -tx1 | tr -d ' \n')$(printf '%060d' 0)"
expect_line "$work/quick.txt" "acl 1 $acl_hex"
expect_line "$work/quick.txt" "ping 1"
hung=$(grep '^hung:' "$work/wine.err")
[ -z "$hung" ] || fail "$hung"
[ "$failures" = 0 ] && echo "all passed"
exit "$failures"
