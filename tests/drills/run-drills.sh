#!/bin/sh
# Drills of the simulated host through its own tool, every command a process
# of its own, as the installer and reg.exe are. Each round, on a new folder:
#   - eight processes use it first at once: every create succeeds, and a
#     write either finds no host yet or is kept;
#   - two writers at once, killed (SIGKILL) at a random moment: every write
#     either acknowledged is there whole, at most one more each, with as many
#     files queued for deletion at restart, or one fewer; the host opens.
#
# usage: run-drills.sh VEXOR_HOST_TOOL [ROUNDS]
set -u

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

tool=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/drills.XXXXXX") || fail "cannot make a temporary folder"
trap 'rm -rf "$work"' EXIT

# A value's data: its name fifty times over, so that a torn write shows.
data() {
    printf "$1%.0s" $(seq 50)
}

# writer NAME: adds NAME-0, NAME-1... below HKLM\SOFTWARE\Load\NAME, queues a
# file of the same name for deletion at restart, and prints each index once
# both are acknowledged; until killed.
writer() {
    for i in $(seq 0 9999); do
        "$tool" reg add "HKLM\\SOFTWARE\\Load\\$1" /v "$1-$i" /d "$(data "$1-$i")" /f >/dev/null || return
        "$tool" queue "C:\\nonexistent\\$1-$i" >/dev/null || return
        echo $i
    done
}

# check NAME: the values of the killed writer NAME are NAME-0 on, as many as
# it acknowledged or one more, each whole; and as many files are queued, or
# one fewer. A host that does not open shows as too few, and says why.
check() {
    acknowledged=$(grep -c '' "$work/$1")
    "$tool" reg query "HKLM\\SOFTWARE\\Load\\$1" 2>"$work/err" | grep REG_SZ | sort >"$work/values"
    values=$(grep -c '' "$work/values")
    [ "$values" -ge "$acknowledged" ] && [ "$values" -le $((acknowledged + 1)) ] ||
        fail "$1: $values values for $acknowledged acknowledged $(cat "$work/err")"
    for i in $(seq 0 $((values - 1))); do
        printf '    %s    REG_SZ    %s\n' "$1-$i" "$(data "$1-$i")"
    done | sort | diff - "$work/values" >/dev/null || fail "$1: a value is torn or missing"
    queued=$("$tool" pending | grep -c "^delete C:.nonexistent.$1-")
    [ "$queued" -le "$values" ] && [ "$queued" -ge $((values - 1)) ] || fail "$1: $queued queued for $values values"
}

for round in $(seq "${2:-20}"); do
    export VEXOR_HOST_DIR="$work/host$round"
    for n in 1 2 3 4; do
        "$tool" create >"$work/create$n" 2>&1 &
        "$tool" reg add "HKLM\\SOFTWARE\\First" /v "v$n" /d "$n" /f >"$work/add$n" 2>&1 &
    done
    wait
    [ "$(grep -l '^Architecture: x86_64' "$work"/create? | wc -l)" -eq 4 ] || fail "creates at once: $(cat "$work"/create?)"
    # Every write that found a host is kept.
    kept=$(grep -L "^ERROR: there is no host in" "$work"/add? | wc -l)
    [ "$("$tool" reg query "HKLM\\SOFTWARE\\First" 2>/dev/null | grep -c REG_SZ)" -eq "$kept" ] ||
        fail "writes at once: $(cat "$work"/add?)"
    writer one >"$work/one" &
    one=$!
    writer other >"$work/other" &
    other=$!
    sleep "$(awk -v seed="$round$$" 'BEGIN { srand(seed); printf "%.3f", 0.2 + rand() * 0.5 }')"
    # Frozen first, so that neither starts a command between the kill of the
    # one it runs and its own.
    kill -STOP $one $other
    pkill -KILL -P "$one,$other"
    kill -KILL $one $other
    wait
    check one
    check other
done
