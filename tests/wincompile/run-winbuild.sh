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

# Everything else (Qt, the C++ runtime) is linked in. Imported, that is
# loaded before the program's first instruction, is only what Windows takes
# from its KnownDLLs (HKLM\SYSTEM\CurrentControlSet\Control\Session
# Manager\KnownDLLs on Windows 10) and never from the program's folder; every
# other DLL is delay-loaded after the program restricted the search.
known='advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 gdiplus imagehlp imm32 kernel32
msctf msvcrt normaliz nsi ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore shell32 shlwapi
user32 wldap32 ws2_32'
foreign=$(sed -n 's/^[[:space:]]*DLL Name: \(.*\)\.dll$/\1/Ip' "$work/headers" |
    tr 'A-Z' 'a-z' | while read -r dll; do
        case " $(echo $known) " in *" $dll "*) ;; *) echo "$dll.dll" ;; esac
    done)
[ -z "$foreign" ] || fail "the program imports DLLs that Windows may take from its folder: $(echo $foreign)"

# Resource types: 3 icon, 14 icon group, 24 manifest.
types=$(sed -n '/The .rsrc Resource Directory/,$p' "$work/headers" |
    sed -n 's/^[0-9a-f]*   Entry: ID: 0x0*\([0-9a-f]*\),.*/\1/p' | tr '\n' ' ')
for type in 3 e 18; do
    case " $types" in *" $type "*) ;; *) fail "the program lacks its resource of type 0x$type (has: $types)" ;; esac
done
grep -aq 'level="requireAdministrator"' "$exe" ||
    fail "the program's manifest does not ask for administrator rights"

# What it says it is: the version resource and the manifest carry the
# project's version.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
# Debian's pefile module belongs to Debian's Python, whatever python3 is first
# on the PATH.
/usr/bin/python3 - "$exe" "$version" <<'CHECK' || fail "the program's version resource is not as it should be"
import sys, pefile
exe, version = sys.argv[1], sys.argv[2]
pe = pefile.PE(exe)
fixed = pe.VS_FIXEDFILEINFO[0]
numbers = [fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xffff, fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xffff]
strings = {}
for info in pe.FileInfo[0]:
    for table in getattr(info, "StringTable", []):
        strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
expected = {"CompanyName": "Quellon", "ProductName": "Quellon Vexor K для Крипто Про",
            "FileVersion": version + ".0", "ProductVersion": version,
            "OriginalFilename": "VEXOR_K_CryptoProInstaller.exe"}
wrong = [f"{k}: {strings.get(k)!r}, not {v!r}" for k, v in expected.items() if strings.get(k) != v]
if ".".join(map(str, numbers)) != version + ".0":
    wrong.append(f"the fixed file version is {numbers}")
for key in ("FileDescription", "LegalCopyright"):
    if "Quellon" not in strings.get(key, ""):
        wrong.append(f"{key}: {strings.get(key)!r}")
print("\n".join(wrong), file=sys.stderr)
sys.exit(1 if wrong else 0)
CHECK
grep -aq "version=\"$version.0\"" "$exe" || fail "the manifest's assembly version is not $version.0"
for id in 35138b9a-5d96-4fbd-8e2d-a2440225f93a 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 \
    1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
    grep -aq "$id" "$exe" || fail "the manifest does not declare the Windows version $id"
done
grep -aq '<dpiAware[^>]*>true/pm</dpiAware>' "$exe" || fail "the manifest does not declare DPI awareness"
echo "PASS: the Windows build is up to date; the program is a 32-bit GUI program of version $version, imports only KnownDLLs and carries its icon and its requireAdministrator manifest."
