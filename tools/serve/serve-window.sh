#!/bin/sh
# Serves the installer's window as a web page, for a machine without a
# display: Qt's VNC platform draws the window, websockify carries it to
# noVNC in the browser. Everything listens on loopback only.
# Usage: serve-window.sh PROGRAM [ARGUMENT...]
# VEXOR_WEB_PORT (6080) is the page's port, VEXOR_VNC_PORT (5910) the VNC
# server's; VEXOR_LOOPBACK_LIBRARY names the preload that keeps the VNC port
# on loopback (build/tools/serve/libvexor-loopback.so).
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
web=${VEXOR_WEB_PORT:-6080}
vnc=${VEXOR_VNC_PORT:-5910}

fail() {
    echo "$*" >&2
    exit 1
}
# Both are used from the program's folder.
absolute() {
    folder=$(cd "$(dirname "$1")" 2>/dev/null && pwd) && echo "$folder/$(basename "$1")" || echo "$1"
}
loopback=$(absolute "${VEXOR_LOOPBACK_LIBRARY:-$root/build/tools/serve/libvexor-loopback.so}")
program=$(absolute "$1")
shift
[ -f "$loopback" ] || fail "the loopback preload is missing: $loopback (tools/build.sh builds it)"
command -v websockify >/dev/null && [ -f /usr/share/novnc/vnc_lite.html ] ||
    fail "websockify or noVNC is missing (tools/install-deps.sh installs them)"

# A port is busy when something on this machine already listens on it.
busy() {
    python3 -c 'import socket, sys
for family, address in ((socket.AF_INET, "127.0.0.1"), (socket.AF_INET6, "::1")):
    with socket.socket(family) as s:
        s.settimeout(1)
        if s.connect_ex((address, int(sys.argv[1]))) == 0:
            sys.exit(0)
sys.exit(1)' "$1"
}
busy "$web" && fail "port $web is busy: set VEXOR_WEB_PORT to a free port"
busy "$vnc" && fail "port $vnc is busy: set VEXOR_VNC_PORT to a free port"

# Waits up to 10 s for process $2 to listen on port $1; $3 names the server.
await_port() {
    i=0
    until busy "$1"; do
        kill -0 "$2" 2>/dev/null || fail "$3 ended before it listened on port $1"
        [ $i -lt 100 ] || fail "$3 did not start on port $1"
        sleep 0.1
        i=$((i + 1))
    done
}

pids=""
stop() {
    [ -n "$pids" ] && kill $pids 2>/dev/null
    wait 2>/dev/null
}
trap 'stop; exit 0' INT TERM
trap stop EXIT

# The window looks for its icon in the working directory.
(cd "$(dirname "$program")" && LD_PRELOAD="$loopback" \
    QT_QPA_PLATFORM="vnc:size=800x600:port=$vnc" exec "$program" "$@") &
installer=$!
pids="$installer"
await_port "$vnc" "$installer" "the installer's VNC server"
websockify --web /usr/share/novnc "127.0.0.1:$web" "[::1]:$vnc" >/dev/null 2>&1 &
pids="$pids $!"
await_port "$web" $! websockify
echo "The installer's window is served at http://127.0.0.1:$web/vnc_lite.html"
echo "Open it in a browser on this machine (from another one: ssh -L $web:127.0.0.1:$web this-machine)."
echo "Ctrl+C stops it."
wait "$installer"
