#!/bin/sh
# Installs what the build and the tests need on Debian 12 (run as root). Idempotent: when every
# package is present it only checks, in a second or two.
set -eu
scripts=$(cd "$(dirname "$0")" && pwd)
. "$scripts/apt.sh"

packages="g++-mingw-w64-i686 mingw-w64-tools wine wine32:i386 cmake ninja-build ccache"
# The x64 build (the x64 preset): the x86-64 MinGW-w64 posix-thread compilers, and 64-bit Wine, which
# runs its tests (and the native wineserver) in a win64 prefix.
packages="$packages g++-mingw-w64-x86-64-posix wine64"
# Header-only libraries of vlagt.exe (command line, JSON output).
packages="$packages libcli11-dev nlohmann-json3-dev"
# The Microsoft-style import libraries (llvm-dlltool) and the Microsoft-ABI test caller (clang, lld-link);
# tinyproxy's program without its system service, for the proxy test; ip, for the network-namespace
# tests (online check, proxy).
packages="$packages clang-14 lld-14 llvm-14 tinyproxy-bin iproute2"
# The native policy server vlpolicyd and its tests.
packages="$packages g++ pkgconf libcpp-httplib-dev libsqlite3-dev libcli11-dev libssl-dev libargon2-dev curl"
# vlpolicyd's PostgreSQL store (libpq), the tests' private PostgreSQL clusters, and haproxy in front of
# two instances (the program only: the tests run it with a configuration of their own).
packages="$packages libpq-dev postgresql haproxy"
# The parsers' fuzz targets: libFuzzer and the sanitizers' runtime for clang.
packages="$packages libclang-rt-14-dev"
# The browser test of vlpolicyd's pages: Debian's Chromium, driven headless from Node.js.
packages="$packages chromium"
# Release packages (scripts/package.sh): wixl builds the MSIs, msitools' msibuild/msiinfo edit and read
# them, osslsigncode signs them; zip for the kit; lintian checks vlpolicyd's .deb.
packages="$packages wixl msitools osslsigncode zip lintian"
# Node.js and npm from Debian unless the machine has them already (another Node.js brings its own npm,
# and Debian's npm would clash with it).
command -v node >/dev/null 2>&1 || packages="$packages nodejs"
command -v npm >/dev/null 2>&1 || packages="$packages npm"

missing=""
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    missing="arch"
fi
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
        missing="$missing $p"
    fi
done
if [ ! -f /usr/src/googletest/CMakeLists.txt ]; then
    packages="$packages googletest"
    missing="$missing googletest"
fi

if [ -n "$missing" ]; then
    echo "installing:$missing"
    apt_update || exit 1
    apt_install $packages || exit 1
fi

# The browser test's driver library, exactly as server/tests/browser/package-lock.json pins it (it uses
# the system's Chromium and downloads no browser). Reinstalled only when the lock asks for another version.
browser_tests=$(cd "$scripts/../server/tests/browser" && pwd)
wanted=$(node -p "require('$browser_tests/package-lock.json').packages['node_modules/playwright-core'].version")
present=$(node -p "try { require('$browser_tests/node_modules/playwright-core/package.json').version } catch (e) { '' }")
if [ "$wanted" != "$present" ]; then
    echo "installing playwright-core $wanted for the browser test (npm ci)"
    (cd "$browser_tests" && npm ci --no-audit --no-fund)
fi

# Wine's 32-bit side needs a host that runs 32-bit x86 programs; where the kernel refuses them, qemu-user
# runs them (nothing changes on a host that runs them natively).
"$scripts/i386-host.sh"
