#!/bin/sh
# Runs test programs inside a network namespace of its own, where the policy server can sit on a
# non-loopback address (WinINet never uses a proxy for loopback): a veth pair gives the namespace
# 10.231.0.1 (VLAGT_NETNS_ADDRESS), tinyproxy listens there (VLAGT_PROXY, its log VLAGT_PROXY_LOG),
# and the wineserver of a private prefix is started inside the namespace (Wine answers network
# queries from the wineserver's process tree). With VLAGT_VLPOLICYD naming vlpolicyd, it also serves
# HTTPS there (VLAGT_TLS_URL), its test CA trusted in the prefix.
# Usage: proxy-test.sh <bin folder> <work folder> <program> [<gtest filter>] ...
# Exit code: 0 when every program passed, else 1; 77 (skipped) with the reason when namespaces or
# the tools are missing.
set -u
bin=$1
work=$2
address=10.231.0.1
port=8888

skip() {
    echo "SKIPPED: $*"
    exit 77
}

if [ -z "${VLAGT_PROXY_NETNS:-}" ]; then
    command -v tinyproxy >/dev/null 2>&1 || skip "tinyproxy is not installed (scripts/install-deps.sh)"
    command -v ip >/dev/null 2>&1 || skip "ip is not installed (iproute2, scripts/install-deps.sh)"
    command -v unshare >/dev/null 2>&1 || skip "unshare is not available"
    unshare -n -u true 2>/dev/null || skip "no network namespaces here (needs root or CAP_SYS_ADMIN)"
    VLAGT_PROXY_NETNS=1 exec unshare -n -u sh "$0" "$@"
fi
shift 2

# Inside the namespace: loopback and one veth pair, nothing else; a short host name of its own.
echo vlagt-netns >/proc/sys/kernel/hostname
{ ip link set lo up && ip link add v0 type veth peer name v1 && ip addr add $address/24 dev v0 &&
    ip link set v0 up && ip link set v1 up; } || skip "cannot set up a veth pair in the namespace"

mkdir -p "$work"
log="$work/tinyproxy.log"
rm -f "$log"
cat >"$work/tinyproxy.conf" <<CONF
Port $port
Listen $address
Timeout 30
LogFile "$log"
LogLevel Info
MaxClients 20
Allow $address
Allow 127.0.0.1
ViaProxyName "tinyproxy"
CONF
tinyproxy -d -c "$work/tinyproxy.conf" >"$work/tinyproxy.out" 2>&1 </dev/null &
proxy=$!

export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
. "$scripts/wine-env.sh"
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY
policyd=""
cleanup() {
    "$scripts/wine-prefix.sh" stop
    kill $proxy 2>/dev/null
    wait $proxy 2>/dev/null
    [ -n "$policyd" ] && kill "$policyd" 2>/dev/null
}
trap cleanup EXIT

# tinyproxy is ready once its log says so (at most 5 s).
i=0
until grep -q "Accepting connections" "$log" 2>/dev/null; do
    i=$((i + 1))
    [ $i -le 50 ] || { cat "$work/tinyproxy.out"; echo "tinyproxy did not start"; exit 1; }
    sleep 0.1
done

# The prefix's server and services, with their output detached (the pipe trap).
# The prefix is started here, in the namespace under its host name, and reused; one made elsewhere
# (another host name, another network) is made anew: copied from VLAGT_WINE_SEED when that is set
# (Wine takes the host name and the network afresh when its server starts), else by wineboot.
if [ ! -f "$work/prefix-made-in-netns" ]; then
    rm -rf "$WINEPREFIX"
fi
mkdir -p "$WINEPREFIX"
"$scripts/wine-prefix.sh" stop # one left over from outside the namespace would answer for it
"$scripts/wine-prefix.sh" start || { echo "the prefix did not start"; exit 1; }
touch "$work/prefix-made-in-netns"

# vlpolicyd over HTTPS beside tinyproxy, with a certificate for the namespace's address.
if [ -n "${VLAGT_VLPOLICYD:-}" ] && [ -x "$VLAGT_VLPOLICYD" ]; then
    rm -rf "$work/tls"
    "$VLAGT_VLPOLICYD" tls init --dir "$work/tls" --host $address >/dev/null || { echo "tls init failed"; exit 1; }
    "$VLAGT_VLPOLICYD" serve --demo --listen $address:0 --db "$work/tls/policy.db" --tls-cert "$work/tls/server.pem" \
        --tls-key "$work/tls/server-key.pem" >"$work/tls/serve.out" 2>"$work/tls/serve.err" </dev/null &
    policyd=$!
    VLAGT_TLS_URL=$("$scripts/listening.sh" "$work/tls/serve.out" "$policyd") ||
        { cat "$work/tls/serve.err"; echo "vlpolicyd did not start"; exit 1; }
    "$scripts/bounded.sh" 120 wine "$bin/vlagt.exe" trust "Z:$(echo "$work/tls/ca.pem" | tr / '\\')" >/dev/null </dev/null ||
        { echo "vlagt trust failed"; exit 1; }
    VLAGT_TLS_SERVER_LOG="Z:$(echo "$work/tls/serve.err" | tr / '\\')"
    export VLAGT_TLS_URL VLAGT_TLS_SERVER_LOG
fi

export VLAGT_NETNS_ADDRESS=$address VLAGT_PROXY="$address:$port" VLAGT_PROXY_LOG="Z:$(echo "$log" | tr / '\\')"
rc=0
while [ $# -ge 2 ]; do
    # Bounded: a hung program fails with a line naming it.
    "$scripts/bounded.sh" 120 "$VLAGT_WINE" "$bin/$1" --gtest_filter="$2" || rc=1
    shift 2
done
exit $rc
