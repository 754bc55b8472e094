#!/bin/sh
# The module over https against a bare TLS listener: with the test CA trusted a ping goes through;
# a self-signed certificate, one of an unknown CA, one for another host name, an expired one, and a
# plain-HTTP server behind an https URL each end a login and a web login with result 0, the
# usual send-failure and close lines, one line naming the WinINet error and its meaning, and nothing
# of the request in clear at the listener (it sees a TLS ClientHello and no application data).
# Usage: tls_refusals.sh VLPOLICYD WINE_RUN BINDIR WORKFOLDER
# Exit code 77 (skipped) when vlpolicyd or its TLS listener is not built, or when Wine has no TLS
# provider (its 32-bit GnuTLS library).
set -u
vlpolicyd="$1"
wine_run="$2"
bindir="$3"
work="$4"
export VLAGT_WINE_TIMEOUT=60
listener="$(dirname "$vlpolicyd")/vltlslistener"
if [ -z "$vlpolicyd" ] || [ ! -x "$vlpolicyd" ] || [ ! -x "$listener" ]; then
    echo "skipped: no native vlpolicyd and vltlslistener (configure with -DVLPOLICYD_EXECUTABLE=..., as scripts/test.sh does)"
    exit 77
fi
if ! ls /usr/lib/i386-linux-gnu/libgnutls.so.30* >/dev/null 2>&1; then
    echo "skipped: Wine's TLS provider is missing (no 32-bit libgnutls30:i386 on this machine)"
    exit 77
fi
rm -rf "$work" && mkdir -p "$work" || exit 1
failures=0
pid=""
ca="Z:$(printf '%s' "$work/ca/ca.pem" | tr / '\\')"
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    "$wine_run" "$bindir/vlagt.exe" untrust "$ca" >/dev/null 2>&1 </dev/null
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$vlpolicyd" tls init --dir "$work/ca" --keep-ca-key >/dev/null || { echo "FAIL: tls init"; exit 1; }
"$wine_run" "$bindir/vlagt.exe" trust "$ca" >"$work/trust.out" 2>"$work/wine.err" </dev/null ||
    { echo "FAIL: vlagt trust: $(cat "$work/trust.out")"; exit 1; }

start_listener() { # start_listener KIND
    rm -f "$work/record" "$work/record.raw"
    "$listener" --certs "$work/ca" --kind "$1" --record "$work/record" >"$work/listener.out" 2>>"$work/listener.err" </dev/null &
    pid=$!
    # Key generation: seconds on a busy machine.
    port=$(sh "$(dirname "$0")/../../scripts/listening.sh" "$work/listener.out" "$pid" 60)
    [ -n "$port" ] || fail "the listener ($1) did not start: $(cat "$work/listener.err")"
}
stop_listener() {
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    pid=""
}
probe() { # probe KIND EXCHANGE -> $work/probe.out
    "$wine_run" "$bindir/vlserverprobe.exe" exchange "https://127.0.0.1:$port/agent" demo01 tls-secret-pw "$2" \
        >"$work/probe.out" 2>>"$work/wine.err" </dev/null
    tr -d '\r' <"$work/probe.out" >"$work/probe.txt"
}

# The listener itself: with its certificate from the trusted CA the ping is answered over TLS.
start_listener trusted
probe trusted ping
grep -qx 'result 40000' "$work/probe.txt" || fail "trusted listener: the ping was not answered: $(tr '\n' '|' <"$work/probe.txt")"
sleep 0.3
grep -q 'client-hello yes handshake ok' "$work/record" 2>/dev/null || fail "trusted listener: no TLS handshake recorded"
stop_listener

for row in "self-signed|certificate issuer not trusted" \
           "unknown-ca|certificate issuer not trusted" \
           "wrong-name|certificate does not name the server's host" \
           "expired|certificate expired or not yet valid" \
           "plain|no TLS connection: the server does not speak TLS or the handshake failed"; do
    kind=${row%%|*}
    words=${row#*|}
    start_listener "$kind"
    for exchange in login web; do
        probe "$kind" "$exchange"
        what="$kind, $exchange"
        sed -n "s/^debug \[TLS\] /$what: /p" "$work/probe.txt"
        grep -qx 'result 0' "$work/probe.txt" || fail "$what: not result 0: $(tr '\n' '|' <"$work/probe.txt")"
        if [ "$exchange" = login ]; then
            send_failure='^debug Fail to HttpSendRequestEx with only HTTP\. Error Code is \[[0-9a-f]*\]\[[0-9]*\]$'
        else
            send_failure='^debug \[UseHttpSendReqEx\] ERROR_HTTPSENDREQUEST$'
        fi
        # The send-failure line, the TLS line, the three close lines: one run, in that order.
        run=$(grep -A4 "$send_failure" "$work/probe.txt" | tr '\n' '|')
        case "$run" in
        *"|debug [TLS] exchange refused: WinINet error "[0-9]*", $words|debug InternetCloseHandle: m_hRequest|debug InternetCloseHandle: m_hConnect|debug InternetCloseHandle: m_hSession|")
            ;;
        *) fail "$what: expected the failure, \"$words\" and the close lines: $(tr '\n' '|' <"$work/probe.txt")" ;;
        esac
    done
    sleep 0.5 # the listener writes its record when a connection ends
    [ -s "$work/record" ] || fail "$kind: nothing reached the listener"
    grep -v 'client-hello yes' "$work/record" | grep -q . && fail "$kind: a connection without a TLS ClientHello: $(cat "$work/record")"
    grep -v 'application-bytes 0$' "$work/record" | grep -q . && fail "$kind: request bytes went past the handshake: $(cat "$work/record")"
    for secret in tls-secret-pw USER_ID _%REQ_LIN%_; do
        grep -qF -- "$secret" "$work/record.raw" 2>/dev/null && fail "$kind: \"$secret\" reached the listener in clear"
    done
    stop_listener
done

hung=$(grep '^hung:' "$work/wine.err")
[ -z "$hung" ] || fail "$hung"
[ "$failures" = 0 ] && echo "all passed"
exit "$failures"
