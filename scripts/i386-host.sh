#!/bin/sh
# Makes sure that 32-bit x86 programs run on this host, which Wine's 32-bit side (and so every test of
# the 32-bit DLL) needs. Run as root by install-deps.sh once Wine is installed.
#
# A host that runs them natively is left exactly as it is. On a host whose kernel refuses them (a
# hypervisor that runs 64-bit user code only: "Exec format error", exit 126), this sets up qemu-user
# emulation for i386 programs:
#   - the backports suite on the Debian mirror the machine's own apt sources name, qemu-user-static
#     from it (the main suite's qemu 7.2 needs close to a minute to start each Wine process), and
#     wine64 from the main suite, so that the wineserver runs natively;
#   - binfmt_misc mounted and qemu registered for i386 programs; the registration does not survive a
#     reboot and keeps the interpreter file it was made with, so every run checks that it is there and
#     that it runs the installed qemu, and registers again when not.
# Exits non-zero with one line naming what is missing when it cannot.
set -eu
. "$(cd "$(dirname "$0")" && pwd)/apt.sh"

WINE32=/usr/lib/wine/wine
QEMU=/usr/bin/qemu-i386-static
BINFMT=/proc/sys/fs/binfmt_misc
ENTRY=$BINFMT/qemu-i386
BACKPORTS_LIST=/etc/apt/sources.list.d/vlagt-backports.sources
# The oldest qemu-user that starts a Wine process in well under a second.
QEMU_MIN_VERSION=1:10~

die() {
    echo "cannot run 32-bit x86 code on this host: $*" >&2
    exit 1
}

# A 32-bit program of Wine's that needs no prefix; bounded, as everything that runs through qemu.
runs_32bit() {
    timeout 60 "$WINE32" --version >/dev/null 2>&1 </dev/null
}

[ -x "$WINE32" ] || die "$WINE32 is not installed (package wine32:i386)"

qemu_is_recent() {
    v=$(dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null) || return 1
    [ -x "$QEMU" ] && dpkg --compare-versions "$v" ge "$QEMU_MIN_VERSION" 2>/dev/null
}

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"
}

# The registration: present, enabled, for the installed qemu (the kernel keeps the file it opened at
# registration, so after an upgrade the old qemu would go on running; QEMU_VERSION makes whichever
# qemu runs a 32-bit program print its version and exit).
registered_fresh() {
    [ -e "$ENTRY" ] || return 1
    grep -qx enabled "$ENTRY" || return 1
    grep -qx "interpreter $QEMU" "$ENTRY" || return 1
    running=$(QEMU_VERSION=1 timeout 60 "$WINE32" 2>/dev/null </dev/null | head -n 1) || true
    [ -n "$running" ] && [ "$running" = "$("$QEMU" --version | head -n 1)" ]
}

# Natively, with no emulation registered: nothing to do.
if [ ! -e "$ENTRY" ] && runs_32bit; then
    exit 0
fi

say_emulated() {
    echo "this host cannot run 32-bit code: Wine's 32-bit side runs under qemu-user emulation"
}

# Emulated, with everything in place (needs no root): nothing to change.
if qemu_is_recent && installed wine64 && registered_fresh && runs_32bit; then
    say_emulated
    exit 0
fi

[ "$(id -u)" = 0 ] || die "setting up qemu-user emulation needs root"

codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$codename" ] || die "/etc/os-release names no Debian release"

# The URI (and key) of the machine's own entry for the main suite, from deb822 .sources files or
# one-line sources.list files. Prints "URI KEYRING" (KEYRING may be empty).
mirror_of_main_suite() {
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        [ "$f" = "$BACKPORTS_LIST" ] && continue
        awk -v suite="$codename" 'BEGIN { RS = ""; FS = "\n" }
            {
                types = ""; uris = ""; suites = ""; key = ""; enabled = "yes"
                for (i = 1; i <= NF; i++) {
                    line = $i
                    if (line ~ /^#/) continue
                    split(line, kv, ":")
                    name = tolower(kv[1]); value = substr(line, length(kv[1]) + 2)
                    gsub(/^[ \t]+|[ \t]+$/, "", value)
                    if (name == "types") types = " " value " "
                    else if (name == "uris") uris = value
                    else if (name == "suites") suites = " " value " "
                    else if (name == "signed-by") key = value
                    else if (name == "enabled") enabled = tolower(value)
                }
                if (enabled != "no" && types ~ / deb / && suites ~ (" " suite " ") && uris != "") {
                    split(uris, u, " ")
                    if (key !~ /^\//) key = ""
                    print u[1], key
                    exit
                }
            }' "$f"
    done
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        awk -v suite="$codename" '$1 == "deb" {
                key = ""; n = 2
                if ($2 ~ /^\[/) {
                    for (; n <= NF; n++) {
                        if ($n ~ /^\[?signed-by=/) { key = $n; sub(/^\[?signed-by=/, "", key); sub(/\]$/, "", key) }
                        if ($n ~ /\]$/) { n++; break }
                    }
                }
                if ($(n + 1) == suite) { print $n, key; exit }
            }' "$f"
    done
}

have_backports() {
    apt-cache policy 2>/dev/null | grep -q "n=$codename-backports,"
}

# The packages: qemu-user-static from backports, wine64 from the main suite.
if ! qemu_is_recent || ! installed wine64; then
    if ! qemu_is_recent && ! have_backports; then
        added=""
        if [ ! -f "$BACKPORTS_LIST" ]; then
            set -- $(mirror_of_main_suite | head -n 1)
            [ $# -ge 1 ] || die "no apt source for Debian's $codename suite to take the mirror from (/etc/apt/sources.list*)"
            {
                echo "Types: deb"
                echo "URIs: $1"
                echo "Suites: $codename-backports"
                echo "Components: main"
                [ $# -ge 2 ] && echo "Signed-By: $2"
            } >"$BACKPORTS_LIST"
            added=$1
        fi
        # A source that apt cannot read would make every later apt-get update on this machine fail:
        # one this script added goes again unless the suite is readable.
        if ! apt_update || ! have_backports; then
            if [ -n "$added" ]; then
                rm -f "$BACKPORTS_LIST"
                apt-get update >/dev/null 2>&1 || true
                die "apt cannot read the $codename-backports suite on $added (source removed again)"
            fi
            die "apt cannot read the $codename-backports suite (see $BACKPORTS_LIST)"
        fi
        [ -n "$added" ] && echo "added $codename-backports on $added ($BACKPORTS_LIST)"
    fi
    if ! qemu_is_recent; then
        apt_keep_suite "$codename-backports"
        apt_install -t "$codename-backports" qemu-user-static ||
            die "package qemu-user-static cannot be installed from $codename-backports"
        qemu_is_recent || die "qemu-user-static from $codename-backports is older than $QEMU_MIN_VERSION"
    fi
    if ! installed wine64; then
        apt_install wine64 ||
            die "package wine64 cannot be installed"
    fi
fi

if ! mountpoint -q "$BINFMT"; then
    grep -qw binfmt_misc /proc/filesystems || modprobe binfmt_misc 2>/dev/null || true
    grep -qw binfmt_misc /proc/filesystems || die "the kernel has no binfmt_misc"
    mount -t binfmt_misc binfmt_misc "$BINFMT" 2>/dev/null || die "binfmt_misc cannot be mounted on $BINFMT"
fi
if ! registered_fresh; then
    [ -e "$ENTRY" ] && echo -1 >"$ENTRY"
    # i386 ELF executables (e_machine 3) run by qemu; F: the kernel opens the interpreter now, so it
    # also works inside chroots and namespaces.
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$QEMU"':F' \
        >"$BINFMT/register" 2>/dev/null || die "qemu cannot be registered in $BINFMT/register"
fi

runs_32bit || die "$WINE32 still does not run under qemu-user ($("$QEMU" --version | head -n 1))"
say_emulated
