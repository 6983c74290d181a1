#!/bin/sh
# Drills of the simulated host through its own tool, every command a process
# of its own, as the installer and reg.exe are:
#   - the first use of a folder by several processes at once: every create
#     succeeds, and a write either finds no host yet or is kept;
#   - two writers at once: every value and every queued file of both is kept;
#   - a writer killed (SIGKILL) at a random moment, ROUNDS times: every
#     acknowledged write is there whole, at most one more, and the host opens.
# Each value's data is its name fifty times over, so a torn write shows.
#
# usage: run-drills.sh VEXOR_HOST_TOOL [ROUNDS]
set -u

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

tool=$1
# A writer: run-drills.sh TOOL --writer PREFIX COUNT adds PREFIX-0, PREFIX-1...
# below HKLM\SOFTWARE\Load\PREFIX, queues a file of the same name for deletion
# at restart, and prints each index once both are acknowledged. COUNT 0:
# until killed.
if [ "${2:-}" = --writer ]; then
    i=0
    while [ "$4" -eq 0 ] || [ $i -lt "$4" ]; do
        name=$3-$i
        "$tool" reg add "HKLM\\SOFTWARE\\Load\\$3" /v "$name" /d "$(printf "$name%.0s" $(seq 50))" \
            /f >/dev/null || exit 1
        "$tool" queue "C:\\nonexistent\\$name" >/dev/null || exit 1
        echo $i
        i=$((i + 1))
    done
    exit 0
fi
rounds=${2:-20}
[ -x "$tool" ] || fail "the host tool is missing: $tool"
work=$(mktemp -d "${TMPDIR:-/tmp}/drills.XXXXXX") || fail "cannot make a temporary folder"
trap 'rm -rf "$work"' EXIT
export VEXOR_HOST_DIR="$work/host"
"$tool" create >/dev/null || fail "cannot make a host"

# check PREFIX LEAST MOST: the values of PREFIX are PREFIX-0 on, LEAST to MOST
# of them, each whole, and as many files of theirs are queued, or one fewer.
# A writer killed before its first write leaves no key: no values.
check() {
    "$tool" info >/dev/null 2>"$work/err" || fail "the host does not open: $(cat "$work/err")"
    "$tool" reg query "HKLM\\SOFTWARE\\Load\\$1" >"$work/query" 2>/dev/null
    values=$(awk -v prefix="$1" '
        $2 == "REG_SZ" {
            whole = ""
            for (i = 0; i < 50; i++) whole = whole $1
            if ($3 != whole) { print "torn " $1; exit }
            seen[$1] = 1; n++
        }
        END { for (i = 0; i < n; i++) if (!((prefix "-" i) in seen)) { print "missing " prefix "-" i; exit }
              print n + 0 }' "$work/query")
    case $values in *[!0-9]*) fail "$1: $values" ;; esac
    [ "$values" -ge "$2" ] && [ "$values" -le "$3" ] || fail "$1: $values values, not $2 to $3"
    queued=$("$tool" pending | grep -c "^delete C:.nonexistent.$1-")
    [ "$queued" -le "$values" ] && [ "$queued" -ge $((values - 1)) ] ||
        fail "$1: $queued queued files for $values values"
}

round=1
while [ $round -le $rounds ]; do
    export VEXOR_HOST_DIR="$work/first$round"
    for n in 1 2 3 4; do
        "$tool" create >"$work/create$n" 2>&1 &
        "$tool" reg add "HKLM\\SOFTWARE\\First" /v "v$n" /d "$n" /f >"$work/add$n" 2>&1 &
    done
    wait
    for n in 1 2 3 4; do
        grep -q "^Architecture: x86_64" "$work/create$n" || fail "a create at once: $(cat "$work/create$n")"
        if grep -q "^ERROR" "$work/add$n"; then
            grep -q "^ERROR: there is no host in" "$work/add$n" || fail "a write at once: $(cat "$work/add$n")"
        else
            "$tool" reg query "HKLM\\SOFTWARE\\First" /v "v$n" >/dev/null || fail "v$n was acknowledged, and lost"
        fi
    done
    round=$((round + 1))
done
echo "first use by eight processes at once: $rounds rounds, every create made one host"
export VEXOR_HOST_DIR="$work/host"

count=150
sh "$0" "$tool" --writer first $count >/dev/null &
first=$!
sh "$0" "$tool" --writer second $count >/dev/null &
second=$!
wait $first || fail "the first writer failed"
wait $second || fail "the second writer failed"
check first $count $count
check second $count $count
echo "two writers at once: $count values and queued files each, all kept"

round=1
while [ $round -le $rounds ]; do
    sh "$0" "$tool" --writer "killed$round" 0 >"$work/acks" &
    writer=$!
    sleep "$(awk -v seed="$round$$" 'BEGIN { srand(seed); printf "%.3f", 0.05 + rand() * 0.5 }')"
    # Frozen first, so that it starts no command between the kill of the one
    # it runs and its own.
    kill -STOP $writer
    pkill -KILL -P $writer
    kill -KILL $writer
    wait $writer 2>/dev/null
    acknowledged=$(grep -c '' "$work/acks")
    check "killed$round" "$acknowledged" $((acknowledged + 1))
    round=$((round + 1))
done
echo "writers killed at random moments: $rounds rounds, every acknowledged write kept whole"
