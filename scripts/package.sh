#!/bin/sh
# package.sh [--no-build]: builds the release packages into dist/ (replacing what is there):
#
#   VLAgtClient-<version>-x86.msi, VLAgtClient-<version>-x64.msi   the module for the agents' machines
#   VLAgtClient-<version>-kit.zip      the integrator's kit: x86/ and x64/ (headers, import libraries for
#                                      MinGW and Microsoft linkers, the CMake package, the DLLs), wix/
#                                      (the installer fragments) and README.md
#   vlpolicyd_<version>_amd64.deb      the policy server with its systemd unit
#   SHA256SUMS
#
# The version is the project version in CMakeLists.txt, the one the DLLs' version resources carry.
# The three builds (build/, build-x64/, build-server/) are configured with their presets and the
# packaged targets built first (VLAGT_PACKAGE_JOBS parallel jobs, 2 unless set); --no-build takes
# them as they are. A per-site copy of an MSI is made afterwards with packaging/site-package.sh.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=1
case "${1:-}" in
  --no-build) build=0 ;;
  "") ;;
  *) echo "usage: scripts/package.sh [--no-build]" >&2; exit 2 ;;
esac
for tool in wixl msibuild msiinfo zip dpkg-deb sha256sum; do
    command -v "$tool" >/dev/null 2>&1 || { echo "package.sh: $tool not found: run scripts/install-deps.sh" >&2; exit 1; }
done
version=$(sed -n 's/^project(VLAgtClient VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "package.sh: no project VERSION in CMakeLists.txt" >&2; exit 1; }
jobs=${VLAGT_PACKAGE_JOBS:-2}
step() { echo "package.sh: $*"; }

if [ "$build" = 1 ]; then
    step "building vlpolicyd, the x86 and the x64 module"
    (cd server && cmake --preset vlpolicyd >/dev/null && cmake --build --preset vlpolicyd -j "$jobs" --target vlpolicyd)
    for preset in default x64; do
        cmake --preset "$preset" >/dev/null
        cmake --build --preset "$preset" -j "$jobs" --target VLAgtClient Corvane Ossilet vlagt
    done
fi
for f in build/bin/VLAgtClient.dll build-x64/bin/VLAgtClient.dll build-x64/bin/x64/Ossilet.dll build-server/vlpolicyd; do
    [ -f "$f" ] || { echo "package.sh: $f is not built" >&2; exit 1; }
done
# The DLLs must carry the version the packages are named for.
for dll in build/bin/VLAgtClient.dll build-x64/bin/VLAgtClient.dll; do
    file_version=$(python3 packaging/msi/pe-version.py "$dll")
    [ "$file_version" = "$version.0" ] ||
        { echo "package.sh: $dll has version $file_version, the project $version: rebuild it" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/vlagt-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
out=$work/dist
mkdir -p "$out"

step "MSIs"
sh packaging/msi/build-msi.sh x86 build/bin "$version" "$out/VLAgtClient-$version-x86.msi"
sh packaging/msi/build-msi.sh x64 build-x64/bin "$version" "$out/VLAgtClient-$version-x64.msi"

step "the kit"
kit=$work/VLAgtClient-$version-kit
for arch in x86 x64; do
    [ "$arch" = x86 ] && dir=build || dir=build-x64
    cmake --install "$dir" --prefix "$kit/$arch" >/dev/null
done
# The x64 kit's bin/ serves as an installation folder, as build-x64/bin does: the 64-bit module loads
# its offline library from x64\ there (this is also the layout the installer fragment takes).
mkdir -p "$kit/x64/bin/x64"
cp build-x64/bin/x64/Ossilet.dll build-x64/bin/x64/Corvane.dll "$kit/x64/bin/x64/"
mkdir -p "$kit/wix"
cp packaging/msi/VLAgtClientFiles.wxs packaging/msi/VLAgtClientSettings.wxs "$kit/wix/"
{
    echo "# VLAgtClient $version: the integrator's kit"
    echo
    echo "    x86/   the 32-bit module: bin/ (DLLs, vlagt.exe), lib/ (import libraries, type library, CMake"
    echo "           package in lib/cmake/VLAgtClient), include/"
    echo "    x64/   the same for x64; bin/x64/ holds the 64-bit Ossilet.dll with its Corvane.dll"
    echo "    wix/   VLAgtClientFiles.wxs: the module's components for your own installer;"
    echo "           VLAgtClientSettings.wxs: the policy server URL from the property SERVERURL"
    echo
    echo "The sections below are the project README's."
    echo
    awk '/^## /{ keep = ($0 == "## Using the module from your program" || $0 == "## The 64-bit module (x64)" ||
                        $0 == "## Deploying") } keep' README.md
} >"$kit/README.md"
find "$kit" -exec touch -h -d "@$(git log -1 --format=%ct 2>/dev/null || date +%s)" {} +
(cd "$work" && zip -qrX "$out/VLAgtClient-$version-kit.zip" "VLAgtClient-$version-kit")

step "vlpolicyd's Debian package"
sh packaging/deb/build-deb.sh "$version" build-server/vlpolicyd "$out/vlpolicyd_${version}_amd64.deb" >/dev/null

(cd "$out" && sha256sum -- *.msi *.zip *.deb >SHA256SUMS)
rm -rf dist
mv "$out" dist
step "dist/:"
(cd dist && ls -l)
