#!/bin/sh
# Builds the installer, a 32-bit Windows program, in build-windows/: static Qt for
# mingw-w64 first (once; build-qt.sh caches it), then the program with its
# icon, manifest, version and resources, stripped, and the same bytes from
# any clone of the same commit. Prints the .exe's path on its last line.
# Builds everything, the suites run under Wine too, or only the targets named.
#
# usage: tools/windows/build.sh [TARGET...]
# VEXOR_MODULE_X86 and VEXOR_MODULE_X64 name the real module builds; without
# them the build carries the stand-ins, which only a test build may do.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build="$root/build-windows"

targets="$*"
qt=$(sh "$root/tools/windows/build-qt.sh" | tail -n 1)
# The same bytes every time: the resource compiler dates every file with the
# last commit's time instead of the file's.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 1)}
QT_RCC_SOURCE_DATE_OVERRIDE=$SOURCE_DATE_EPOCH
export SOURCE_DATE_EPOCH QT_RCC_SOURCE_DATE_OVERRIDE
translations=$(qmake -query QT_INSTALL_TRANSLATIONS 2>/dev/null || true)
set -- -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DVEXOR_QT_WINDOWS="$qt" \
    -DCMAKE_BUILD_TYPE=Release -DVEXOR_QT_TRANSLATIONS="$translations"
[ -n "${VEXOR_MODULE_X86:-}" ] && set -- "$@" -DVEXOR_MODULE_X86="$VEXOR_MODULE_X86"
[ -n "${VEXOR_MODULE_X64:-}" ] && set -- "$@" -DVEXOR_MODULE_X64="$VEXOR_MODULE_X64"
if [ -z "${VEXOR_MODULE_X86:-}${VEXOR_MODULE_X64:-}" ]; then
    set -- "$@" -DVEXOR_ALLOW_STAND_IN_MODULES=ON
fi
cmake -S "$root" -B "$build" "$@" >&2
# shellcheck disable=SC2086
cmake --build "$build" -j"$(nproc)" ${targets:+--target $targets} >&2
echo "$build/src/app/VEXOR_K_CryptoProInstaller.exe"
