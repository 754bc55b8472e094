#!/bin/sh
# Installs what the build and the tests need on Debian 12 (run as root). Idempotent: when every
# package is present it only checks, in a second or two.
set -eu

packages="g++-mingw-w64-i686 mingw-w64-tools wine wine32:i386 cmake ninja-build"
# The parsers' fuzz targets: clang with libFuzzer and the sanitizers.
packages="$packages clang-14 libclang-rt-14-dev"

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
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $packages
fi
