#!/bin/sh
# Runs a suite's Windows build under Wine in a fresh prefix of its own, a
# 64-bit Windows (win64), where the 32-bit suite runs under WOW64, or a 32-bit
# one (win32): Wine's registry, Windows Installer and files are the machine
# the suite prepares for each test. Passes when the suite does, and at least
# PASSED of its test functions passed: a suite skipped there whole, or
# that never ran, fails.
#
# usage: run-under-wine.sh win64|win32 PASSED SUITE.exe [QtTest arguments...]
set -u

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

[ $# -ge 3 ] || fail "usage: $0 win64|win32 PASSED SUITE.exe [arguments...]"
arch=$1
least=$2
suite=$3
shift 3
[ -f "$suite" ] || fail "the Windows build of the suite is missing: $suite (tools/windows/build.sh makes it)"
command -v wine >/dev/null 2>&1 || fail "wine is not installed (Debian packages wine64 and wine32; tools/install-deps.sh installs them)"

work=$(mktemp -d "${TMPDIR:-/tmp}/wine-suite.XXXXXX") || fail "cannot make a temporary folder"
export WINEPREFIX="$work/prefix" WINEARCH=$arch WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
trap 'wineserver -k >/dev/null 2>&1; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM
wineboot -i >/dev/null 2>&1 || fail "cannot make a Wine prefix"
cp "$suite" "$work/" || fail "cannot copy $suite"
cd "$work" || exit 1
# A data-driven test function's rows share QtTest's time limit, and a row
# under Wine is a few seconds.
export QTEST_FUNCTION_TIMEOUT=1800000
# QtTest's report is lost when a Windows program's output is not a console;
# it goes to a file instead.
wine "./$(basename "$suite")" -o 'result.txt,txt' "$@" >"$work/out" 2>&1
status=$?
tr -d '\r' <"$work/out"
[ -f "$work/result.txt" ] && tr -d '\r' <"$work/result.txt"
[ "$status" -eq 0 ] || fail "the suite exited with status $status under Wine"
passed=$(sed -n 's/^Totals: \([0-9]*\) passed.*/\1/p' "$work/result.txt" 2>/dev/null | tr -d '\r')
[ -n "$passed" ] || fail "the suite left no totals under Wine"
[ "$passed" -ge "$least" ] || fail "only $passed of its test functions passed under Wine, not at least $least"
