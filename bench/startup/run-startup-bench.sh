#!/bin/sh
# The installer's start-up against its floors: exec to the window's MapNotify
# under an X server (Xvfb when there is no display), for the installer on a
# fresh simulated host, a program showing the installer's own form and
# nothing else, and one showing an empty window. The three start in turn,
# STARTS times each (45 unless given); prints the medians, the installer's
# ratio to each floor and the median peak memory of each.
# Usage: bench/startup/run-startup-bench.sh [STARTS]   (builds into build/)
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build="$root/build"
starts=${1:-45}

if [ -z "${DISPLAY:-}" ]; then
    command -v xvfb-run >/dev/null || { echo "xvfb-run is missing (tools/install-deps.sh)" >&2; exit 1; }
    exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" sh "$0" "$@"
fi
cmake --build "$build" -j"$(nproc)" --target VEXOR_K_CryptoProInstaller vexor-host \
    bench_empty_window bench_form_window bench_startup_timer >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/startup-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work/runtime"
export VEXOR_HOST_DIR="$work/host" QT_QPA_PLATFORM=xcb LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8 \
    XDG_RUNTIME_DIR="$work/runtime"
"$build/simhost/vexor-host/vexor-host" create --with-csp >/dev/null
# The installer writes its log beside itself.
cp "$build/src/app/VEXOR_K_CryptoProInstaller" "$work/"
timer="$build/bench/startup/bench_startup_timer"

i=0
while [ $i -lt "$starts" ]; do
    for program in installer:"$work/VEXOR_K_CryptoProInstaller" \
        form:"$build/bench/startup/bench_form_window" \
        empty:"$build/bench/startup/bench_empty_window"; do
        (cd "$work" && "$timer" "${program#*:}") >>"$work/${program%%:*}" ||
            { echo "a start of ${program#*:} failed" >&2; exit 1; }
    done
    i=$((i + 1))
done

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
for name in installer form empty; do
    eval "${name}_ms=$(cut -d' ' -f1 "$work/$name" | median)"
    eval "${name}_kb=$(cut -d' ' -f2 "$work/$name" | median)"
done
echo "start-up, exec to the window on screen, median of $starts starts:"
printf '  %-34s %8.1f ms %8d KiB peak\n' "installer" "$installer_ms" "$installer_kb" \
    "the installer's form, no logic" "$form_ms" "$form_kb" \
    "an empty window" "$empty_ms" "$empty_kb"
awk -v i="$installer_ms" -v f="$form_ms" -v e="$empty_ms" 'BEGIN {
    printf "  installer / form-only:   %.3f (kept within 1.05)\n", i / f
    printf "  installer / empty window: %.3f\n", i / e
}'
