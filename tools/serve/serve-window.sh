#!/bin/sh
# Serves the installer's window as a web page, for a machine without a
# display. TigerVNC's X server (Xvnc) runs the program on the same X11
# platform as a desktop does, and keeps track of what it draws; websockify
# carries it to noVNC in the browser. The screen takes the size of the
# installer's window, so the page shows the window and nothing beside it.
# Everything listens on loopback only.
# Usage: serve-window.sh PROGRAM [ARGUMENT...]
# VEXOR_WEB_PORT (6080) is the page's port, VEXOR_VNC_PORT (5910) the VNC
# server's.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
web=${VEXOR_WEB_PORT:-6080}
vnc=${VEXOR_VNC_PORT:-5910}
novnc=/usr/share/novnc
# What the page calls itself: the window's title, which names the product.
title="Установка Quellon Vexor K для Крипто Про"

fail() {
    echo "$*" >&2
    exit 1
}
# The program is started from its own folder.
absolute() {
    folder=$(cd "$(dirname "$1")" 2>/dev/null && pwd) && echo "$folder/$(basename "$1")" || echo "$1"
}
program=$(absolute "$1")
shift
for tool in Xvnc xauth xdotool xprop xrandr xsetroot websockify; do
    command -v $tool >/dev/null || fail "$tool is missing (tools/install-deps.sh installs it)"
done
[ -f $novnc/core/rfb.js ] || fail "noVNC is missing (tools/install-deps.sh installs it)"

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

work=$(mktemp -d "${TMPDIR:-/tmp}/serve-window.XXXXXX")
pids=""
stop() {
    [ -n "$pids" ] && kill $pids 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap 'stop; exit 0' INT TERM
trap stop EXIT

# Only clients that hold the cookie may use the X server; the server takes
# every cookie of its file, whatever display it names.
export XAUTHORITY="$work/Xauthority"
cookie=$(mcookie)
: >"$XAUTHORITY"
xauth -q add :0 . "$cookie"
Xvnc -displayfd 3 -auth "$XAUTHORITY" -nolisten tcp -localhost -rfbport "$vnc" \
    -SecurityTypes None -AcceptSetDesktopSize=0 -geometry 800x600 -depth 24 \
    -desktop "$title" 3>"$work/display" >"$work/Xvnc.log" 2>&1 &
server=$!
pids="$server"
await_port "$vnc" "$server" "the X server Xvnc"
# It names its display once it takes clients.
i=0
until [ -s "$work/display" ]; do
    [ $i -lt 100 ] || fail "the X server Xvnc named no display: $(cat "$work/Xvnc.log")"
    sleep 0.1
    i=$((i + 1))
done
display=:$(cat "$work/display")
export DISPLAY="$display"
xauth -q add "$display" . "$cookie"
# The colour of noVNC's own background, around a question shown before the
# window.
xsetroot -solid "#282828"

(cd "$(dirname "$program")" && QT_QPA_PLATFORM=xcb QT_XCB_GL_INTEGRATION=none \
    exec "$program" "$@") &
installer=$!
pids="$pids $installer"

# The screen follows the installer's main window: its size, the window in
# its top left corner. A question shown before it stays on the first screen.
fit() {
    fitted=""
    output=$(xrandr | awk '/ connected/ { print $1; exit }')
    while kill -0 "$installer" 2>/dev/null; do
        for window in $(xdotool search --onlyvisible --pid "$installer" 2>/dev/null); do
            # The first type is the window's own; a box names "normal" after it.
            case $(xprop -id "$window" _NET_WM_WINDOW_TYPE 2>/dev/null) in
            *"= _NET_WM_WINDOW_TYPE_NORMAL"*) ;;
            *) continue ;;
            esac
            eval "$(xdotool getwindowgeometry --shell "$window" 2>/dev/null)" || continue
            size="${WIDTH}x$HEIGHT"
            if [ "$size" != "$fitted" ]; then
                xrandr --newmode "$size" 0 "$WIDTH" "$WIDTH" "$WIDTH" "$WIDTH" \
                    "$HEIGHT" "$HEIGHT" "$HEIGHT" "$HEIGHT" 2>/dev/null
                xrandr --addmode "$output" "$size" 2>/dev/null
                xrandr --output "$output" --mode "$size" --fb "$size" && fitted=$size
            fi
            [ "$X" = 0 ] && [ "$Y" = 0 ] || xdotool windowmove "$window" 0 0
        done
        sleep 0.2
    done
}
fit &
pids="$pids $!"

# The page: noVNC's client, from Debian's package, in a page of our own.
mkdir -p "$work/web"
ln -s $novnc/core $novnc/vendor "$work/web/"
cp "$root/tools/serve/window.html" "$work/web/"
websockify --web "$work/web" "127.0.0.1:$web" "127.0.0.1:$vnc" >/dev/null 2>&1 &
pids="$pids $!"
await_port "$web" $! websockify
echo "The installer's window is served at http://127.0.0.1:$web/window.html"
echo "Open it in a browser on this machine (from another one: ssh -L $web:127.0.0.1:$web this-machine)."
echo "Ctrl+C stops it."
# For a look from this machine's X tools (xwd, xdotool).
echo "X display $display, authority $XAUTHORITY"
wait "$installer"
