#!/bin/sh
# Installs the packages the project needs and builds everything in "build".
# Shared by run.sh and test.sh; idempotent.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)

sh "$root/tools/install-deps.sh"
cmake -S "$root" -B "$root/build"
cmake --build "$root/build" -j2
