#!/bin/sh
# Sets up a fresh Debian 12 machine (as root), builds everything and runs the whole test suite.
set -eu
cd "$(dirname "$0")/.."

scripts/install-deps.sh

# The native policy server first (its own preset and build folder, build-server/): build and test.
(cd server && cmake --preset vlpolicyd && cmake --build --preset vlpolicyd && ctest --preset vlpolicyd)

# The cross-build; its end-to-end test runs the module under Wine against that vlpolicyd.
cmake --preset default -DVLPOLICYD_EXECUTABLE="$PWD/build-server/vlpolicyd"
cmake --build --preset default

# Test discovery runs each test program under Wine: start the prefix first, with its server's
# output detached, and stop it when done.
build/wine-prefix.sh start
trap 'build/wine-prefix.sh stop' EXIT
ctest --preset default
build/wine-prefix.sh stop

# The x64 build (build-x64/): its suite under 64-bit Wine in a win64 prefix of its own, and the
# cross-architecture test, which runs build/'s 32-bit tool beside the x64 one.
cmake --preset x64 -DVLPOLICYD_EXECUTABLE="$PWD/build-server/vlpolicyd" -DVLAGT_X86_BUILD_DIR="$PWD/build"
cmake --build --preset x64
build-x64/wine-prefix.sh start
trap 'build-x64/wine-prefix.sh stop' EXIT
ctest --preset x64

# The parsers' fuzz targets, natively with sanitizers, a few seconds each.
scripts/fuzz.sh 3
