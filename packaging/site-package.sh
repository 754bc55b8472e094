#!/bin/sh
# site-package.sh IN.msi URL OUT.msi [--cert CERT.pem --key KEY.pem [--pass-file FILE] [--timestamp URL]]
#
# Writes OUT.msi, a copy of the package IN.msi with the policy server URL built in (the Property
# table's SERVERURL), for deployment where no property can be given on the command line (group
# policy). A SERVERURL on the command line still wins over the built-in one. With --cert and --key
# the copy is signed with osslsigncode (--pass-file: the key's password, --timestamp: a time-stamping
# server); IN.msi is never changed.
set -eu
usage() { echo "usage: site-package.sh IN.msi URL OUT.msi [--cert CERT.pem --key KEY.pem [--pass-file FILE] [--timestamp URL]]" >&2; exit 2; }
[ $# -ge 3 ] || usage
in=$1 url=$2 out=$3
shift 3
cert="" key="" pass="" stamp=""
while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || usage
    case "$1" in
      --cert) cert=$2 ;;
      --key) key=$2 ;;
      --pass-file) pass=$2 ;;
      --timestamp) stamp=$2 ;;
      *) usage ;;
    esac
    shift 2
done
[ -f "$in" ] || { echo "site-package.sh: $in not found" >&2; exit 1; }
if [ -n "$cert$key" ] && { [ -z "$cert" ] || [ -z "$key" ]; }; then
    echo "site-package.sh: signing needs both --cert and --key" >&2; exit 2
fi
# The URL goes into an SQL statement and into the registry as it is: only an http or https URL of
# printable characters without quotes, backslashes or spaces, at most 1024 characters (the module's
# own limit on the setting is far below that).
if ! printf '%s' "$url" | grep -Eq '^https?://[]!#-&(-[^-~]+$' || [ ${#url} -gt 1024 ] ||
   [ "$(printf '%s' "$url" | wc -l)" -ne 0 ]; then
    echo "site-package.sh: not an http:// or https:// URL without quotes, spaces or backslashes: $url" >&2
    exit 2
fi
for tool in msibuild msiinfo; do
    command -v "$tool" >/dev/null 2>&1 || { echo "site-package.sh: $tool not found (Debian package msitools)" >&2; exit 1; }
done
if [ -n "$cert" ]; then
    command -v osslsigncode >/dev/null 2>&1 || { echo "site-package.sh: osslsigncode not found" >&2; exit 1; }
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/vlagt-site.XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$in" "$work/site.msi"
# A signature of IN.msi does not cover the copy: it is dropped (the copy is signed again below when a
# certificate is given).
msibuild "$work/site.msi" -q "DELETE FROM \`_Streams\` WHERE \`Name\` = '\005DigitalSignature'" 2>/dev/null || true
if msiinfo export "$work/site.msi" Property | tr -d '\r' | grep -q '^SERVERURL	'; then
    msibuild "$work/site.msi" -q "UPDATE \`Property\` SET \`Value\` = '$url' WHERE \`Property\` = 'SERVERURL'"
else
    msibuild "$work/site.msi" -q "INSERT INTO \`Property\` (\`Property\`, \`Value\`) VALUES ('SERVERURL', '$url')"
fi
written=$(msiinfo export "$work/site.msi" Property | tr -d '\r' | awk -F'\t' '$1 == "SERVERURL" { print $2 }')
[ "$written" = "$url" ] || { echo "site-package.sh: the URL did not reach the Property table" >&2; exit 1; }

if [ -n "$cert" ]; then
    set -- -certs "$cert" -key "$key" -n "VLAgtClient" -h sha256
    [ -n "$pass" ] && set -- "$@" -readpass "$pass"
    [ -n "$stamp" ] && set -- "$@" -ts "$stamp"
    osslsigncode sign "$@" -in "$work/site.msi" -out "$work/signed.msi" >"$work/sign.log" 2>&1 ||
        { cat "$work/sign.log" >&2; echo "site-package.sh: signing failed" >&2; exit 1; }
    mv "$work/signed.msi" "$work/site.msi"
fi
mv "$work/site.msi" "$out"
echo "$out: SERVERURL=$url${cert:+, signed}"
