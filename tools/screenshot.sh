#!/bin/sh
# Makes docs/screenshot.png, the README's picture: the real program, served as a
# web page and opened in headless Chromium, after an install on a fresh
# 64-bit simulated host.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
sh "$root/tools/build.sh"
VEXOR_BROWSER_SHOT="$root/docs/screenshot.png" \
    python3 "$root/tests/browser/browser_test.py" "$root/tools/serve/serve-window.sh" \
    "$build/src/app/VEXOR_K_CryptoProInstaller" "$build/simhost/vexor-host/vexor-host" \
    "$build/tests/browser/vexor-form-geometry"
echo "$root/docs/screenshot.png"
