#!/bin/sh
# A Windows build stops at configure time unless the real module builds are
# given or the stand-ins are asked for; the Linux build keeps its stand-ins.
#
# usage: run-winconfigure.sh SOURCE_ROOT
set -u
root=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/winconfigure.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
printf 'not the stand-in\n' >"$work/vexor.dll"
status=0

# check NAME WHAT REFUSED [OPTIONS...]: configures a Windows build with the
# options; REFUSED says whether it must stop at the module check. A configure
# that went on fails later, looking for Qt for Windows: that is not a refusal.
check() {
    name=$1 what=$2 expected=$3
    shift 3
    cmake -S "$root" -B "$work/$name" -DCMAKE_SYSTEM_NAME=Windows \
        -DCMAKE_C_COMPILER=i686-w64-mingw32-gcc -DCMAKE_CXX_COMPILER=i686-w64-mingw32-g++ \
        "$@" >"$work/$name.out" 2>&1
    refused=no
    grep -q "A Windows build needs the real module builds" "$work/$name.out" && refused=yes
    grep -q 'Qt5\|Configuring done\|module builds' "$work/$name.out" || refused="before the check"
    if [ "$refused" = "$expected" ]; then
        echo "ok: $what"
    else
        echo "FAIL: $what (refused: $refused)"
        tail -20 "$work/$name.out"
        status=1
    fi
}

check bare "without the module builds a Windows build is refused" yes
check one "with one build missing it is still refused" yes -DVEXOR_MODULE_X86="$work/vexor.dll"
check both "with both module builds it goes on" no \
    -DVEXOR_MODULE_X86="$work/vexor.dll" -DVEXOR_MODULE_X64="$work/vexor.dll"
check optin "asked for, the stand-ins are carried" no -DVEXOR_ALLOW_STAND_IN_MODULES=ON
exit $status
