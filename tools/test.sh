#!/bin/sh
# Installs the packages the project needs, builds everything in "build" (and
# the Windows build in "build-windows") and runs every test through CTest.
# Idempotent; works as root; needs no network once the packages are present
# and Qt for mingw-w64 is cached.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"

sh "$root/tools/build.sh"
# The Windows build, for the tests under Wine; the first run also builds Qt
# for mingw-w64 (cached afterwards).
sh "$root/tools/windows/build.sh" >/dev/null
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure
