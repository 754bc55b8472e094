#!/bin/sh
# Sets up a fresh Debian 12 machine (as root), builds everything and runs the whole test suite.
set -eu
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset default
cmake --build --preset default

# Test discovery runs each test program under Wine: start the prefix first, with its server's
# output detached, and stop it when done.
build/wine-prefix.sh start
trap 'build/wine-prefix.sh stop' EXIT
ctest --preset default

# The parsers' fuzz targets, natively with sanitizers, a few seconds each.
scripts/fuzz.sh 3
