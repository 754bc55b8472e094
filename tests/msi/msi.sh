#!/bin/sh
# The release package of one architecture under Wine, in a fresh prefix of its own: installed with
# /qn SERVERURL=..., the installed vlagt.exe shows the URL and logs in against vlpolicyd, the type
# library loads through its registration; a newer package upgrades it and keeps the URL; the older
# one is refused; removal leaves nothing (files, folders, the settings key, the shell open command,
# the type library, the uninstall entry); the per-site copy (signed) installs without properties and
# writes its URL. The x86 run also checks that an x64 package is refused on 32-bit Windows.
#
# Usage: msi.sh x86|x64 <bin folder> <vlpolicyd> <prefix folder>   (VLAGT_WINE_SEED: a prefix to copy)
# Exit code: 0 pass, 1 fail, 77 skipped (vlpolicyd or the packaging tools missing).
set -u
ARCH=$1
BIN=$(cd "$2" && pwd)
POLICYD=$3
export WINEPREFIX=$4 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ "$ARCH" = x64 ] && export WINEARCH=win64 || export WINEARCH=win32
root=$(cd "$(dirname "$0")/../.." && pwd)
scripts=$root/scripts
. "$scripts/wine-env.sh"
LIMIT=${VLAGT_WINE_TIMEOUT:-180}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vlagt-msi.XXXXXX")
SERVER_PID=""

[ -x "$POLICYD" ] || { echo "SKIPPED: $POLICYD is not built"; exit 77; }
for tool in wixl msibuild msiinfo osslsigncode openssl; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIPPED: $tool is not installed (scripts/install-deps.sh)"; exit 77; }
done

cleanup() {
    if [ -n "$SERVER_PID" ]; then
        kill -TERM "$SERVER_PID" 2>/dev/null
        wait "$SERVER_PID" 2>/dev/null
    fi
    "$scripts/wine-prefix.sh" stop
    rm -rf "$WORK" "$WINEPREFIX"
}
trap cleanup EXIT
failed=0
fail() { echo "FAILED: $*"; failed=1; }
ok() { echo "ok: $*"; }

# wrun PROGRAM ARGS...: bounded, output (CR removed) in OUT, exit code in RC (8 bits under wine).
wrun() {
    "$scripts/bounded.sh" "$LIMIT" "$VLAGT_WINE" "$@" >"$WORK/out" 2>&1 </dev/null
    RC=$?
    OUT=$(tr -d '\r' <"$WORK/out")
}
msiexec() { wrun msiexec "$@"; }
# expect WHAT RC [PATTERN]
expect() {
    if [ "$RC" != "$2" ] || { [ $# -ge 3 ] && ! printf '%s\n' "$OUT" | grep -q -- "$3"; }; then
        fail "$1: exit $RC (expected $2), output:"
        printf '%s\n' "$OUT" | sed 's/^/    /'
        return 1
    fi
    ok "$1"
}
# present KEY [VALUE-ARGS...] / absent KEY: registry checks through reg.exe.
reg_query() { wrun reg query "$@"; }

DIR_WIN='C:\Program Files\Velmora\Tessaline'
DIR="$WINEPREFIX/drive_c/Program Files/Velmora/Tessaline"
VLAGT="$DIR_WIN\\vlagt.exe"
LIBID='{3F6B2C1D-7A4E-4C9B-9D21-5E8A0B7C6F14}'
[ "$ARCH" = x64 ] && TLBKEY="409\\win64" || TLBKEY="409\\win32"
UNINSTALL='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'

# The packages: 1.0.0 and 1.0.1 from the same binaries, and a per-site copy of 1.0.1, signed with a
# throw-away certificate.
build() { sh "$root/packaging/msi/build-msi.sh" "$ARCH" "$BIN" "$1" "$WORK/$2" >"$WORK/build.log" 2>&1 ||
    { cat "$WORK/build.log"; echo "FAILED: building $2"; exit 1; }; }
build 1.0.0 old.msi
build 1.0.1 new.msi
build 1.0.2 newer.msi
product_code() { msiinfo export "$WORK/$1" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }'; }
OLD_CODE=$(product_code old.msi)
NEW_CODE=$(product_code new.msi)
NEWER_CODE=$(product_code newer.msi)
# Every versioned file of the package carries its binary's version.
versions=$(msiinfo export "$WORK/new.msi" File | tr -d '\r' | awk -F'\t' '$3 ~ /\.dll$/ && $5 == "" { print $1 }')
[ -z "$versions" ] && ok "the File table's DLLs carry versions" || fail "DLLs without a version in the File table: $versions"

mkdir -p "$WINEPREFIX"
"$scripts/wine-prefix.sh" start || { echo "FAILED: the prefix did not start"; exit 1; }
cp "$WORK"/*.msi "$WINEPREFIX/drive_c/"

"$POLICYD" serve --demo --listen 127.0.0.1:0 --db "$WORK/policy.db" >"$WORK/server.out" 2>"$WORK/server.log" </dev/null &
SERVER_PID=$!
URL=$("$scripts/listening.sh" "$WORK/server.out" "$SERVER_PID")
[ -n "$URL" ] || { echo "FAILED: vlpolicyd did not start: $(cat "$WORK/server.log")"; exit 1; }

# Install.
msiexec /i 'C:\old.msi' /qn "SERVERURL=$URL" /l*v 'C:\install.log'
expect "install 1.0.0 with SERVERURL" 0 || sed 's/^/    /' "$WINEPREFIX/drive_c/install.log" | grep -i "error\|return value 3" | head -20
for f in VLAgtClient.dll Corvane.dll vlagt.exe; do
    [ -f "$DIR/$f" ] || fail "$f is not installed"
done
if [ "$ARCH" = x64 ]; then
    [ -f "$DIR/x64/Ossilet.dll" ] && [ -f "$DIR/x64/Corvane.dll" ] || fail "x64\\Ossilet.dll, x64\\Corvane.dll are not installed"
else
    [ -f "$DIR/Ossilet.dll" ] || fail "Ossilet.dll is not installed"
fi
wrun "$VLAGT" server;                 expect "the installed vlagt shows the URL" 0 "$URL"
"$scripts/bounded.sh" "$LIMIT" sh -c "printf 'demo-pass-01\n' | '$VLAGT_WINE' '$VLAGT' login demo01" >"$WORK/out" 2>&1 </dev/null
RC=$?; OUT=$(tr -d '\r' <"$WORK/out")
expect "the installed vlagt logs demo01 in" 0 "demo01"
wrun "$VLAGT" logout;                 expect "logout" 0
wrun "$BIN/vltypelibcheck.exe";       expect "the type library loads through its registration" 0 "VLAgtClient.dll"
reg_query 'HKCR\Velmora TessaLINE\Shell\Open\Command' /ve
expect "the shell open command names the installed vlagt.exe" 0 "Tessaline.vlagt.exe"

# Upgrade without SERVERURL: 1.0.1 replaces 1.0.0 and keeps the URL.
msiexec /i 'C:\new.msi' /qn
expect "upgrade to 1.0.1 without SERVERURL" 0
reg_query "$UNINSTALL\\$NEW_CODE" /v DisplayVersion; expect "1.0.1 is registered" 0 "1.0.1"
reg_query "$UNINSTALL\\$OLD_CODE";    expect "1.0.0 is gone" 1
wrun "$VLAGT" server;                 expect "the upgrade kept the URL" 0 "$URL"

# Downgrade refused (1603 shows as 67 under wine), 1.0.1 left as it was.
msiexec /i 'C:\old.msi' /qn
[ "$RC" != 0 ] && ok "installing 1.0.0 over 1.0.1 is refused (exit $RC)" || fail "the downgrade was accepted"
reg_query "$UNINSTALL\\$NEW_CODE" /v DisplayVersion; expect "1.0.1 is still installed" 0 "1.0.1"
wrun "$VLAGT" server;                 expect "the refused downgrade left the URL" 0 "$URL"

# An upgrade with a new SERVERURL takes the new one.
msiexec /i 'C:\newer.msi' /qn "SERVERURL=http://127.0.0.1:9/other"
expect "upgrade to 1.0.2 with another SERVERURL" 0
wrun "$VLAGT" server;                 expect "the command line's URL wins" 0 "http://127.0.0.1:9/other"

# Removal leaves nothing.
absent_all() {
    [ ! -e "$WINEPREFIX/drive_c/Program Files/Velmora" ] && ok "$1: no folder left" ||
        fail "$1: left behind: $(find "$WINEPREFIX/drive_c/Program Files/Velmora")"
    for key in 'HKLM\Software\Velmora' "HKCR\\TypeLib\\$LIBID" 'HKCR\Velmora TessaLINE'; do
        reg_query "$key" /s
        [ "$RC" = 1 ] && ok "$1: no $key" || fail "$1: $key is left: $OUT"
    done
    reg_query "$UNINSTALL"
    left=$(printf '%s\n' "$OUT" | grep -F -e "$OLD_CODE" -e "$NEW_CODE" -e "$NEWER_CODE")
    [ -z "$left" ] && ok "$1: no uninstall entry" || fail "$1: uninstall entries left: $left"
    if [ "$ARCH" = x64 ]; then
        reg_query 'HKLM\Software\Velmora' /reg:32 /s
        [ "$RC" = 1 ] && ok "$1: no 32-bit view settings" || fail "$1: the 32-bit view's settings are left: $OUT"
    fi
}
msiexec /x 'C:\newer.msi' /qn;        expect "remove" 0
absent_all "after removal"

# The per-site copy, signed: no property on the command line, its URL written.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$WORK/key.pem" -out "$WORK/cert.pem" -days 2 \
    -subj "/CN=VLAgtClient test signer" >/dev/null 2>&1
SITE_URL="${URL%/*}/site"
if sh "$root/packaging/site-package.sh" "$WORK/newer.msi" "$SITE_URL" "$WINEPREFIX/drive_c/site.msi" \
        --cert "$WORK/cert.pem" --key "$WORK/key.pem" >"$WORK/site.log" 2>&1; then
    ok "per-site copy written"
else
    fail "per-site copy: $(cat "$WORK/site.log")"
fi
osslsigncode verify -in "$WINEPREFIX/drive_c/site.msi" -CAfile "$WORK/cert.pem" >"$WORK/verify.log" 2>&1 &&
    ok "the per-site copy's signature verifies" || fail "signature: $(tail -5 "$WORK/verify.log")"
sh "$root/packaging/site-package.sh" "$WORK/new.msi" "http://x/'; DROP TABLE File" "$WORK/bad.msi" >/dev/null 2>&1
[ $? = 2 ] && [ ! -e "$WORK/bad.msi" ] && ok "a URL with a quote is refused" || fail "a URL with a quote was taken"
msiexec /i 'C:\site.msi' /qn;         expect "install the per-site copy without properties" 0
wrun "$VLAGT" server;                 expect "the per-site copy wrote its URL" 0 "$SITE_URL"
msiexec /x 'C:\site.msi' /qn;         expect "remove the per-site copy" 0
absent_all "after removing the per-site copy"

# An x64 package on 32-bit Windows: refused (1633 shows as 97 under wine), nothing installed. Its files
# are this build's: the platform alone decides.
if [ "$ARCH" = x86 ]; then
    mkdir -p "$WORK/fake64/x64"
    for f in VLAgtClient.dll Corvane.dll vlagt.exe; do ln -s "$BIN/$f" "$WORK/fake64/$f"; done
    for f in Ossilet.dll Corvane.dll; do ln -s "$BIN/$f" "$WORK/fake64/x64/$f"; done
    sh "$root/packaging/msi/build-msi.sh" x64 "$WORK/fake64" 1.0.0 "$WINEPREFIX/drive_c/x64.msi" >"$WORK/build.log" 2>&1 ||
        fail "building the x64 package: $(cat "$WORK/build.log")"
    msiexec /i 'C:\x64.msi' /qn "SERVERURL=$URL"
    [ "$RC" != 0 ] && ok "the x64 package is refused on 32-bit Windows (exit $RC)" || fail "the x64 package installed on 32-bit Windows"
    absent_all "after the refused x64 package"
fi

[ "$failed" = 0 ] && echo "PASSED" || echo "FAILED"
exit "$failed"
