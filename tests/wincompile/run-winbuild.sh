#!/bin/sh
# The Windows build, compiled and linked for real with mingw-w64 against the
# static Qt for Windows: brought up to date, then the program is checked for
# what Windows needs of it: a 32-bit GUI program, which every Windows the
# module serves can run, importing only system DLLs, with its icon and the
# manifest that asks for administrator rights.
#
# usage: run-winbuild.sh WINDOWS_BUILD
set -u

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

[ $# -eq 1 ] || fail "usage: $0 WINDOWS_BUILD"
build=$1
objdump=i686-w64-mingw32-objdump
[ -f "$build/CMakeCache.txt" ] || fail "no Windows build in $build (tools/windows/build.sh makes it)"
command -v "$objdump" >/dev/null 2>&1 || fail "$objdump is missing (Debian package binutils-mingw-w64-i686)"
work=$(mktemp -d "${TMPDIR:-/tmp}/winbuild.XXXXXX") || fail "cannot make a temporary folder"
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM

cmake --build "$build" -j"$(nproc)" >"$work/build.log" 2>&1 || {
    grep -E 'error|Error' "$work/build.log" | head -n 40 >&2
    fail "the Windows build does not compile or link"
}
if grep -q 'warning:' "$work/build.log"; then
    grep -A3 'warning:' "$work/build.log" >&2
    fail "the Windows build compiles with warnings"
fi

exe="$build/src/app/VEXOR_K_CryptoProInstaller.exe"
[ -f "$exe" ] || fail "the build made no $exe"
"$objdump" -p "$exe" >"$work/headers" || fail "$objdump cannot read $exe"
grep -q 'file format pei-i386' "$work/headers" || fail "the program is not a 32-bit (PE32, i386) program"
grep -q '^Subsystem[[:space:]]*0*2[[:space:]]' "$work/headers" || fail "the program is not a GUI program"

# Everything else (Qt, the C++ runtime) is linked in.
system='advapi32 msi msvcrt kernel32 user32 gdi32 shell32 ole32 oleaut32 imm32 uxtheme dwmapi
netapi32 userenv version winmm ws2_32 wtsapi32 comdlg32 shlwapi'
foreign=$(sed -n 's/^[[:space:]]*DLL Name: \(.*\)\.dll$/\1/Ip' "$work/headers" |
    tr 'A-Z' 'a-z' | while read -r dll; do
        case " $(echo $system) " in *" $dll "*) ;; *) echo "$dll.dll" ;; esac
    done)
[ -z "$foreign" ] || fail "the program needs DLLs a plain Windows does not have: $foreign"

# Resource types: 3 icon, 14 icon group, 24 manifest.
types=$(sed -n '/The .rsrc Resource Directory/,$p' "$work/headers" |
    sed -n 's/^[0-9a-f]*   Entry: ID: 0x0*\([0-9a-f]*\),.*/\1/p' | tr '\n' ' ')
for type in 3 e 18; do
    case " $types" in *" $type "*) ;; *) fail "the program lacks its resource of type 0x$type (has: $types)" ;; esac
done
grep -aq 'level="requireAdministrator"' "$exe" ||
    fail "the program's manifest does not ask for administrator rights"
echo "PASS: the Windows build is up to date; the program is a 32-bit GUI program, imports only system DLLs and carries its icon and its requireAdministrator manifest."
