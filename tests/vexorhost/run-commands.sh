#!/bin/bash
# usage: run-commands.sh TABLE VEXOR_HOST_TOOL
# Walks a table of command lines, with vexor-host on the PATH. "== what it
# shows" opens a scenario, run in fresh empty folders: $host (VEXOR_HOST_DIR)
# and $files, the working folder. Its steps are bash command lines:
#   $ LINE   prints the "> " lines that follow, then the "! " lines on its
#            error output, and exits with [n] (0 without one); the folders
#            show as $host and $files, blanks at line ends do not count
#   ~ LINE   a reg command line run by Wine ("wine LINE") and by us
#            ("vexor-host LINE"), $side naming the side (wine or host) and
#            $other the other: both exit with the same code and show the
#            same key and value lines
set -u
table=$1
PATH=$(cd "$(dirname "$2")" && pwd):$PATH
scratch=$(mktemp -d) || exit 1
# One Wine prefix serves the whole table: its scenarios keep to keys of
# their own.
export WINEPREFIX=$scratch/prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
unset DISPLAY
trap 'wineserver -k 2>/dev/null; rm -rf "$scratch"' EXIT
export host files side other

transcript() {
    (cd "$files" && bash -o pipefail -c "$1") >"$scratch/out" 2>"$scratch/err" </dev/null
    local code=$?
    awk '{ print "> " $0 }' "$scratch/out"
    awk '{ print "! " $0 }' "$scratch/err"
    [ "$code" = 0 ] || echo "[$code]"
}

normal() { sed -E "s|$host|\$host|g; s|$files|\$files|g; s/[[:space:]]+$//"; }

# The two sides word their status and error lines differently, and Wine 8.0
# shows a REG_QWORD's data as "(null)".
keysAndValues() {
    transcript "$1" | normal |
        grep -v -E '^(!.*|>|> (reg: |The operation completed|End of search|Search complete|ERROR: ).*)$' |
        sed -E 's/(    REG_QWORD    ).*/\1/'
}

# What is wrong with the step read last; nothing when it did as the table
# says, or for a "~" step, as Wine does.
check() {
    local actual
    if [ "$kind" = '~' ]; then
        expected=$(side=wine other=host keysAndValues "wine $step")
        actual=$(side=host other=wine keysAndValues "vexor-host $step")
    else
        actual=$(transcript "$step" | normal)
    fi
    [ "$actual" = "$expected" ] || diff <(echo "$expected") <(echo "$actual")
}

finish() {
    [ -n "$step" ] || return 0
    local found
    found=$(check)
    [ -z "$found" ] || printf 'FAIL: %s\n%s %s\n%s\n' "$title" "$kind" "$step" "$found"
    [ -z "$found" ] || failed=$((failed + 1))
    step=
}

scenarios=0
failed=0
step=
while IFS= read -r line || [ -n "$line" ]; do
    case $line in
    '>'* | '!'* | '['*) expected+=${expected:+$'\n'}$line ;;
    '== '*)
        finish
        title=${line#== }
        scenarios=$((scenarios + 1))
        host=$scratch/$scenarios/host
        files=$scratch/$scenarios/files
        mkdir -p "$host" "$files"
        export VEXOR_HOST_DIR=$host
        ;;
    '$ '* | '~ '*)
        finish
        kind=${line:0:1}
        step=${line:2}
        expected=
        ;;
    '' | '#'*) ;;
    *)
        echo "$table: a line of no kind: $line"
        failed=$((failed + 1))
        ;;
    esac
done <"$table"
finish
echo "$scenarios scenarios, $failed failed steps"
[ "$failed" = 0 ]
