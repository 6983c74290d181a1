#!/bin/sh
# Runs a fuzz target over its seed corpus and then RUNS new inputs. New
# inputs go to a scratch folder, never into the corpus in the repository;
# a crash leaves its input in the working folder and fails the test.
#
# usage: run-fuzz.sh TARGET CORPUS RUNS [more libFuzzer options]
set -eu
target=$1
corpus=$2
runs=$3
shift 3
scratch=$(mktemp -d "${TMPDIR:-/tmp}/fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
"$target" -runs="$runs" -max_len=4096 -timeout=30 "$@" "$scratch" "$corpus"
