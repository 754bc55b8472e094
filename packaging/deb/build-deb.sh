#!/bin/sh
# build-deb.sh VERSION VLPOLICYD OUT.deb: vlpolicyd's Debian package (amd64) from the built binary:
# the binary, the systemd unit vlpolicyd.service, /etc/vlpolicyd/vlpolicyd.conf, the man page (made
# from the program's own --help texts), the maintainer scripts. dpkg-deb only; the files are owned by
# root whoever builds it.
set -eu
[ $# -eq 3 ] || { echo "usage: build-deb.sh VERSION VLPOLICYD OUT.deb" >&2; exit 2; }
version=$1 binary=$2 out=$3
here=$(cd "$(dirname "$0")" && pwd)
for tool in dpkg-deb dpkg-shlibdeps strip gzip; do
    command -v "$tool" >/dev/null 2>&1 || { echo "build-deb.sh: $tool not found" >&2; exit 1; }
done
[ -x "$binary" ] || { echo "build-deb.sh: $binary is not built" >&2; exit 1; }
# Every file's time is the last commit's (or SOURCE_DATE_EPOCH), so that a rebuild gives the same package.
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$here" log -1 --format=%ct 2>/dev/null || date +%s)}

work=$(mktemp -d "${TMPDIR:-/tmp}/vlpolicyd-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
root=$work/root
umask 022
mkdir -p "$root/DEBIAN" "$root/usr/bin" "$root/lib/systemd/system" "$root/etc/vlpolicyd" \
    "$root/usr/share/doc/vlpolicyd" "$root/usr/share/man/man8"

strip --strip-unneeded --remove-section=.comment --remove-section=.note -o "$root/usr/bin/vlpolicyd" "$binary"
chmod 0755 "$root/usr/bin/vlpolicyd"
install -m 0644 "$here/vlpolicyd.service" "$root/lib/systemd/system/vlpolicyd.service"
install -m 0644 "$here/vlpolicyd.conf" "$root/etc/vlpolicyd/vlpolicyd.conf"
install -m 0644 "$here/copyright" "$root/usr/share/doc/vlpolicyd/copyright"
for script in postinst prerm postrm; do
    install -m 0755 "$here/$script" "$root/DEBIAN/$script"
done
echo /etc/vlpolicyd/vlpolicyd.conf >"$root/DEBIAN/conffiles"

date_rfc=$(date -u -R -d "@$epoch")
cat >"$work/changelog" <<END
vlpolicyd ($version) stable; urgency=medium

  * Release $version.

 -- VLAgtClient developers <vlagt@velmora.example>  $date_rfc
END
gzip -9n <"$work/changelog" >"$root/usr/share/doc/vlpolicyd/changelog.gz"

# The man page: the --help text of the program and of each command, as the program prints it.
roff() { sed -e 's/\\/\\e/g' -e "s/^\\([.']\\)/\\\\\\&\\1/" -e 's/-/\\-/g'; }
{
    echo ".TH VLPOLICYD 8 \"$(date -u -d "@$epoch" +%Y-%m-%d)\" \"vlpolicyd $version\" \"System Administration\""
    echo ".SH NAME"
    echo "vlpolicyd \\- the policy server of the VLAgtClient login module"
    echo ".SH SYNOPSIS"
    echo ".B vlpolicyd"
    echo ".I COMMAND"
    echo "[\\fIOPTIONS\\fR]"
    echo ".SH DESCRIPTION"
    echo "vlpolicyd answers the agents' logins, take-out requests and questions, and keeps users,"
    echo "decisions and an exchange log in one SQLite store. The package runs it as the systemd"
    echo "service vlpolicyd.service under the system user vlpolicyd."
    echo ".SH COMMANDS"
    echo ".nf"
    "$binary" --help | sed 's|^Usage: .*vlpolicyd|Usage: vlpolicyd|' | roff
    for command in serve store tls user admin takeout log; do
        echo
        "$binary" "$command" --help | sed 's|^Usage: .*vlpolicyd|Usage: vlpolicyd|' | roff
    done
    echo ".fi"
    echo ".SH FILES"
    echo ".TP"
    echo ".I /etc/vlpolicyd/vlpolicyd.conf"
    echo "listen address, store and further options of the service"
    echo ".TP"
    echo ".I /var/lib/vlpolicyd/policy.db"
    echo "the store; administration commands run as the service's user, for instance"
    echo ".B runuser \\-u vlpolicyd \\-\\- vlpolicyd user add alice \\-\\-db /var/lib/vlpolicyd/policy.db"
    echo ".SH SEE ALSO"
    echo ".BR systemctl (1)"
} >"$work/vlpolicyd.8"
gzip -9n <"$work/vlpolicyd.8" >"$root/usr/share/man/man8/vlpolicyd.8.gz"

# The shared libraries the binary needs, as dpkg-shlibdeps names them (it wants a debian/control).
mkdir -p "$work/src/debian"
printf 'Source: vlpolicyd\n\nPackage: vlpolicyd\nArchitecture: amd64\n' >"$work/src/debian/control"
shlibs=$(cd "$work/src" && dpkg-shlibdeps -O "$root/usr/bin/vlpolicyd" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
[ -n "$shlibs" ] || { echo "build-deb.sh: dpkg-shlibdeps found no libraries" >&2; exit 1; }

size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
cat >"$root/DEBIAN/control" <<END
Package: vlpolicyd
Version: $version
Architecture: amd64
Maintainer: VLAgtClient developers <vlagt@velmora.example>
Installed-Size: $size
Depends: $shlibs, adduser
Section: net
Priority: optional
Description: policy server of the VLAgtClient login module
 vlpolicyd answers the logins, take-out requests and questions of the
 VLAgtClient login module over HTTP or HTTPS and keeps users, decisions and
 an exchange log in an SQLite store. It runs as the systemd service
 vlpolicyd.service under a system user of its own, sandboxed; its settings
 are in /etc/vlpolicyd/vlpolicyd.conf.
END
(cd "$root" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"
chmod 0644 "$root/DEBIAN/control" "$root/DEBIAN/conffiles" "$root/DEBIAN/md5sums"
find "$root" -exec touch -h -d "@$epoch" {} +
dpkg-deb --root-owner-group -Zxz --build "$root" "$out" >/dev/null
echo "$out"
