#!/bin/sh
# Runs the registry scenarios on the simulated host and, built with mingw-w64,
# under Wine, and compares the two outputs line by line after putting the
# listed Windows answers in place of Wine's. BITS is the Windows program's:
# 64, or 32 for a 32-bit program under WOW64, which the simulated host then
# runs as a 32-bit process.
#
# usage: run-conformance.sh NATIVE_PROGRAM WINDOWS_PROGRAM BITS KNOWN_DIFFERENCES
set -u

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

[ $# -eq 4 ] || fail "usage: $0 NATIVE_PROGRAM WINDOWS_PROGRAM BITS KNOWN_DIFFERENCES"
native=$1
windows=$2
bits=$3
known=$4
# Every check the table defines must be compared: a row that a runner skips
# silently is a check that cannot fail. Every row is one check but set-up
# steps, group headings, comments and blank lines.
table=$(dirname "$0")/scenarios.txt
defined=$(grep -c -v -E '^(#|== |- |[[:space:]]*$)' "$table")

[ -x "$native" ] || fail "the simulated-host build of the scenarios is missing: $native"
[ -f "$windows" ] || fail "the Windows build of the scenarios is missing: $windows (needs x86_64-w64-mingw32-g++; tools/install-deps.sh installs g++-mingw-w64-x86-64)"
[ -f "$known" ] || fail "the list of known differences is missing: $known"
command -v wine >/dev/null 2>&1 || fail "wine is not installed (Debian package wine64; tools/install-deps.sh installs it)"

. "$(dirname "$0")/scratch-session.sh"
start_scratch_session conformance

# stopped NAME STATUS: a run that did not finish fails the test, showing the
# last of what it said on its error output and its output.
stopped() {
    tail -n 20 "$work/$1.err" "$work/$1.out" >&2
    fail "the scenarios did not run to the end in $1 (exit status $2)"
}

# Wine first: a broken Wine is the likelier failure, and it must never pass.
(cd "$work" && wine "$windows" "$wine_scenario_files" >"$work/wine.out" 2>"$work/wine.err") || stopped wine $?
(cd "$work" && VEXOR_HOST_PROCESS_BITS=$bits "$native" "$host_scenario_files" >"$work/native.out" 2>"$work/native.err") || stopped native $?
# Wine's program ends its lines with CR LF.
tr -d '\r' <"$work/wine.out" >"$work/wine.lines"

# Put the listed Windows answers in place of Wine's. An entry must carry its
# reason and source, and its Wine line must still be what Wine prints.
awk -v known="$known" '
    function complain(message) {
        print message > "/dev/stderr"
        bad = 1
    }
    BEGIN {
        while ((getline line < known) > 0) {
            field = substr(line, 1, index(line, " ") - 1)
            if (field == "check")
                order[++count] = label = substr(line, 7)
            else if (field ~ /^(wine|windows|reason|source)$/)
                entry[label, field] = substr(line, length(field) + 2)
        }
        for (i = 1; i <= count; i++)
            if (!((order[i], "wine") in entry && (order[i], "windows") in entry &&
                  (order[i], "reason") in entry && (order[i], "source") in entry))
                complain("incomplete entry " order[i])
    }
    ($1, "wine") in entry {
        seen[$1] = 1
        rest = substr($0, length($1) + 2)
        if (rest != entry[$1, "wine"])
            complain("stale entry " $1 ": Wine now prints: " rest)
        $0 = $1 " " entry[$1, "windows"]
    }
    { print }
    END {
        for (i = 1; i <= count; i++)
            if (!(order[i] in seen))
                complain("entry for a check that no longer exists: " order[i])
        exit bad
    }
' "$work/wine.lines" >"$work/expected.out" || fail "the list of known differences ($known) does not fit Wine's answers"

checks=$(grep -c '' "$work/expected.out")
if ! diff -u "$work/expected.out" "$work/native.out" >"$work/diff.out"; then
    grep '^[-+][^-+]' "$work/diff.out" >&2
    fail "$(grep -c '^+[^+]' "$work/diff.out") of $checks checks differ: the lines with - are the expected answers (Wine's, with the listed Windows differences), the lines with + the simulated host's"
fi
[ "$checks" -eq "$defined" ] || fail "$checks checks compared; $table defines $defined"
echo "PASS: $checks checks compared, identical; $(grep -c '^check ' "$known") known Windows/Wine differences applied."
