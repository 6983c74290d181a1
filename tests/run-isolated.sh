#!/bin/sh
# Runs one test executable from a fresh temporary program folder with its own
# simulated host, home and XDG folders; removes them afterwards.
set -u
exe="$1"; shift
work=$(mktemp -d "${TMPDIR:-/tmp}/vexor-test.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT INT TERM
mkdir -p "$work/program" "$work/host" "$work/home" "$work/tmp"
cp "$exe" "$work/program/" || exit 1
export VEXOR_HOST_DIR="$work/host"
export HOME="$work/home"
export XDG_DATA_HOME="$work/home/.local/share"
export XDG_CONFIG_HOME="$work/home/.config"
export XDG_CACHE_HOME="$work/home/.cache"
export XDG_RUNTIME_DIR="$work/tmp"
export TMPDIR="$work/tmp"
cd "$work/program" || exit 1
"$work/program/$(basename "$exe")" "$@"
