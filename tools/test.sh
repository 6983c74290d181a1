#!/bin/sh
# Installs the packages the project needs, builds everything in "build" and
# runs every test through CTest. Idempotent; works as root; needs no network
# once the packages are present.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"

sh "$root/tools/build.sh"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure
