# Sourced by run-conformance.sh and bench/conformance/run-bench.sh, which
# define fail() first. Both run the scenarios under Wine and on the
# simulated host, each in a fresh registry that nothing else shares.

# Where the scenarios keep their files, as the Windows build names it; the
# simulated host build gets $host_scenario_files from the session.
wine_scenario_files='C:\conformance-files\'

# start_scratch_session NAME: makes $work (removed on exit, with the
# wineserver stopped), a 64-bit Wine prefix and a simulated host inside it.
start_scratch_session() {
    work=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX") || fail "cannot make a temporary folder"
    export WINEPREFIX="$work/wineprefix"
    export WINEARCH=win64
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY WAYLAND_DISPLAY
    export VEXOR_HOST_DIR="$work/host"
    host_scenario_files="$VEXOR_HOST_DIR/drive_c/conformance-files/"
    trap end_scratch_session EXIT
    trap 'exit 1' INT TERM
}

end_scratch_session() {
    wineserver -k >/dev/null 2>&1
    rm -rf "$work"
}
