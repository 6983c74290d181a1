#!/bin/sh
# Compiles, for a Windows target, every source that the Windows build of the
# program compiles differently from this one: the Windows-only sources and
# every source that reaches the platform headers; and the resource script with
# its manifest. Nothing is linked: the Qt libraries for Windows are not here.
#
# usage: run-wincompile.sh SOURCE_ROOT UIC
set -u

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

[ $# -eq 2 ] || fail "usage: $0 SOURCE_ROOT UIC"
root=$1
uic=$2
cxx=x86_64-w64-mingw32-g++
windres=x86_64-w64-mingw32-windres
qt=/usr/include/x86_64-linux-gnu/qt5

command -v "$cxx" >/dev/null 2>&1 || fail "$cxx is missing (Debian package g++-mingw-w64-x86-64; tools/install-deps.sh installs it)"
command -v "$windres" >/dev/null 2>&1 || fail "$windres is missing (Debian package binutils-mingw-w64-x86-64)"
[ -x "$uic" ] || fail "uic is missing: $uic"
[ -d "$qt/QtCore" ] || fail "the Qt 5 headers are missing: $qt (Debian package qtbase5-dev)"

work=$(mktemp -d "${TMPDIR:-/tmp}/wincompile.XXXXXX") || fail "cannot make a temporary folder"
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM
mkdir -p "$work/generated"

# Forms become headers as AUTOUIC would make them; moc output that a source
# includes is left empty, since only its syntax around it is checked.
for form in "$root"/src/*/*.ui "$root"/tools/*/*.ui; do
    [ -f "$form" ] || continue
    name=$(basename "$form" .ui)
    "$uic" "$form" -o "$work/generated/ui_$name.h" || fail "uic failed on $form"
done

sources=""
for pattern in src/platform/*.cpp src/platform/windows/*.cpp src/common/*.cpp src/registry/*.cpp \
               src/engine/*.cpp src/app/*.cpp \
               tools/regcommand/*.cpp; do
    for source in "$root"/$pattern; do
        [ -f "$source" ] && sources="$sources $source"
    done
done
[ -n "$sources" ] || fail "no sources found below $root"

for source in $sources; do
    sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\(moc_[^"]*\|[^"]*\.moc\)".*/\1/p' "$source" |
        while read -r generated; do : >"$work/generated/$generated"; done
done

includes="-I$qt -I$qt/QtCore -I$qt/QtGui -I$qt/QtWidgets -I$root/src/platform -I$root/src/common -I$root/src/registry
          -I$root/src/app -I$root/src/engine -I$root/tools/regcommand -I$work/generated"

count=0
failed=0
for source in $sources; do
    count=$((count + 1))
    # shellcheck disable=SC2086
    if ! "$cxx" -fsyntax-only -std=c++17 -Wall -Wextra -Wno-attributes $includes "$source" \
            2>"$work/errors"; then
        failed=$((failed + 1))
        echo "--- ${source#"$root"/} does not compile for Windows:" >&2
        cat "$work/errors" >&2
    elif [ -s "$work/errors" ]; then
        echo "--- ${source#"$root"/} compiles for Windows with warnings:" >&2
        cat "$work/errors" >&2
    fi
done

scripts=0
for script in "$root"/resources/*.rc; do
    [ -f "$script" ] || continue
    scripts=$((scripts + 1))
    if ! "$windres" -I"$root/resources" -i "$script" -o "$work/resources.o" 2>"$work/errors"; then
        failed=$((failed + 1))
        echo "--- ${script#"$root"/} does not compile:" >&2
        cat "$work/errors" >&2
    fi
done
[ "$scripts" -gt 0 ] || fail "no resource script (resources/*.rc) to compile; the Windows build needs one"

[ "$failed" -eq 0 ] || fail "$failed of $((count + scripts)) files do not compile for Windows"
echo "PASS: $count sources and $scripts resource script(s) compile for Windows."
