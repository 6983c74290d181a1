#!/bin/sh
# Runs the registry scenarios on the simulated host and, built with mingw-w64,
# under Wine, and compares the two outputs line by line after putting the
# listed Windows answers in place of Wine's. BITS is the Windows program's:
# 64, or 32 for a 32-bit program under WOW64, which the simulated host then
# runs as a 32-bit process. An entry of the differences with a "process N"
# line holds for N-bit programs only.
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
# silently is a check that cannot fail. A check row counts once, twice with
# "round-trip" (its set and its read back), and once per item of an "each".
table=$(dirname "$0")/scenarios.txt
defined=$(awk '
    /^each / {
        line = substr($0, 6); items = 0
        while (match(line, /^ *("([^"\\]|\\.)*"|[^ "]+)/)) { items++; line = substr(line, RSTART + RLENGTH) }
        next
    }
    /^    / { if (!items) next; row = substr($0, 5); times = items }
    !/^    / { items = 0; row = $0; times = 1 }
    row ~ /^(#|== |remove |alias |write-file |delete-file |-( |$))/ || row ~ /^[ \t]*$/ { next }
    { n += times * (row ~ /\| .*round-trip/ ? 2 : 1) }
    END { print n + 0 }' "$table")

[ -x "$native" ] || fail "the simulated-host build of the scenarios is missing: $native"
[ -f "$windows" ] || fail "the Windows build of the scenarios is missing: $windows (needs x86_64-w64-mingw32-g++; tools/install-deps.sh installs g++-mingw-w64-x86-64)"
[ -f "$known" ] || fail "the list of known differences is missing: $known"
command -v wine >/dev/null 2>&1 || fail "wine is not installed (Debian package wine64; tools/install-deps.sh installs it)"

. "$(dirname "$0")/scratch-session.sh"
start_scratch_session conformance

# Wine first: a broken Wine is the likelier failure, and it must never pass.
(cd "$work" && wine "$windows" "$wine_scenario_files" >"$work/wine.raw" 2>"$work/wine.err")
status=$?
tr -d '\r' <"$work/wine.raw" >"$work/wine.out"
if ! grep -q '^end [0-9]* checks$' "$work/wine.out"; then
    echo "--- Wine's error output (last lines) ---" >&2
    tail -n 20 "$work/wine.err" >&2
    fail "Wine did not run the scenarios to the end (exit status $status); the comparison cannot pass without it"
fi

(cd "$work" && VEXOR_HOST_PROCESS_BITS=$bits "$native" "$host_scenario_files" >"$work/native.out" 2>"$work/native.err")
status=$?
if ! grep -q '^end [0-9]* checks$' "$work/native.out"; then
    echo "--- simulated host's error output (last lines) ---" >&2
    tail -n 20 "$work/native.err" >&2
    echo "--- last checks printed ---" >&2
    tail -n 5 "$work/native.out" >&2
    fail "the scenarios on the simulated host did not run to the end (exit status $status)"
fi

# Put the listed Windows answers in place of Wine's. An entry must carry its
# reason and source, and its Wine line must still be what Wine prints.
awk -v known="$known" -v bits="$bits" -v report="$work/applied" '
    BEGIN {
        while ((getline line < known) > 0) {
            # An entry counts from its first line after "check", unless that
            # is "process N" for another bitness.
            if (line ~ /^check /) { pending = substr(line, 7); skip = 0; continue }
            if (line ~ /^process /) { skip = substr(line, 9) != bits; continue }
            if (skip) continue
            if (pending != "") { label = pending; labels[label] = 1; order[++count] = label; pending = "" }
            if (line ~ /^wine /) wine[label] = substr(line, 6)
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
