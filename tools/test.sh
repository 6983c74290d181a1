#!/bin/sh
# Installs the packages the project needs, builds everything in "build" (and
# the Windows build in "build-windows") and runs every test through CTest;
# then the same suites built with the sanitizers ("build-sanitize"), and the
# fuzz targets built by clang ("build-fuzz"). Idempotent; works as root;
# needs no network once the packages are present and Qt for mingw-w64 is
# cached.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"

sh "$root/tools/build.sh"
# The Windows build, for the tests under Wine; the first run also builds Qt
# for mingw-w64 (cached afterwards).
sh "$root/tools/windows/build.sh" >/dev/null
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error

# AddressSanitizer with its leak checker and UBSan: any report fails its
# test. The runs under Wine and the checks of the Windows build are left out:
# nothing of theirs runs natively. Leaks outside this project are suppressed in
# tests/sanitizers/lsan.supp; the window runs without the GLX integration,
# whose Mesa driver allocates inside the sanitizer's own runtime.
cmake -S "$root" -B "$root/build-sanitize" -DVEXOR_SANITIZE=ON >/dev/null
cmake --build "$root/build-sanitize" -j2
cd "$root/build-sanitize"
ASAN_OPTIONS=detect_leaks=1:verify_asan_link_order=0 \
    LSAN_OPTIONS="suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0" \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 QT_XCB_GL_INTEGRATION=none \
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error -E '(-wine(32|64)$|^windows-)'

# The libFuzzer targets, each over its seed corpus and a fixed number of new
# inputs (README.md gives a longer run).
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-fuzz" -DVEXOR_FUZZ=ON >/dev/null
cmake --build "$root/build-fuzz" -j2 --target vexor-fuzzers
cd "$root/build-fuzz"
ctest --output-on-failure --no-tests=error -L fuzz
