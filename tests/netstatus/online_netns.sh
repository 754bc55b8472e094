#!/bin/sh
# CDRMLogin::CheckOnline inside network namespaces that this script creates, so that the echo to the
# machine's own address never leaves them. Each case runs vlonline.exe (a caller of the exported
# class) under a wineserver started inside the namespace, in a prefix of its own that is reused
# across runs, and compares what it printed and the namespace's ICMP counters.
#
# Usage: online_netns.sh loopback_only|with_address|host_name_length|leak_check <bin folder> <prefix folder>
# Exit code: 0 pass, 1 fail, 77 skipped (no root, unshare or ip).
set -u
case_name=$1
bin=$2
export WINEPREFIX=$3 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
. "$scripts/wine-env.sh"
# Every Wine call is bounded; one that hangs fails the case with a line naming it.
bwine() { "$scripts/bounded.sh" 120 "$VLAGT_WINE" "$@"; }

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; failed=1; }

if [ "${VLAGT_IN_NETNS:-}" != 1 ]; then
    [ "$(id -u)" = 0 ] || skip "network namespaces need root"
    for tool in unshare ip wine wineserver; do
        command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
    done
    unshare -n -u true 2>/dev/null || skip "unshare -n -u is not permitted here"
    mkdir -p "$WINEPREFIX"
    # The prefix's wineserver must run inside the namespace: stop any left over, before and after.
    "$scripts/wine-prefix.sh" stop
    VLAGT_IN_NETNS=1 unshare -n -u sh "$0" "$@"
    rc=$?
    "$scripts/wine-prefix.sh" stop
    exit $rc
fi

# --- inside the namespace ---
failed=0
out=$(mktemp)
trap 'rm -f "$out" "$out.err"' EXIT

out_echos() {
    awk '/^Icmp:/ { if (!c) { for (i = 1; i <= NF; i++) if ($i == "OutEchos") c = i } else print $c }' /proc/net/snmp
}
add_address() {
    ip link add v0 type veth peer name v1 &&
    ip addr add 10.231.0.1/24 dev v0 &&
    ip link set v0 up && ip link set v1 up || { echo "cannot set up the veth pair"; exit 1; }
}
# check <host name> <expected output> <expected echoes>: one run of vlonline.exe; the last-error
# values of failed checks are not compared.
check() {
    echo "$1" >/proc/sys/kernel/hostname
    before=$(out_echos)
    (cd "$bin" && bwine ./vlonline.exe >"$out" 2>"$out.err" </dev/null) || fail "vlonline.exe exited $? $(grep '^hung:' "$out.err")"
    got=$(sed -e 's/ error=[0-9]*//' -e 's/\r$//' "$out")
    echoes=$(($(out_echos) - before))
    [ "$got" = "$2" ] || fail "host name of ${#1} characters: expected '$2', got '$got'"
    [ "$echoes" = "$3" ] || fail "host name of ${#1} characters: $echoes echoes sent, expected $3"
}

ip link set lo up
"$scripts/wine-prefix.sh" start || { echo "FAILED: the prefix did not start"; exit 1; }

case "$case_name" in
    loopback_only)
        # Only 127.0.0.1: both checks answer 0, nOnline is written 0, and no echo is sent.
        check vlagt-loopback "unshared 0 untouched
shared 0 0" 0
        ;;
    with_address)
        # A non-loopback address: both checks answer 1 (ICMP.DLL loaded again after its release);
        # only the session that has the record mapped writes nOnline; one echo per check.
        add_address
        check vlagt-online "unshared 1 untouched
shared 1 1" 2
        ;;
    host_name_length)
        # 39 characters fit the 40-byte host-name buffer; 40 do not, and the check answers 0.
        add_address
        check "$(printf '%039d' 0 | tr 0 h)" "unshared 1 untouched
shared 1 1" 2
        check "$(printf '%040d' 0 | tr 0 h)" "unshared 0 untouched
shared 0 0" 0
        ;;
    leak_check)
        # 1000 checks (and 20 to warm up) leave the handle count and the heap as they were.
        add_address
        echo vlagt-online >/proc/sys/kernel/hostname
        before=$(out_echos)
        (cd "$bin" && "$scripts/bounded.sh" 300 "$VLAGT_WINE" ./vlonline.exe leaks 1000 >"$out" 2>"$out.err" </dev/null) ||
            fail "vlonline.exe exited $? $(grep '^hung:' "$out.err")"
        echoes=$(($(out_echos) - before))
        set -- $(sed 's/\r$//' "$out")
        [ "${1:-}" = leaks ] && [ "${2:-}" = 1000 ] || fail "expected 1000 checks online, got '$(cat "$out")'"
        [ "${4:-99}" -le 4 ] || fail "handle count grew by $4"
        [ "${6:-99999}" -le 16384 ] || fail "heap in use grew by $6 bytes"
        [ "$echoes" = 1020 ] || fail "$echoes echoes sent, expected 1020"
        echo "$(cat "$out")"
        ;;
    *)
        echo "unknown case $case_name"
        failed=1
        ;;
esac
"$scripts/wine-prefix.sh" stop
[ "$failed" = 0 ] && echo "PASSED: $case_name"
exit "$failed"
