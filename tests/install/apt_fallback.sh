#!/bin/sh
# The install scripts' apt logic (scripts/apt.sh) against a small local repository whose second suite
# serves an i386 index of the wrong size, as a mirror in the middle of a sync does, through a
# throw-away apt configuration (its own sources, state, cache and preferences; nothing of the
# machine's apt is read or changed, and nothing is installed: apt only simulates).
#   - the package, Multi-Arch: same, cannot be installed for both architectures while apt takes one
#     from each suite (the failure seen on real mirrors);
#   - apt_update retries, then names the suite and apt's reason in one line; apt_install leaves that
#     suite out for every architecture, installs, says that the suite's packages want updating later
#     and leaves no preferences file behind;
#   - an install that cannot resolve names the packages in one line and fails;
#   - with every index whole, nothing is said and the newest version is taken;
#   - so is a package that apt does not know.
# Exit code: 0 pass, 1 fail, 77 skipped (no apt-get).
set -u
command -v apt-get >/dev/null 2>&1 || { echo "skipped: apt-get is not available"; exit 77; }
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/vlagt-apt.XXXXXX")
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

# The repository: suite vlmain has vlprobe 1.0 (amd64 and i386) and vlother 1.0 (amd64), suite vlsec
# the same at 1.1. vlprobe is Multi-Arch: same: both architectures must have one version.
repo=$work/repo
package() { # NAME VERSION ARCH
    printf 'Package: %s\nVersion: %s\nArchitecture: %s\nMulti-Arch: same\nMaintainer: tests <tests@example.invalid>\nInstalled-Size: 1\nFilename: pool/%s_%s_%s.deb\nSize: 1000\nSHA256: %s\nDescription: probe\n\n' \
        "$1" "$2" "$3" "$1" "$2" "$3" "$(printf '%064d' 0)"
}
release() { # SUITE [ARCH-WHOSE-SIZE-IS-WRONG]
    dir=$repo/dists/$1
    {
        echo "Origin: vltest"
        echo "Label: vltest-$1"
        echo "Suite: $1"
        echo "Codename: $1"
        echo "Date: $(LC_ALL=C date -u -R)"
        echo "Architectures: amd64 i386"
        echo "Components: main"
        echo "SHA256:"
        for arch in amd64 i386; do
            f=main/binary-$arch/Packages
            size=$(wc -c <"$dir/$f")
            [ "$arch" = "${2:-}" ] && size=$((size + 7))
            echo " $(sha256sum "$dir/$f" | cut -d' ' -f1) $size $f"
        done
    } >"$dir/Release"
}
for suite in vlmain vlsec; do
    version=1.0
    [ "$suite" = vlsec ] && version=1.1
    for arch in amd64 i386; do
        mkdir -p "$repo/dists/$suite/main/binary-$arch"
        {
            package vlprobe "$version" "$arch"
            [ "$arch" = amd64 ] && package vlother "$version" "$arch"
        } >"$repo/dists/$suite/main/binary-$arch/Packages"
    done
done

mkdir -p "$work/etc/parts" "$work/etc/prefs.d" "$work/state/lists/partial" "$work/cache/archives/partial" "$work/log" "$work/tmp"
: >"$work/state/status"
cat >"$work/etc/sources.list" <<SOURCES
deb [trusted=yes] file:$repo vlmain main
deb [trusted=yes] file:$repo vlsec main
SOURCES
# configure ARCHITECTURE...: the throw-away configuration, for these architectures.
configure() {
    archs=""
    for a in "$@"; do archs="$archs \"$a\";"; done
    cat >"$work/apt.conf" <<CONF
Dir::State "$work/state";
Dir::State::status "$work/state/status";
Dir::Cache "$work/cache";
Dir::Log "$work/log";
Dir::Etc::SourceList "$work/etc/sources.list";
Dir::Etc::SourceParts "$work/etc/parts";
Dir::Etc::Preferences "$work/etc/preferences";
Dir::Etc::PreferencesParts "$work/etc/prefs.d";
APT::Architecture "amd64";
APT::Architectures {$archs };
APT::Get::Simulate "true";
Debug::NoLocking "true";
Acquire::Languages "none";
APT::Sandbox::User "root";
CONF
}
export APT_CONFIG="$work/apt.conf" TMPDIR="$work/tmp" VLAGT_APT_TRIES=2 VLAGT_APT_PAUSE=0
unset VLAGT_APT_FAILED_SUITES

# run NAME COMMANDS: the commands in a shell that has sourced scripts/apt.sh; output in $work/NAME.out.
run() {
    name=$1
    shift
    sh -c ". '$root/scripts/apt.sh'; $*" >"$work/$name.out" 2>&1
}
shows() { grep -q -- "$2" "$work/$1.out" || fail "$1: no line \"$2\" in: $(cat "$work/$1.out")"; }
lacks() { ! grep -q -- "$2" "$work/$1.out" || fail "$1: a line \"$2\" in: $(cat "$work/$1.out")"; }

# The machine as it comes: amd64 only, its indexes read while the mirror was whole.
configure amd64
release vlmain
release vlsec
apt-get update >/dev/null 2>&1 || fail "the first update failed"
# Then i386 is added while the mirror is in the middle of a sync: apt keeps the suite's amd64 index
# and has none for i386, and a plain install mixes the two suites.
configure amd64 i386
release vlsec i386
apt-get update >/dev/null 2>&1
# Without leaving the suite out, the install cannot resolve: named in one line.
run plain 'apt_install vlprobe vlprobe:i386 vlother' && fail "plain: the repository does not reproduce the failure"
shows plain "^apt could not install: vlprobe vlprobe:i386 (exit 100)"
run syncing 'apt_update && apt_install vlprobe vlprobe:i386 vlother' || fail "syncing: exit $?: $(cat "$work/syncing.out")"
shows syncing "an index could not be read (try 1 of 2)"
# A local file of the wrong size is reported as a hash sum mismatch (over http apt says "File has
# unexpected size ... Mirror sync in progress?"): either way, apt's reason.
shows syncing "^apt: suite vlsec could not be read (2 tries) (Hash Sum mismatch)"
shows syncing "this install leaves it out for every architecture"
shows syncing "Inst vlother (1.0 "
shows syncing "Inst vlprobe:i386 (1.0 "
shows syncing "^apt: installed without suite vlsec; update the packages from it once the mirror is whole again"
[ "$(grep -c '^apt: suite' "$work/syncing.out")" = 1 ] || fail "syncing: the suite is not named in exactly one line"
[ -z "$(ls -A "$work/tmp")" ] || fail "files left behind: $(ls -A "$work/tmp")"
[ ! -e "$work/etc/preferences" ] || fail "the configuration's own preferences file was written"

# A suite a calling script already found failing is not waited for again.
run known 'VLAGT_APT_FAILED_SUITES=vlsec; APT_KNOWN_FAILED=vlsec; apt_update' || fail "known: exit $?"
lacks known "try 1 of 2"
shows known "^apt: suite vlsec could not be read (1 tries)"

# A package apt does not know: named in one line, and the install fails.
run missing 'apt_update && apt_install vlprobe nosuchpackage' && fail "missing: the install succeeded"
shows missing "^apt could not install: nosuchpackage (exit 100)"

# Every index whole: one update, one install, nothing said, the newest version.
release vlsec
run whole 'apt_update && apt_install vlprobe vlprobe:i386 vlother' || fail "whole: exit $?: $(cat "$work/whole.out")"
lacks whole "^apt:"
shows whole "Inst vlprobe:i386 (1.1 "
shows whole "Inst vlother (1.1 "

[ "$failures" -eq 0 ] || exit 1
echo "passed: the install goes on without a suite whose index is broken, and says why"
