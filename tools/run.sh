#!/bin/sh
# Installs the packages the project needs, builds it, makes a simulated
# Windows host with Crypto Pro when there is none yet, and starts the
# installer (under a virtual X server when there is no display).
# Idempotent; works as root; needs no network once the packages are present.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"

sh "$root/tools/build.sh"

host="${VEXOR_HOST_DIR:-${XDG_DATA_HOME:-$HOME/.local/share}/vexor-host}"
export VEXOR_HOST_DIR="$host"
tool="$build/tools/vexor-host/vexor-host"
if [ ! -d "$host" ] || [ -z "$(ls -A "$host" 2>/dev/null)" ]; then
    if [ -x "$tool" ]; then
        echo "Making a simulated Windows host with Crypto Pro in $host"
        "$tool" create --with-csp
    else
        echo "No vexor-host tool in this build; the installer starts on an empty host."
    fi
fi

# The window looks for its icon in the working directory.
cd "$build/src/app"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    exec xvfb-run -a ./VEXOR_K_CryptoProInstaller "$@"
fi
exec ./VEXOR_K_CryptoProInstaller "$@"
