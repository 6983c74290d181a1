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
defined=$(grep -c -v -E '^(#|== |- |remove |write-file |[[:space:]]*$)' "$table")

[ -x "$native" ] || fail "the simulated-host build of the scenarios is missing: $native"
[ -f "$windows" ] || fail "the Windows build of the scenarios is missing: $windows (needs x86_64-w64-mingw32-g++; tools/install-deps.sh installs g++-mingw-w64-x86-64)"
[ -f "$known" ] || fail "the list of known differences is missing: $known"
command -v wine >/dev/null 2>&1 || fail "wine is not installed (Debian package wine64; tools/install-deps.sh installs it)"

. "$(dirname "$0")/scratch-session.sh"
start_scratch_session conformance

# ran NAME STATUS: fails unless $work/NAME.out ends as a finished run does,
# showing the last of what the run said on its error output and its output.
ran() {
    grep -q '^end [0-9]* checks$' "$work/$1.out" && return
    tail -n 20 "$work/$1.err" "$work/$1.out" >&2
    fail "the scenarios did not run to the end in $1 (exit status $2)"
}

# Wine first: a broken Wine is the likelier failure, and it must never pass.
(cd "$work" && wine "$windows" "$wine_scenario_files" >"$work/wine.raw" 2>"$work/wine.err")
status=$?
tr -d '\r' <"$work/wine.raw" >"$work/wine.out"
ran wine $status
(cd "$work" && VEXOR_HOST_PROCESS_BITS=$bits "$native" "$host_scenario_files" >"$work/native.out" 2>"$work/native.err")
ran native $?

# Put the listed Windows answers in place of Wine's. An entry must carry its
# reason and source, and its Wine line must still be what Wine prints.
awk -v known="$known" -v report="$work/applied" '
    BEGIN {
        while ((getline line < known) > 0) {
            if (line ~ /^check /) { label = substr(line, 7); labels[label] = 1; order[++count] = label }
            else if (line ~ /^wine /) wine[label] = substr(line, 6)
            else if (line ~ /^windows /) windows[label] = substr(line, 9)
            else if (line ~ /^reason /) reason[label] = 1
            else if (line ~ /^source /) source[label] = 1
        }
        for (i = 1; i <= count; i++) {
            l = order[i]
            if (!(l in wine) || !(l in windows) || !(l in reason) || !(l in source)) {
                print "incomplete entry " l > "/dev/stderr"; bad = 1
            }
        }
    }
    {
        label = $1
        rest = substr($0, length(label) + 2)
        if (label in labels) {
            seen[label] = 1
            if (rest == wine[label]) { print label " " windows[label]; next }
            print "stale entry " label ": Wine now prints: " rest > "/dev/stderr"; bad = 1
        }
        print
    }
    END {
        for (i = 1; i <= count; i++)
            if (!(order[i] in seen)) { print "entry for a check that no longer exists: " order[i] > "/dev/stderr"; bad = 1 }
        print count > report
        exit bad
    }
' "$work/wine.out" >"$work/expected.out" || fail "the list of known differences ($known) does not fit Wine's answers"

checks=$(sed -n 's/^end \([0-9]*\) checks$/\1/p' "$work/expected.out")
if ! diff -u "$work/expected.out" "$work/native.out" >"$work/diff.out"; then
    echo "The simulated host answers otherwise than Windows (Wine, with the listed differences)." >&2
    echo "Lines with - are the expected answers, lines with + the simulated host's:" >&2
    grep '^[-+][^-+]' "$work/diff.out" >&2
    fail "$(grep -c '^+[^+]' "$work/diff.out") of $checks checks differ"
fi
[ "$checks" -eq "$defined" ] || fail "$checks checks compared; $table defines $defined"
echo "PASS: $checks checks compared, identical; $(cat "$work/applied") known Windows/Wine differences applied."
