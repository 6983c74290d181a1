#!/bin/sh
# Times the registry conformance scenarios under Wine and on the simulated
# host, each in a fresh temporary registry, and prints the mean, median and
# 99th percentile time per scenario row, by the call it checks, for both and
# the ratio of the means (below 1: the simulated host is faster).
#
# usage: run-bench.sh NATIVE_PROGRAM WINDOWS_PROGRAM [ROUNDS]
set -u

fail() {
    echo "error: $*" >&2
    exit 1
}

[ $# -ge 2 ] || fail "usage: $0 NATIVE_PROGRAM WINDOWS_PROGRAM [ROUNDS]"
native=$1
windows=$2
rounds=${3:-20}
[ -x "$native" ] || fail "missing: $native"
[ -f "$windows" ] || fail "missing: $windows"
command -v wine >/dev/null 2>&1 || fail "wine is not installed (Debian package wine64)"

. "$(dirname "$0")/../../tests/conformance/scratch-session.sh"
start_scratch_session conformance-bench

echo "Preparing the Wine prefix (first start takes a while)..." >&2
(cd "$work" && wine "$windows" "$wine_scenario_files" >/dev/null 2>&1) ||
    fail "Wine could not run $windows"
echo "Timing $rounds rounds under Wine..." >&2
# The programs print one line per check row, "API nanoseconds"; figures() makes
# "API calls mean median p99" of them, in microseconds, with nearest-rank
# percentiles: always a duration that was measured.
figures() {
    LC_ALL=C sort -k1,1 -k2,2n | awk '
        function flush() {
            if (n) printf "%s %d %.2f %.2f %.2f\n", api, n, total / n / 1000,
                d[int((n * 50 + 99) / 100)] / 1000, d[int((n * 99 + 99) / 100)] / 1000
        }
        $1 != api { flush(); api = $1; n = 0; total = 0 }
        { d[++n] = $2; total += $2 }
        END { flush() }'
}
(cd "$work" && wine "$windows" --time "$rounds" "$wine_scenario_files" 2>/dev/null) |
    tr -d '\r' | figures >"$work/wine.txt"
[ -s "$work/wine.txt" ] || fail "Wine printed no figures"
echo "Timing $rounds rounds on the simulated host..." >&2
VEXOR_HOST_PROCESS_BITS=64 "$native" --time "$rounds" "$host_scenario_files" >"$work/host.raw" ||
    fail "the simulated host run failed"
figures <"$work/host.raw" >"$work/host.txt"

echo "Registry calls of the conformance scenarios, $rounds rounds; microseconds per check row"
echo "(mean, median and 99th percentile)."
awk '
    FNR == NR { wineCalls[$1] = $2; wineMean[$1] = $3; wineMedian[$1] = $4; wineP99[$1] = $5; next }
    { hostCalls[$1] = $2; hostMean[$1] = $3; hostMedian[$1] = $4; hostP99[$1] = $5; names[$1] = 1 }
    END {
        printf "%-20s %9s %10s %10s %10s %10s %10s %10s %10s\n", "call", "calls", "Wine mean",
               "host mean", "host/Wine", "Wine med", "host med", "Wine p99", "host p99"
        for (name in wineCalls) names[name] = 1
        n = 0
        for (name in names) sorted[++n] = name
        for (i = 2; i <= n; i++)
            for (j = i; j > 1 && sorted[j - 1] > sorted[j]; j--) {
                t = sorted[j]; sorted[j] = sorted[j - 1]; sorted[j - 1] = t
            }
        for (i = 1; i <= n; i++) {
            name = sorted[i]
            w = wineMean[name] + 0; h = hostMean[name] + 0
            ratio = w > 0 ? sprintf("%.2f", h / w) : "-"
            printf "%-20s %9d %10.2f %10.2f %10s %10.2f %10.2f %10.2f %10.2f\n", name,
                   hostCalls[name], w, h, ratio, wineMedian[name], hostMedian[name],
                   wineP99[name], hostP99[name]
            wineTotal += w * wineCalls[name]; hostTotal += h * hostCalls[name]
        }
        # Parenthesised: a bare ">" in a printf argument list redirects the line.
        printf "%-20s %9s %10.0f %10.0f %10s\n", "all calls (total us)", "",
               wineTotal, hostTotal, (wineTotal > 0 ? sprintf("%.2f", hostTotal / wineTotal) : "-")
    }
' "$work/wine.txt" "$work/host.txt"
