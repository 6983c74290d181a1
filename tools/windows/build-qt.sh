#!/bin/sh
# Builds static Qt for i686-w64-mingw32 (32-bit Windows: the installer is a
# 32-bit program, which 64-bit Windows runs too) from Debian's own qtbase source, of
# the very version installed for this build, and caches it outside the
# checkout. Prints the Qt prefix on its last line. A second run finds the
# cache and builds nothing. Only Debian's archive is used.
#
# usage: build-qt.sh   (VEXOR_QT_WINDOWS_CACHE overrides the cache folder)
set -eu

fail() {
    echo "build-qt.sh: $*" >&2
    exit 1
}

version=$(dpkg-query -W -f='${Version}' qtbase5-dev 2>/dev/null) ||
    fail "qtbase5-dev is not installed (tools/install-deps.sh installs it)"
upstream=${version%%-*}
target=i686-w64-mingw32
# The flags are part of the cache key: a change to them builds anew.
# Built for size, and without what the installer never uses: its window,
# its message boxes and its text codecs are all it needs of the framework.
flags="-xplatform win32-g++ -device-option CROSS_COMPILE=$target- -release -static
 -optimize-size -opensource -confirm-license -no-dbus -no-opengl -no-icu -qt-zlib -qt-pcre
 -qt-libpng -no-libjpeg -no-freetype -no-harfbuzz -no-feature-tabletevent -no-feature-sql
 -no-feature-network -no-feature-xml -no-feature-big_codecs -no-feature-mimetype
 -no-feature-printer -no-feature-colordialog -no-feature-filedialog -no-feature-fontdialog
 -no-feature-wizard -no-feature-mdiarea -no-feature-calendarwidget -no-feature-datetimeedit
 -no-feature-textodfwriter -no-feature-pdf -no-feature-undoview -no-feature-dockwidget
 -no-feature-style-fusion -no-feature-movie -no-feature-sessionmanager
 -no-feature-graphicsview -no-feature-style-stylesheet -no-feature-statemachine
 -no-feature-topleveldomain -no-feature-jalalicalendar -no-feature-islamiccivilcalendar
 -no-feature-textmarkdownreader -no-feature-textmarkdownwriter -no-feature-systemtrayicon
 -nomake examples -nomake tests"
flags=$(printf '%s' "$flags" | tr '\n' ' ')
key=$(printf '%s %s' "$version" "$flags" | sha256sum | cut -c1-12)
cache=${VEXOR_QT_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vexor-installer}
prefix="$cache/qt-$upstream-$target-$key"

if [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi

command -v $target-g++-posix >/dev/null ||
    fail "$target-g++-posix is missing (Debian package g++-mingw-w64-i686)"
mkdir -p "$cache"
work=$(mktemp -d "$cache/build.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM

# A private apt configuration that also knows the archive's sources; the
# system's own configuration and lists stay untouched.
apt="$work/apt"
mkdir -p "$apt/sources.list.d" "$apt/lists/partial" "$apt/source"
for list in /etc/apt/sources.list.d/*.sources; do
    [ -f "$list" ] || continue
    grep -q 'debian' "$list" || continue
    sed 's/^Types:.*/Types: deb-src/' "$list" >"$apt/sources.list.d/$(basename "$list")"
done
if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb \(.*debian.*\)/deb-src \1/p' /etc/apt/sources.list >"$apt/sources.list.d/classic.list"
fi
aptget() {
    apt-get -q -o Dir::Etc::sourcelist=/dev/null -o Dir::Etc::sourceparts="$apt/sources.list.d" \
        -o Dir::State::Lists="$apt/lists" -o APT::Sandbox::User=root "$@"
}
echo "Fetching Debian's qtbase $version source" >&2
aptget update >&2
(cd "$apt/source" && aptget source --download-only "qtbase-opensource-src=$version" >&2) ||
    fail "could not fetch the source of qtbase-opensource-src $version"
orig=$(ls "$apt/source"/qtbase-opensource-src_*.orig.tar.* | head -n 1)
[ -f "$orig" ] || fail "no original source tarball was fetched"
mkdir -p "$work/src"
tar -xf "$orig" -C "$work/src" --strip-components=1

# QtTest and std::mutex need the POSIX thread model; the plain compiler
# names point at the win32 one, so put the posix ones first on PATH.
mkdir -p "$work/bin"
for tool in gcc g++; do
    ln -s "$(command -v $target-$tool-posix)" "$work/bin/$target-$tool"
done
PATH="$work/bin:$PATH"
export PATH

mkdir -p "$work/build"
cd "$work/build"
echo "Configuring Qt $upstream for $target" >&2
# shellcheck disable=SC2086
"$work/src/configure" -prefix "$prefix" $flags >"$work/configure.log" 2>&1 ||
    { tail -40 "$work/configure.log" >&2; fail "configure failed"; }
echo "Building Qt (about 15 minutes on two cores); its progress follows every minute" >&2
make -j"$(nproc)" >"$work/make.log" 2>&1 &
builder=$!
# Objects this configuration compiles, counted on a build of Qt 5.15.8: an
# estimate, so that a newcomer sees how far the build has got.
expected=1288
started=$(date +%s)
while sleep 60 && kill -0 "$builder" 2>/dev/null; do
    objects=$(find "$work/build" -name "*.o" | wc -l)
    echo "Building Qt: $objects of about $expected objects, $((($(date +%s) - started) / 60)) min" >&2
done
wait "$builder" || { tail -40 "$work/make.log" >&2; fail "make failed"; }
echo "Built Qt: $(find "$work/build" -name '*.o' | wc -l) objects in $((($(date +%s) - started) / 60)) min" >&2
rm -rf "$prefix"
make install >"$work/install.log" 2>&1 || { tail -40 "$work/install.log" >&2; fail "install failed"; }
touch "$prefix/.complete"
echo "$prefix"
