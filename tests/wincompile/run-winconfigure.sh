#!/bin/sh
# A Windows build stops at configure time unless the real module builds are
# given or the stand-ins are asked for; the Linux build keeps its stand-ins.
#
# usage: run-winconfigure.sh SOURCE_ROOT
set -u
root=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/winconfigure.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
refusal="A Windows build needs the real module builds"
printf 'not the stand-in\n' >"$work/vexor.dll"

# configure NAME ARGS...: the configure output for a Windows target.
configure() {
    name=$1
    shift
    cmake -S "$root" -B "$work/$name" -DCMAKE_SYSTEM_NAME=Windows \
        -DCMAKE_C_COMPILER=i686-w64-mingw32-gcc -DCMAKE_CXX_COMPILER=i686-w64-mingw32-g++ \
        "$@" 2>&1
}

status=0
check() { # description, expect-refusal (yes/no), output
    if printf '%s' "$3" | grep -q "$refusal"; then
        refused=yes
    elif printf '%s' "$3" | grep -q 'Qt5\|Configuring done'; then
        refused=no # it went on to look for Qt
    else
        refused="before the check"
    fi
    if [ "$refused" = "$2" ]; then
        echo "ok: $1"
    else
        echo "FAIL: $1 (refused: $refused)"
        printf '%s\n' "$3" | tail -20
        status=1
    fi
}

check "without the module builds a Windows build is refused" yes "$(configure bare)"
check "with one build missing it is still refused" yes \
    "$(configure one -DVEXOR_MODULE_X86="$work/vexor.dll")"
check "with both module builds it goes on" no \
    "$(configure both -DVEXOR_MODULE_X86="$work/vexor.dll" -DVEXOR_MODULE_X64="$work/vexor.dll")"
check "asked for, the stand-ins are carried" no \
    "$(configure optin -DVEXOR_ALLOW_STAND_IN_MODULES=ON)"
exit $status
