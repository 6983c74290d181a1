#!/bin/sh
# Drives the installer as a person would, under an X server, and holds what
# each start leaves against tests/machine: install.log against the
# procedure's log, the module's part of the registry (listing below) against
# what an install leaves or nothing, and the CSP folders against the modules
# the program carries. The starts: one without the CSP folder, whose install
# is refused twice; an install, after which a second press and a second
# installer start nothing; one answered No, which leaves the machine as it
# was; one answered Yes, which leaves nothing of the module. The simulated
# host adds its own account of what changed, and starts only it can make: on
# hosts missing or damaged.
#
# The drill side kills the installer (SIGKILL) in the middle of an install
# and of a removal, on a host slowed down for it, ROUNDS times each. After
# every kill install.log must hold the start of the procedure's log, and the
# next starts must finish the job: the removal offered and completed where
# the marker was written, then a fresh install.
#
# The sides: the simulated host, 64-bit (host) or 32-bit (host32); Wine, a
# 64-bit Windows that runs the 32-bit program under WOW64 (wine64) or a
# 32-bit one (wine32).
#
# usage: run-endtoend.sh host|host32 PROGRAM VEXOR_HOST_TOOL
#        run-endtoend.sh drill PROGRAM VEXOR_HOST_TOOL [ROUNDS]
#        run-endtoend.sh wine64|wine32 PROGRAM.exe
# Needs xvfb-run (when there is no display), xdotool, iconv; for Wine, wine64
# and wine32.
set -u

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The server must not reset when its last client goes, as a killed installer
# may be: a start during the reset cannot connect.
[ -n "${DISPLAY:-}" ] || exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" sh "$0" "$@"
side=$1
# Through run-isolated.sh this is a copy, told by CMake where the sources are.
here=$(cd "$(dirname "$0")" && pwd)
machine=${VEXOR_MACHINE_DIR:-$here/../machine}
# The stand-in modules every test build carries.
modules=${VEXOR_MODULES_DIR:-$here/../../resources}
work=$(mktemp -d "${TMPDIR:-/tmp}/endtoend.XXXXXX") || fail "cannot make a temporary folder"
cleanup() {
    case $side in wine*) wineserver -k >/dev/null 2>&1 ;; esac
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
mkdir -p "$work/program"
cp "$2" "$work/program/" || fail "cannot copy the program"
name=$(basename "$2")
log="$work/program/install.log"
# The closing lines of a finished install and removal.
installed=$(tail -n 1 "$machine/install-x64.log")
removed=$(tail -n 1 "$machine/remove-x64.log")

# A 32-bit Windows has one program folder and one registry view.
arch=x64
csp32='Program Files (x86)/Crypto Pro/CSP'
csp64='Program Files/Crypto Pro/CSP'
case $side in *32) arch=x86 csp32=$csp64 csp64= ;; esac

tool=
case $side in
host | host32 | drill)
    tool=$3
    host_arch=x86_64
    [ $arch = x86 ] && host_arch=i386
    # The installer runs on a copy: a copied host is a host of its own, and
    # nothing may reach the folder it was made in.
    VEXOR_HOST_DIR="$work/original" "$tool" create --arch $host_arch --with-csp >/dev/null ||
        fail "cannot make the simulated host"
    cp -a "$work/original" "$work/host" || fail "cannot copy the simulated host"
    export VEXOR_HOST_DIR="$work/host"
    drive="$VEXOR_HOST_DIR/drive_c"
    reg() { "$tool" reg "$@"; }
    # The framework's Russian catalogue follows the system locale. The window
    # needs no OpenGL, and Mesa's GLX set-up leaks under the sanitizers.
    export LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8 QT_XCB_GL_INTEGRATION=none
    unset LANGUAGE
    # Arguments NAME=VALUE add to the program's environment.
    launch() { (cd "$work/program" && QT_QPA_PLATFORM=xcb exec env "$@" "./$name" >"$work/out" 2>&1) & pid=$!; }
    stop() { kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; }
    ;;
wine64 | wine32)
    export WINEPREFIX="$work/prefix" WINEARCH="win${side#wine}" WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    wineboot -i >/dev/null 2>&1 || fail "cannot make a Wine prefix"
    if [ -n "${VEXOR_PLANTED_DLL:-}" ]; then
        # Beside the program lie DLLs of the names Windows would look for
        # there first: those outside its KnownDLLs that the program or the
        # framework calls, and plugins in the framework's folders. Loaded, one
        # leaves a marker. version and uxtheme are left out: Wine's own user32
        # loads them from wherever it may, which Windows' KnownDLLs never do;
        # the import table is checked for them instead (tests/wincompile).
        [ -f "$VEXOR_PLANTED_DLL" ] || fail "the planted DLL is missing: $VEXOR_PLANTED_DLL"
        planted='dwmapi mpr msi netapi32 userenv winmm wtsapi32'
        for dll in $planted; do cp "$VEXOR_PLANTED_DLL" "$work/program/$dll.dll"; done
        for folder in platforms styles imageformats iconengines; do
            mkdir -p "$work/program/$folder"
            cp "$VEXOR_PLANTED_DLL" "$work/program/$folder/qplanted.dll"
        done
        # Windows' order: such a name is looked for beside the program first.
        WINEDLLOVERRIDES="$(echo $planted | tr ' ' ',')=n,b;$WINEDLLOVERRIDES"
    fi
    drive="$WINEPREFIX/drive_c"
    reg() { wine reg "$@"; }
    # The Crypto Pro CSP as Windows Installer records a per-machine product.
    packed=7AB5E7046046FB044ACD63458B5F481C
    reg add "HKLM\\Software\\Classes\\Installer\\Products\\$packed" /v ProductName \
        /d "Crypto Pro CSP" /f /reg:64 >/dev/null
    reg add "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\$packed\\InstallProperties" \
        /v InstallLocation /d "C:\\$(echo "$csp32" | tr / '\\')\\" /f /reg:64 >/dev/null
    mkdir -p "$drive/$csp32" "$drive/${csp64:-$csp32}"
    launch() { (cd "$work/program" && exec wine "./$name" >"$work/out" 2>&1) & pid=$!; }
    stop() { wineserver -k >/dev/null 2>&1; wait "$pid" 2>/dev/null; }
    ;;
*)
    fail "unknown side $side (host, host32, drill, wine64 or wine32)"
    ;;
esac

# Waits up to 120 s for "$@" to succeed.
await() {
    for i in $(seq 240); do
        "$@" && return 0
        sleep 0.5
    done
    return 1
}

# A visible window of the installer other than $1, as $found. The titles
# differ only in Cyrillic, which xdotool's patterns do not match reliably. A
# search is tried again rather than waited on: xdotool gives up on an X error
# when a window goes away while it looks, as Wine's windows do.
found() {
    found=$(xdotool search --onlyvisible --name "Quellon Vexor K" 2>/dev/null | grep -vx "${1:-}" | head -n 1)
    [ -n "$found" ]
}

# Starts the installer and finds its one window, as $id: the main window on
# a first start, the question on a later one (the main window stays hidden
# until it is answered).
start() {
    launch "$@"
    await found || fail "no window of the installer appeared"
    id=$found
}

# A message box beside the window $id, as $box; its title must be $1.
box() {
    await found "$id" || fail "no box titled \"$1\" appeared"
    box=$found
    title=$(xdotool getwindowname "$box")
    [ "$title" = "$1" ] || fail "a box titled \"$title\", not \"$1\""
}

# Presses keys in the window: focus it first, as a click would.
press() {
    xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1"
    sleep 0.5
    shift
    xdotool key --delay 200 "$@"
}

# An install the window $id refuses: the failure box says so, and is closed.
gone() {
    ! xdotool getwindowname "$box" >/dev/null 2>&1
}
refused() {
    press "$id" space
    box "Установка Quellon Vexor K для Крипто Про!"
    press "$box" Return
    await gone || fail "the failure box did not close"
}

# The decoded log, one line each.
log_lines() {
    [ -f "$log" ] && iconv -f CP1251 -t UTF-8 "$log" | tr -d '\r'
}
log_holds() {
    [ "$(log_lines | grep -c '')" -ge "$1" ]
}
log_ends() {
    log_lines | tail -n 1 | grep -qxF "$(printf '%s\n' "$@")"
}

# Starts the installer, presses $1 in its window and waits for the log to end
# with one of the lines after it.
run() {
    start
    press "$id" "$1"
    shift
    await log_ends "$@" || fail "the log never ended with: $1; it holds: $(log_lines)"
}

# Host paths become the Windows ones they stand for.
normalize() {
    sed -e 's/\r$//' -e "s#$drive#C:#g" -e '/C:/s#/#\\#g'
}

# The module's part of the registry as tests/machine holds it: every key
# below HKLM\SOFTWARE, in the 64-bit view, whose path names the module or its
# maker and that has values; keys sorted, and each key's values. The order in
# which a registry lists them is not the installer's to keep.
listing() {
    # A missing key lists nothing (Windows' and Wine's words for it differ in
    # letter case); any other failure is no answer at all.
    reg query 'HKLM\SOFTWARE' /s /reg:64 >"$work/query" 2>&1 ||
        grep -qi "unable to find the specified registry key" "$work/query" ||
        fail "reg query HKLM\\SOFTWARE failed: $(head -n 5 "$work/query")"
    normalize <"$work/query" |
        awk '/^HKEY_/ { key = $0; next } /^    / && tolower(key) ~ /vexor|quellon/ { print key "\t" $0 }' |
        LC_ALL=C sort | awk -F '\t' '$1 != key { key = $1; print key } { print $2 }'
}

# The machine after a start $3: the log equals the file $1 and the listing
# the file $2. After an install ($2 not empty) each CSP folder holds the
# module of its kind as the program carries it, otherwise nothing.
check_machine() {
    log_lines | normalize | diff -u "$1" - || fail "$3: install.log differs from $1 (- expected, + seen)"
    listing >"$work/listing"
    diff -u "$2" "$work/listing" || fail "$3: the registry differs from $2 (- expected, + seen)"
    module=vexor.dll
    [ -s "$2" ] || module=
    for kind in x86 ${csp64:+x64}; do
        folder="$drive/$csp32"
        [ $kind = x64 ] && folder="$drive/$csp64"
        files=$(ls -A "$folder" 2>/dev/null)
        [ "$files" = "$module" ] || fail "$3: the $kind CSP folder holds: $files"
        [ -z "$module" ] || cmp "$folder/vexor.dll" "$modules/$kind/vexor.dll" || fail "$3: not the $kind module"
    done
}

# The host's own account of a start $1 that may change nothing, since the
# install. Wine keeps no snapshots.
unchanged() {
    [ -z "$tool" ] && return 0
    changes=$("$tool" diff installed)
    [ "$changes" = "no changes" ] || fail "$1 changed the host: $changes"
}

# Starts the installer until the job is done: a removal it offers is
# answered Yes, and an install is tried until it succeeds. An install over a
# module left by the killed one keeps that module and ends with errors but
# writes the marker, so the next start offers the removal.
finish_job() {
    for attempt in 1 2 3 4; do
        run space "$removed" "Удаление завершено с ошибками!" "$installed" \
            "Установка Quellon Vexor K для КриптоПро завершена с ошибками!"
        stop
        log_ends "$installed" && return 0
    done
    fail "four starts did not finish the job"
}

if [ "$side" = drill ]; then
    for round in $(seq "${4:-2}"); do
        for job in install remove; do
            # An install starts on a clean machine, a removal on an installed one.
            if [ $job = install ] && [ $round -gt 1 ]; then
                run space "$removed"
                stop
            fi
            # The files go at once; each registry call is slowed down, for the
            # kill to land among them at a random moment.
            pause=$(awk -v seed="$round$$${#job}" 'BEGIN { srand(seed); printf "%.2f", rand() * 1.5 }')
            start VEXOR_HOST_CALL_DELAY_MS=40
            press "$id" space
            await log_holds 6 || fail "$job round $round: the log never held the files' lines"
            sleep "$pause"
            kill -KILL "$pid" 2>/dev/null
            wait "$pid" 2>/dev/null
            seen=$(log_lines | grep -c '')
            head -n "$seen" "$machine/$job-x64.log" >"$work/start.log"
            log_lines | normalize | diff -u "$work/start.log" - ||
                fail "$job round $round: the log is not the start of the $job's log"
            finish_job
            check_machine "$machine/install-x64.log" "$machine/x64-installed.txt" "$job round $round"
            echo "$job killed after $seen lines: the log kept them, the next starts finished the job"
        done
    done
    exit 0
fi

if [ "$side" = host ] && [ -n "${VEXOR_NO_CP1251_LIBRARY:-}" ]; then
    # Without the Windows-1251 codec the installer refuses to start: a box and
    # standard error say why, it ends with exit code 1, and the log stays.
    echo "an earlier run" >"$log"
    start LD_PRELOAD="$VEXOR_NO_CP1251_LIBRARY"
    press "$id" Return
    wait "$pid"
    [ $? -eq 1 ] || fail "without the codec the installer did not end with exit code 1"
    grep -q '"Windows-1251" text codec' "$work/out" || fail "the missing codec was not reported"
    [ "$(cat "$log")" = "an earlier run" ] || fail "without the codec the log changed"
fi

if [ "$side" = host ]; then
    # A folder without a host, and hosts whose database is empty or no
    # database: the first line of the log names which, and an install is
    # refused for that reason, not for a missing Crypto Pro. No host is made
    # and no database mended; the lock of a running installer may stay.
    mkdir -p "$work/damaged/empty" "$work/damaged/garbage"
    : >"$work/damaged/empty/registry.db"
    echo "not a database" >"$work/damaged/garbage/registry.db"
    cp -a "$work/damaged" "$work/damaged.before"
    for damage in typo empty garbage; do
        folder="$work/damaged/$damage"
        case $damage in
        typo) problem="there is no host in $folder (make one with: vexor-host create)" ;;
        empty) problem="host database $folder/registry.db is not a registry of this host" ;;
        garbage) problem="host database $folder/registry.db: file is not a database" ;;
        esac
        start VEXOR_HOST_DIR="$folder"
        refused
        stop
        printf '%s\n' "$problem" "Начинаем установку..." \
            "Копирование библиотеки Quellon Vexor K для КриптоПро!" "$problem" "Отмена установки!" \
            >"$work/damaged.log"
        check_machine "$work/damaged.log" /dev/null "on the $damage host"
    done
    diff -r -x '*.lock' "$work/damaged.before" "$work/damaged" || fail "the installer made or changed a host"
fi

# Without the CSP folder an install is refused, and the button stays enabled:
# a second press is refused again. The 32-bit folder is the one looked for.
mv "$drive/$csp32" "$work/csp32"
start
refused
refused
stop
cat "$machine/cancel.log" "$machine/cancel.log" >"$work/cancel.log"
check_machine "$work/cancel.log" /dev/null "without the CSP folder"
mv "$work/csp32" "$drive/$csp32"

run space "$installed"
[ -z "$tool" ] || "$tool" snapshot installed >/dev/null || fail "cannot take a snapshot of the host"
# The button is disabled now: another press must not start a second install,
# which the log would show.
press "$id" space
# A second installer while this one runs: a box under the window's title
# says so, and it ends with exit code 1 having touched neither the log nor
# the host.
first=$pid
launch
box "Установка Quellon Vexor K для Крипто Про"
press "$box" Return
wait "$pid"
[ $? -eq 1 ] || fail "a second installer did not end with exit code 1"
unchanged "a second installer"
pid=$first
stop
check_machine "$machine/install-$arch.log" "$machine/$arch-installed.txt" install

# The buttons are answered by their Russian mnemonics, "&Нет" and "&Да". The
# program carries the Russian catalogue that names them: the framework's own
# are missing under Wine.
start
press "$id" alt+Cyrillic_en
wait "$pid" || fail "a start answered No ended with exit code $?"
check_machine /dev/null "$machine/$arch-installed.txt" "a start answered No"
unchanged "a start answered No"

run alt+Cyrillic_de "$removed"
stop
check_machine "$machine/remove-$arch.log" /dev/null "a start answered Yes"

[ -z "$tool" ] || [ -z "$(find "$work/original" -name vexor.dll)" ] ||
    fail "the installer wrote into the folder its host was copied from"
ran=$(find "$work/program" -name '*.ran' | sed "s#^$work/program/##")
[ -z "$ran" ] || fail "DLLs planted beside the program ran in it: $(echo $ran)"
echo "ok: the log and the machine as tests/machine holds them after every start"
