#!/bin/sh
# Installs the Debian 12 packages the project needs. Idempotent: when every
# package is already present it touches neither the network nor apt.
set -eu

PACKAGES="
cmake
make
g++
pkg-config
qtbase5-dev
qtbase5-dev-tools
qttranslations5-l10n
libsqlite3-dev
sqlite3
fonts-liberation2
fonts-dejavu-core
xvfb
xauth
x11-utils
xdotool
procps
libxcb1-dev
python3
novnc
websockify
tigervnc-standalone-server
x11-xserver-utils
x11-apps
chromium
chromium-driver
wine
wine64
wine32:i386
g++-mingw-w64-x86-64
g++-mingw-w64-i686
osslsigncode
openssl
python3-pefile
clang
libclang-rt-14-dev
"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -z "$missing" ]; then
    exit 0
fi

echo "Installing:$missing"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
# The 32-bit Wine, for a 32-bit Windows under Wine, comes from the i386 archive.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update
# shellcheck disable=SC2086
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y $missing
