#!/bin/sh
# vlpolicyd's Debian package, built from this build's binary and checked without installing it: its
# files and control data, the maintainer scripts, lintian, `systemd-analyze verify` of the unit, and
# the packaged binary started the way the unit's ExecStart starts it (the settings file's variables,
# the unit's UMask) against a temporary state folder, answering a login.
#
# Usage: deb_test.sh <vlpolicyd> <vltestagent>
# Exit code: 0 pass, 1 fail, 77 skipped (dpkg-deb missing).
set -u
POLICYD=$1
AGENT=$2
root=$(cd "$(dirname "$0")/../../.." && pwd)
command -v dpkg-deb >/dev/null 2>&1 || { echo "SKIPPED: dpkg-deb is not installed"; exit 77; }
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vlpolicyd-debtest.XXXXXX")
SERVER_PID=""
cleanup() {
    if [ -n "$SERVER_PID" ]; then
        kill -TERM "$SERVER_PID" 2>/dev/null
        wait "$SERVER_PID" 2>/dev/null
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT
failed=0
fail() { echo "FAILED: $*"; failed=1; }
ok() { echo "ok: $*"; }

version=$(sed -n 's/^project(VLAgtClient VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
DEB=$WORK/vlpolicyd_${version}_amd64.deb
sh "$root/packaging/deb/build-deb.sh" "$version" "$POLICYD" "$DEB" >"$WORK/build.log" 2>&1 ||
    { cat "$WORK/build.log"; echo "FAILED: building the package"; exit 1; }

# Files and control data.
dpkg-deb -c "$DEB" | awk '$1 !~ /^d/ { print $1, $2, $6 }' | sort >"$WORK/files"
cat >"$WORK/expected" <<END
-rw-r--r-- root/root ./etc/vlpolicyd/vlpolicyd.conf
-rw-r--r-- root/root ./lib/systemd/system/vlpolicyd.service
-rw-r--r-- root/root ./usr/share/doc/vlpolicyd/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/vlpolicyd/copyright
-rw-r--r-- root/root ./usr/share/man/man8/vlpolicyd.8.gz
-rwxr-xr-x root/root ./usr/bin/vlpolicyd
END
diff "$WORK/expected" "$WORK/files" >"$WORK/diff" && ok "the package holds exactly its files, owned by root" ||
    fail "the package's files differ: $(cat "$WORK/diff")"
field() { dpkg-deb -f "$DEB" "$1"; }
[ "$(field Package) $(field Version) $(field Architecture)" = "vlpolicyd $version amd64" ] &&
    ok "control: vlpolicyd $version amd64" || fail "control: $(field Package) $(field Version) $(field Architecture)"
field Depends | grep -q 'libsqlite3-0.*adduser' && ok "control: the libraries and adduser are dependencies" ||
    fail "control: Depends is $(field Depends)"
mkdir -p "$WORK/control" "$WORK/root"
dpkg-deb -e "$DEB" "$WORK/control"
dpkg-deb -x "$DEB" "$WORK/root"
[ "$(cat "$WORK/control/conffiles")" = /etc/vlpolicyd/vlpolicyd.conf ] && ok "the settings file is a conffile" ||
    fail "conffiles: $(cat "$WORK/control/conffiles")"
for script in postinst prerm postrm; do
    sh -n "$WORK/control/$script" || fail "$script does not parse"
done
grep -q 'adduser --system' "$WORK/control/postinst" && ok "postinst makes the system user" || fail "postinst makes no system user"
grep -Eq '(systemctl|deb-systemd-helper) enable' "$WORK/control/postinst" && fail "postinst enables the unit (the store has no users yet)" ||
    ok "postinst leaves the unit disabled"
grep -q 'stop vlpolicyd.service' "$WORK/control/prerm" && ok "prerm stops the service" || fail "prerm does not stop the service"
zcat "$WORK/root/usr/share/man/man8/vlpolicyd.8.gz" | grep -q 'approve' && ok "the man page has the commands' help" ||
    fail "the man page lacks the commands' help"

if command -v lintian >/dev/null 2>&1; then
    lintian --tag-display-limit 0 "$DEB" >"$WORK/lintian" 2>&1
    tags=$(grep -v 'running with root privileges' "$WORK/lintian")
    [ -z "$tags" ] && ok "lintian: no tags" || fail "lintian: $tags"
else
    echo "lintian not installed: not run"
fi

# The unit, against the package's own files and this machine's systemd units (the man page is not
# installed, so it is not looked up).
if command -v systemd-analyze >/dev/null 2>&1 && [ -d /lib/systemd/system ]; then
    mkdir -p "$WORK/root/usr/lib/systemd"
    cp -a /lib/systemd/system "$WORK/root/usr/lib/systemd/"
    if systemd-analyze verify --man=no --root="$WORK/root" /lib/systemd/system/vlpolicyd.service >"$WORK/verify" 2>&1 &&
       [ ! -s "$WORK/verify" ]; then
        ok "systemd-analyze verify: clean"
    else
        fail "systemd-analyze verify: $(cat "$WORK/verify")"
    fi
else
    echo "systemd-analyze not available: the unit is not verified"
fi

# The packaged binary as the unit starts it: ExecStart with the settings file's variables (listen
# address and store moved into the temporary folder), the unit's UMask.
unit=$WORK/root/lib/systemd/system/vlpolicyd.service
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
umask_value=$(sed -n 's/^UMask=//p' "$unit")
STATE=$WORK/state
mkdir -p "$STATE"
(
    . "$WORK/root/etc/vlpolicyd/vlpolicyd.conf"
    VLPOLICYD_LISTEN=127.0.0.1:0
    VLPOLICYD_DB=$STATE/policy.db
    eval "set -- $exec_start"
    [ "$1" = /usr/bin/vlpolicyd ] || { echo "ExecStart runs $1" >&2; exit 1; }
    shift
    umask "$umask_value"
    exec "$WORK/root/usr/bin/vlpolicyd" "$@"
) >"$WORK/server.out" 2>"$WORK/server.log" </dev/null &
SERVER_PID=$!
URL=$("$root/scripts/listening.sh" "$WORK/server.out" "$SERVER_PID")
[ -n "$URL" ] || { echo "FAILED: the packaged vlpolicyd did not start: $(cat "$WORK/server.log")"; exit 1; }
ok "the packaged vlpolicyd started as the unit starts it: $URL"
port=$(printf '%s' "$URL" | sed 's|^http://127.0.0.1:\([0-9]*\)/.*|\1|')
printf 'pkg-pass-01\n' | "$WORK/root/usr/bin/vlpolicyd" user add alice --db "$STATE/policy.db" >"$WORK/useradd" 2>&1 ||
    fail "user add: $(cat "$WORK/useradd")"
answer=$("$AGENT" "$port" login alice pkg-pass-01)
[ "$answer" = 40000 ] && ok "it answers a login (40000)" || fail "login answered $answer"
answer=$("$AGENT" "$port" login alice wrong-pass)
[ "$answer" = 41001 ] && ok "it refuses a wrong password (41001)" || fail "a wrong password answered $answer"
mode=$(stat -c %a "$STATE/policy.db")
[ "$mode" = 600 ] && ok "the store is private to the service (mode 600)" || fail "the store has mode $mode"

[ "$failed" = 0 ] && echo "PASSED" || echo "FAILED"
exit "$failed"
