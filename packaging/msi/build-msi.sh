#!/bin/sh
# build-msi.sh ARCH BINDIR VERSION OUT.msi: the stand-alone package of the module for ARCH (x86, x64)
# from the binaries in BINDIR (a build's bin folder), as product version VERSION (major.minor.patch).
# wixl leaves the File table's versions empty; they are filled in here from the binaries' version
# resources, so that Windows Installer's file-version rules apply to the DLLs.
set -eu
[ $# -eq 4 ] || { echo "usage: build-msi.sh x86|x64 BINDIR VERSION OUT.msi" >&2; exit 2; }
arch=$1 bindir=$(cd "$2" && pwd) version=$3 out=$4
here=$(cd "$(dirname "$0")" && pwd)
case "$arch" in x86|x64) ;; *) echo "build-msi.sh: architecture must be x86 or x64, not $arch" >&2; exit 2 ;; esac
for tool in wixl msibuild msiinfo python3; do
    command -v "$tool" >/dev/null 2>&1 || { echo "build-msi.sh: $tool not found (scripts/install-deps.sh installs it)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/vlagt-msi.XXXXXX")
trap 'rm -rf "$work"' EXIT
# wixl takes sources relative to the current folder only.
(cd "$bindir" && wixl -a "$arch" -D Wixl=1 -D Arch="$arch" -D BinDir=. -D Version="$version" -o "$work/out.msi" \
    "$here/VLAgtClient.wxs" "$here/VLAgtClientFiles.wxs" "$here/VLAgtClientSettings.wxs")

# The settings component is installed only when there is a URL to write (see VLAgtClientSettings.wxs).
msibuild "$work/out.msi" -q "UPDATE \`Component\` SET \`Condition\` = 'SERVERURL' WHERE \`Component\` = 'ServerSetting'"

# wixl schedules the removal of an older version after InstallFinalize and knows no Schedule: the
# older version is removed right after InstallValidate instead, completely, before any file of this
# one is copied (otherwise a DLL of equal version would be kept from the old installation). The
# upgrade row includes its maximum, so that a rebuild of the same version replaces the installed one.
msibuild "$work/out.msi" -q "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = 1401 WHERE \`Action\` = 'RemoveExistingProducts'"
# (Attributes is part of the Upgrade table's key: the row is written anew.)
upgrade=$(msiinfo export "$work/out.msi" Upgrade | tr -d '\r' | awk -F'\t' '$NF == "WIX_UPGRADE_DETECTED" { print $1 "\t" $3 }')
upgrade_code=$(printf '%s' "$upgrade" | cut -f1) upgrade_max=$(printf '%s' "$upgrade" | cut -f2)
msibuild "$work/out.msi" -q "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'WIX_UPGRADE_DETECTED'"
msibuild "$work/out.msi" -q "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`) VALUES ('$upgrade_code', '$upgrade_max', 513, 'WIX_UPGRADE_DETECTED')"

# File ids name the file below BINDIR: "x64.Ossilet.dll" is x64/Ossilet.dll.
msiinfo export "$work/out.msi" File | tail -n +4 | cut -f1 | tr -d '\r' >"$work/files"
while read -r id; do
    rel=$(printf '%s' "$id" | sed 's|^x64\.|x64/|')
    if file_version=$(python3 "$here/pe-version.py" "$bindir/$rel" 2>/dev/null); then
        msibuild "$work/out.msi" -q "UPDATE \`File\` SET \`Version\` = '$file_version', \`Language\` = '1033' WHERE \`File\` = '$id'"
    fi
done <"$work/files"

# The properties the client side passes to the installation's server side (on Windows only these
# public properties cross from the command line into the execution of a per-machine install).
secure=$(msiinfo export "$work/out.msi" Property | tr -d '\r' | awk -F'\t' '$1 == "SecureCustomProperties" { print $2 }')
secure="${secure:+$secure;}SERVERURL;SAVEDSERVERURL"
if msiinfo export "$work/out.msi" Property | tr -d '\r' | grep -q '^SecureCustomProperties	'; then
    msibuild "$work/out.msi" -q "UPDATE \`Property\` SET \`Value\` = '$secure' WHERE \`Property\` = 'SecureCustomProperties'"
else
    msibuild "$work/out.msi" -q "INSERT INTO \`Property\` (\`Property\`, \`Value\`) VALUES ('SecureCustomProperties', '$secure')"
fi
mv "$work/out.msi" "$out"
