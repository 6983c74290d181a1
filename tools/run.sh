#!/bin/sh
# Installs the packages the project needs, builds it, makes a simulated
# Windows host with Crypto Pro when there is none yet, and starts the
# installer: its window, or on a machine without a display, a web page that
# shows it (tools/serve/serve-window.sh prints the address).
# Idempotent; works as root; needs no network once the packages are present.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"

sh "$root/tools/build.sh"

host="${VEXOR_HOST_DIR:-${XDG_DATA_HOME:-$HOME/.local/share}/vexor-host}"
export VEXOR_HOST_DIR="$host"
tool="$build/simhost/vexor-host/vexor-host"
if [ ! -d "$host" ] || [ -z "$(ls -A "$host" 2>/dev/null)" ]; then
    if [ -x "$tool" ]; then
        echo "Making a simulated Windows host with Crypto Pro in $host"
        "$tool" create --with-csp
    else
        echo "No vexor-host tool in this build; the installer starts on an empty host."
    fi
fi

# Without a display the window is served as a web page on this machine.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    exec sh "$root/tools/serve/serve-window.sh" "$build/src/app/VEXOR_K_CryptoProInstaller" "$@"
fi
# The window looks for its icon in the working directory.
cd "$build/src/app"
exec ./VEXOR_K_CryptoProInstaller "$@"
