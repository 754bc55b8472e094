#!/bin/sh
# The real vlpolicyd binary: its ready line, the administration commands beside a running server,
# usage errors, and a clean stop on SIGTERM.
# Usage: command_line_test.sh VLPOLICYD WORKFOLDER
set -u
bin="$1"
work="$2"
listening="$(dirname "$0")/../../scripts/listening.sh"
rm -rf "$work" && mkdir -p "$work" || exit 1
db="$work/policy.db"
failures=0
server=""
trap '[ -n "$server" ] && kill "$server" 2>/dev/null' EXIT

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_exit() { # expect_exit CODE COMMAND...
    want="$1"; shift
    "$@" >"$work/out" 2>"$work/err"
    got=$?
    [ "$got" = "$want" ] || fail "exit $got (want $want): $* -- $(cat "$work/err")"
}

# A new database without --demo has no account; store init --demo makes the demonstration users,
# once.
expect_exit 0 "$bin" user list --db "$work/plain.db"
[ -s "$work/out" ] && fail "a new store has users: $(cat "$work/out")"
expect_exit 1 "$bin" store init --db "$work/plain.db"
expect_exit 0 "$bin" store init --demo --db "$db"
expect_exit 1 "$bin" store init --demo --db "$db"
grep -q 'exists already' "$work/err" || fail "store init over a store: $(cat "$work/err")"
expect_exit 0 "$bin" user list --db "$db"
grep -q '^demo01	DEMOCO	DEMO-MANAGERS	P01' "$work/out" || fail "user list lacks demo01: $(cat "$work/out")"
grep -q '^demo02	' "$work/out" || fail "user list lacks demo02"

start_server() {
    "$bin" serve --listen 127.0.0.1:0 --path /agent --db "$db" >"$work/serve.out" 2>>"$work/serve.err" </dev/null &
    server=$!
    url=$(sh "$listening" "$work/serve.out" "$server")
}
start_server
grep -Eqx 'listening on http://127\.0\.0\.1:[0-9]+/agent' "$work/serve.out" || fail "ready line: $(cat "$work/serve.out")"
[ "$(wc -l <"$work/serve.out")" = 1 ] || fail "more than one line on stdout"
curl -s --max-time 5 "$url" | grep -q vlpolicyd || fail "GET of the path"
[ "$(curl -s --max-time 5 --data-binary '_%REQ_PNG%_' -H 'Content-Type:' "$url")" = '_%RES_PNG%_' ] || fail "ping"

# Administration beside the running server. Passwords come from standard input, never from argv.
echo 'pw with blanks' | expect_exit 0 "$bin" user add alice --position P07 --db "$db"
grep -q 'blanks' "$work/out" "$work/err" && fail "user add shows the password"
echo x | expect_exit 1 "$bin" user add alice --db "$db"
grep -q 'exists already' "$work/err" || fail "duplicate user message"
echo x | expect_exit 2 "$bin" user add '<bad>' --db "$db"
echo x | expect_exit 1 "$bin" user add bob --group NOGROUP --db "$db"
: | expect_exit 2 "$bin" user add nopass --db "$db"
echo 'twenty-one-characters' | expect_exit 2 "$bin" user add toolong --db "$db"
expect_exit 2 "$bin" user add carol --password s3cret-x --db "$db"
expect_exit 2 "$bin" admin add carol --password 's3cret-long' --db "$db"
grep -q 's3cret' "$work/err" && fail "a refused --password is repeated: $(cat "$work/err")"
expect_exit 0 "$bin" user unlock alice --db "$db"
expect_exit 0 "$bin" user remove alice --db "$db"
expect_exit 1 "$bin" user remove alice --db "$db"

# The console's administrators: the password from standard input, never echoed.
echo 'console-pass-01' | expect_exit 0 "$bin" admin add root --db "$db"
echo 'another-pass' | expect_exit 0 "$bin" admin add second --db "$db"
grep -q 'pass' "$work/out" "$work/err" && fail "admin add shows the password"
echo 'console-pass-02' | expect_exit 1 "$bin" admin add root --db "$db"
grep -q 'exists already' "$work/err" || fail "duplicate administrator message"
echo 'seven77' | expect_exit 2 "$bin" admin add short --db "$db"
echo 'long-enough' | expect_exit 2 "$bin" admin add '<b>' --db "$db"
: | expect_exit 2 "$bin" admin add nopass --db "$db"
expect_exit 0 "$bin" admin list --db "$db"
[ "$(cut -f1 "$work/out" | tr '\n' ' ')" = "root second " ] || fail "admin list: $(cat "$work/out")"
curl -s --max-time 5 -o /dev/null -w '%{http_code}' -d 'name=root&password=console-pass-01' "${url%/agent}/admin/signin" \
    >"$work/status"
[ "$(cat "$work/status")" = 303 ] || fail "the added administrator cannot sign in: $(cat "$work/status")"
expect_exit 0 "$bin" admin remove second --db "$db"
expect_exit 1 "$bin" admin remove second --db "$db"
expect_exit 0 "$bin" admin unlock root --db "$db"

# A take-out by the binary exchange after demo02's login from this address, then decided on the
# command line.
printf '_%%REQ_LIN%%_demo02' >"$work/login"
head -c 14 /dev/zero >>"$work/login"
printf 'demo-pass-02' >>"$work/login"
head -c 8 /dev/zero >>"$work/login"
printf 'kesmor' >>"$work/login"
head -c 4 /dev/zero >>"$work/login"
curl -s --max-time 5 --data-binary @"$work/login" -H 'Content-Type:' "$url" | head -c 5 >"$work/status"
[ "$(cat "$work/status")" = 40000 ] || fail "login of demo02: $(cat "$work/status")"
printf '_%%REQ_OUT%%_demo02' >"$work/req"
head -c 14 /dev/zero >>"$work/req"
printf 'trade fair' >>"$work/req"
head -c 246 /dev/zero >>"$work/req"
printf '2027060120270605' >>"$work/req"
head -c 70 /dev/zero >>"$work/req"
curl -s --max-time 5 --data-binary @"$work/req" -H 'Content-Type:' "$url" | head -c 5 >"$work/status"
[ "$(cat "$work/status")" = 40000 ] || fail "take-out request: $(cat "$work/status")"

# Killed at once, the server loses nothing it answered.
kill -KILL "$server"
wait "$server" 2>/dev/null
start_server
expect_exit 0 "$bin" takeout list --db "$db"
key=$(cut -f1 "$work/out" | head -n1)
grep -Eq '^[0-9a-f]{32}	demo02	requested	20270601	20270605	-	-	trade fair$' "$work/out" \
    || fail "takeout list: $(cat "$work/out")"
expect_exit 2 "$bin" takeout approve "$key" --start 20270602 --db "$db"
expect_exit 2 "$bin" takeout approve "$key" --start 20270602 --end 20270601 --db "$db"
expect_exit 1 "$bin" takeout approve 0123 --db "$db"
expect_exit 0 "$bin" takeout approve "$key" --start 20270602 --end 20270604 --db "$db"
expect_exit 0 "$bin" takeout list --db "$db"
grep -q "	approved	20270601	20270605	20270602	20270604	" "$work/out" || fail "approved: $(cat "$work/out")"
expect_exit 0 "$bin" takeout refuse "$key" --db "$db"
expect_exit 1 "$bin" takeout cancel "$key" --db "$db"

expect_exit 0 "$bin" log --db "$db"
[ "$(wc -l <"$work/out")" = 4 ] || fail "log: $(cat "$work/out")"
grep -q ' 127.0.0.1 admin-signin root 40000$' "$work/out" || fail "console sign-in log line: $(cat "$work/out")"
expect_exit 0 "$bin" log --last 1 --db "$db"
[ "$(wc -l <"$work/out")" = 1 ] || fail "log --last 1: $(cat "$work/out")"
grep -q ' 127.0.0.1 takeout demo02 40000$' "$work/out" || fail "log line: $(cat "$work/out")"
grep -q ' 127.0.0.1 takeout demo02 40000$' "$work/serve.err" || fail "stderr log line"

# Usage errors: one line on stderr, exit 2.
expect_exit 2 "$bin" frobnicate
[ "$(wc -l <"$work/err")" = 1 ] || fail "usage error is not one line: $(cat "$work/err")"
expect_exit 2 "$bin" serve --listen 127.0.0.1:99999 --db "$db"
expect_exit 2 "$bin" serve --path 'no-slash' --db "$db"
expect_exit 2 "$bin" serve --path /admin --db "$db"
expect_exit 2 "$bin" serve --log-keep-rows 0 --db "$db"
expect_exit 2 "$bin" serve --log-keep-days 0 --db "$db"
expect_exit 0 "$bin" takeout approve --help
grep -q -- '--start' "$work/out" || fail "approve --help"

kill -TERM "$server"
i=0
while [ "$i" -lt 100 ] && kill -0 "$server" 2>/dev/null; do sleep 0.05; i=$((i + 1)); done
if kill -0 "$server" 2>/dev/null; then fail "SIGTERM did not stop the server"; else
    wait "$server"; rc=$?; [ "$rc" = 0 ] || fail "serve exit code $rc after SIGTERM"; fi
server=""

# TLS: tls init writes its files once, the CA's key only with --keep-ca-key (and says to move it);
# serve takes them (ready line https), refuses a key that does not belong to the certificate
# (exit 1) and a certificate without a key (usage, exit 2).
expect_exit 0 "$bin" tls init --dir "$work/tls"
for f in ca.pem server.pem server-key.pem; do [ -s "$work/tls/$f" ] || fail "tls init wrote no $f"; done
[ -e "$work/tls/ca-key.pem" ] && fail "tls init kept the CA key unasked"
grep -q 'CA key *not kept' "$work/out" || fail "tls init does not say the CA key is gone: $(cat "$work/out")"
expect_exit 1 "$bin" tls init --dir "$work/tls" --host other.invalid
grep -q 'exists already' "$work/err" || fail "tls init over existing files: $(cat "$work/err")"
expect_exit 0 "$bin" tls init --dir "$work/kept" --keep-ca-key
[ -s "$work/kept/ca-key.pem" ] || fail "tls init --keep-ca-key wrote no ca-key.pem"
grep -q 'move it off the server' "$work/out" || fail "tls init does not say to move the CA key: $(cat "$work/out")"
expect_exit 2 "$bin" serve --tls-cert "$work/tls/server.pem" --db "$db"
expect_exit 1 "$bin" serve --listen 127.0.0.1:0 --tls-cert "$work/tls/server.pem" --tls-key "$work/kept/ca-key.pem" --db "$db"
expect_exit 2 "$bin" serve --listen 127.0.0.1:0 --trusted-proxy not-an-address --db "$db"
"$bin" serve --listen 127.0.0.1:0 --path /agent --db "$db" --tls-cert "$work/tls/server.pem" \
    --tls-key "$work/tls/server-key.pem" >"$work/tls.out" 2>>"$work/serve.err" </dev/null &
server=$!
sh "$listening" "$work/tls.out" "$server" >/dev/null
grep -q '^listening on https://127\.0\.0\.1:[0-9]*/agent$' "$work/tls.out" || fail "TLS ready line: $(cat "$work/tls.out")"
kill -TERM "$server"
wait "$server"
server=""

[ "$failures" = 0 ] && echo "all passed"
exit "$failures"
