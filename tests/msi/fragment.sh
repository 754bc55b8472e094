#!/bin/sh
# The installer fragment as an integrator uses it: an agent's own product (another name, folder and
# upgrade code) that includes packaging/msi/VLAgtClientFiles.wxs and takes only the module's
# components builds with wixl, and its tables hold the module's files in the agent's folder and the
# type library's registration; the settings group is left out when it is not referenced.
#
# Usage: fragment.sh x86|x64 <bin folder>     Exit code: 0 pass, 1 fail, 77 skipped (no wixl).
set -u
ARCH=$1
BIN=$(cd "$2" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
for tool in wixl msiinfo; do
    command -v "$tool" >/dev/null 2>&1 || { echo "SKIPPED: $tool is not installed"; exit 77; }
done
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vlagt-fragment.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
failed=0
fail() { echo "FAILED: $*"; failed=1; }
ok() { echo "ok: $*"; }
[ "$ARCH" = x64 ] && pf=ProgramFiles64Folder || pf=ProgramFilesFolder
cat >"$WORK/agent.wxs" <<END
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="Example Agent" Language="1033" Version="2.3.4" Manufacturer="Example"
           UpgradeCode="6D1B8E0C-3F0A-4B7E-9E51-2D7C4A9B0F11">
    <Package InstallerVersion="500" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="agent.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="$pf">
        <Directory Id="INSTALLFOLDER" Name="Example Agent"/>
      </Directory>
    </Directory>
    <Feature Id="Agent" Level="1">
      <ComponentGroupRef Id="VLAgtClientModule"/>
    </Feature>
  </Product>
</Wix>
END
if (cd "$BIN" && wixl -a "$ARCH" -D Arch="$ARCH" -D BinDir=. -D Wixl=1 -o "$WORK/agent.msi" \
        "$WORK/agent.wxs" "$root/packaging/msi/VLAgtClientFiles.wxs") >"$WORK/wixl.log" 2>&1; then
    ok "an agent's product with the fragment builds ($ARCH)"
else
    echo "FAILED: wixl: $(cat "$WORK/wixl.log")"; exit 1
fi
files=$(msiinfo export "$WORK/agent.msi" File | tr -d '\r' | tail -n +4 | cut -f1 | sort | tr '\n' ' ')
[ "$ARCH" = x64 ] && want="Corvane.dll VLAgtClient.dll x64.Corvane.dll x64.Ossilet.dll " ||
    want="Corvane.dll Ossilet.dll VLAgtClient.dll "
[ "$files" = "$want" ] && ok "the module's files: $files" || fail "files: $files (expected $want)"
dirs=$(msiinfo export "$WORK/agent.msi" Component | tr -d '\r' | tail -n +4 | cut -f3 | sort -u | tr '\n' ' ')
[ "$ARCH" = x64 ] && want="INSTALLFOLDER INSTALLFOLDER_X64 " || want="INSTALLFOLDER "
[ "$dirs" = "$want" ] && ok "in the agent's folder" || fail "component folders: $dirs"
[ "$ARCH" = x64 ] && platform=win64 || platform=win32
msiinfo export "$WORK/agent.msi" Registry | tr -d '\r' |
    grep -q "TypeLib\\\\{3F6B2C1D-7A4E-4C9B-9D21-5E8A0B7C6F14}\\\\1.0\\\\409\\\\$platform	.*\[#VLAgtClient.dll\]" &&
    ok "the type library is registered ($platform)" || fail "no type library registration for $platform"
msiinfo export "$WORK/agent.msi" Registry | grep -q VLDrmAgtSvr && fail "the settings came without being referenced" ||
    ok "no settings unless referenced"
[ "$failed" = 0 ] && echo "PASSED" || echo "FAILED"
exit "$failed"
