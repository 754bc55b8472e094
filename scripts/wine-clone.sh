#!/bin/sh
# wine-clone.sh SEED PREFIX: makes PREFIX a copy of the Wine prefix SEED that takes almost no disk.
#
# Wine's own program files (drive_c/windows: its DLLs, programs, fonts and tables, ~0.6 GB in a win32
# prefix and ~1.3 GB in a win64 one) are hard links to SEED's: Wine never writes them after it made the
# prefix, and nothing here installs into the Windows folders. Everything else (the registry, the .ini
# files, Program Files, the users' folders) is a copy of its own, so that a file written in place in
# one prefix never changes another. SEED should be stopped, or at least have been stopped once since
# it was made, so that its registry on disk is whole (wineserver replaces a hive by renaming a new
# file over it, so a copy taken while it runs is one saved state or the other, never half of each).
# The copy is made beside PREFIX and renamed into place: an interrupted copy leaves no prefix.
set -u
[ $# -eq 2 ] || { echo "usage: $0 SEED PREFIX" >&2; exit 2; }
seed=$1 dest=$2
[ -f "$seed/system.reg" ] || { echo "no Wine prefix at $seed" >&2; exit 1; }
part="$dest.part$$"
trap 'rm -rf "$part"' EXIT
rm -rf "$dest"
cp -a --link "$seed" "$part" || { echo "cannot copy the Wine prefix $seed to $dest" >&2; exit 1; }
# Break the links of every file but Wine's binaries under drive_c/windows.
find "$part" -type f -links +1 ! \( -path "$part/drive_c/windows/*" \( -name '*.dll' -o -name '*.exe' \
    -o -name '*.drv' -o -name '*.sys' -o -name '*.ocx' -o -name '*.acm' -o -name '*.cpl' -o -name '*.ax' \
    -o -name '*.tlb' -o -name '*.nls' -o -name '*.ttf' -o -name '*.fon' -o -name '*.com' \) \) \
    -exec sh -c 'for f; do cp -p "$f" "$f.own" && mv -f "$f.own" "$f" || exit 1; done' sh {} + ||
    { echo "cannot copy the Wine prefix $seed to $dest" >&2; exit 1; }
mv "$part" "$dest" || exit 1
trap - EXIT
exit 0
