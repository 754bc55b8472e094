#!/bin/sh
# The main job, on a fresh Debian 12 machine as root: installs what is missing, builds the module
# (cross-build, build/) and the reference policy server vlpolicyd (native, build-server/), then walks
# through the module's work with vlagt.exe against vlpolicyd (scripts/walkthrough.sh).
set -eu
cd "$(dirname "$0")/.."

scripts/install-deps.sh
echo "building the module and vlagt.exe (build/)"
cmake --preset default >/dev/null
cmake --build --preset default
echo "building vlpolicyd (build-server/)"
(cd server && cmake --preset vlpolicyd >/dev/null && cmake --build --preset vlpolicyd)

exec scripts/walkthrough.sh build build-server/vlpolicyd
