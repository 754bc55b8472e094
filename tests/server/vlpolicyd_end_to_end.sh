#!/bin/sh
# End to end through the real module under Wine against the native policy server: a login by
# DRMAgentLogin returns 40000 and publishes the user, a CCF is written from the reply, a take-out
# requested through TakeOutPC shows in `vlpolicyd takeout list`, and after `takeout approve` a
# reference records the approved dates in the CCF; GetACLInfo and the ping answer from it.
# With "tls" as the fifth argument every exchange goes over HTTPS: vlpolicyd serves a certificate
# from `vlpolicyd tls init`, and `vlagt trust` makes the prefix trust its CA for the run.
# Usage: vlpolicyd_end_to_end.sh VLPOLICYD WINE_RUN BINDIR WORKFOLDER [tls]
# Exit code 77 (skipped) when VLPOLICYD is not there, or for tls when Wine has no TLS provider.
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
tls="${5:-}"
if [ "$tls" = tls ] && ! ls /usr/lib/i386-linux-gnu/libgnutls.so.30* >/dev/null 2>&1; then
    echo "skipped: Wine's TLS provider is missing (no 32-bit libgnutls30:i386 on this machine)"
    exit 77
fi
rm -rf "$work" && mkdir -p "$work" || exit 1
db="$work/policy.db"
ccf="Z:$(printf '%s' "$work/user.ccf" | tr / '\\')"
failures=0
server=""
serve_tls=""
ca_win="Z:$(printf '%s' "$work/tls/ca.pem" | tr / '\\')"
cleanup() {
    [ -n "$server" ] && kill "$server" 2>/dev/null
    [ -n "$serve_tls" ] && "$wine_run" "$bindir/vlagt.exe" untrust "$ca_win" >/dev/null 2>&1 </dev/null
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_line() { # expect_line FILE LINE
    tr -d '\r' <"$1" | grep -qxF "$2" || fail "expected \"$2\" in $1: $(tr '\n' '|' <"$1")"
}

if [ "$tls" = tls ]; then
    "$vlpolicyd" tls init --dir "$work/tls" >/dev/null || { echo "FAIL: tls init"; exit 1; }
    serve_tls="--tls-cert $work/tls/server.pem --tls-key $work/tls/server-key.pem"
    "$wine_run" "$bindir/vlagt.exe" trust "$ca_win" >"$work/trust.out" 2>"$work/wine.err" </dev/null ||
        { echo "FAIL: vlagt trust: $(cat "$work/trust.out")"; exit 1; }
fi
# shellcheck disable=SC2086 # the TLS options are words of their own
"$vlpolicyd" serve --demo --listen 127.0.0.1:0 --path /agent --db "$db" $serve_tls >"$work/serve.out" 2>"$work/serve.err" </dev/null &
server=$!
url=$(sh "$(dirname "$0")/../../scripts/listening.sh" "$work/serve.out" "$server")
[ -n "$url" ] || { echo "FAIL: vlpolicyd did not start: $(cat "$work/serve.err")"; exit 1; }
case "$tls:$url" in tls:https://*|:http://*) ;; *) fail "unexpected scheme: $url" ;; esac

# Login through the plain export; the shared record names the user; a session writes the CCF.
"$wine_run" "$bindir/vlserverprobe.exe" login "$url" demo01 demo-pass-01 "$ccf" >"$work/login.out" 2>>"$work/wine.err" </dev/null
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
# Over TLS the first exchange of a process loads the TLS provider and builds the certificate chain,
# which under emulation can take longer than the questions' 3000 ms: a login without a time bound
# comes first in that process, so the questions measure a warm process.
warm=""
[ "$tls" = tls ] && warm="url:$url login:demo01:demo-pass-01"
# shellcheck disable=SC2086 # an optional word
"$wine_run" "$bindir/vlapicaller.exe" "$work/quick.txt" $warm acl:demo01:confidential ping >/dev/null 2>>"$work/wine.err" </dev/null
"$wine_run" reg delete "$key_path" /v VLDrmAgtSvr /f /reg:32 >/dev/null 2>>"$work/wine.err" </dev/null
acl_hex="$(printf 'demo01:3:RWP' | od -An -tx1 | tr -d ' \n')$(printf '%060d' 0)"
expect_line "$work/quick.txt" "acl 1 $acl_hex"
expect_line "$work/quick.txt" "ping 1"
hung=$(grep '^hung:' "$work/wine.err")
[ -z "$hung" ] || fail "$hung"
[ "$failures" = 0 ] && echo "all passed"
exit "$failures"
