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
