#!/bin/sh
# Drives the installer as a person would, under an X server, and prints what
# it left behind in a form that compares across hosts: a start without the
# CSP folder, whose install is refused twice, a start that installs and then
# cannot install again, a start answered No, one answered Yes. After each, the
# log (decoded from Windows-1251), the module's registry keys in both views
# and the CSP folders' files.
#
# The transcript must equal EXPECTED line by line; without EXPECTED it is
# printed instead.
#
# The drill side kills the installer (SIGKILL) in the middle of an install
# and of a removal, on a host slowed down for it, ROUNDS times each. After
# every kill install.log must hold the lines of the job in order, and the
# next starts must finish it: the removal offered and completed where the
# marker was written, then a fresh install. The machine must then be as
# EXPECTED's install left it.
#
# The sides: the simulated host, 64-bit (host, with the starts only it can
# make) or 32-bit (host32); Wine, a 64-bit Windows that runs the 32-bit
# program under WOW64 (wine64) or a 32-bit one (wine32). A 64-bit side and a
# 32-bit side each have their EXPECTED.
#
# usage: run-endtoend.sh host|host32 PROGRAM VEXOR_HOST_TOOL [EXPECTED]
#        run-endtoend.sh drill PROGRAM VEXOR_HOST_TOOL EXPECTED [ROUNDS]
#        run-endtoend.sh wine64|wine32 PROGRAM.exe [EXPECTED]
# Needs xvfb-run (when there is no display), xdotool, iconv; for Wine, wine64
# and wine32.
set -u

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

if [ -z "${DISPLAY:-}" ]; then
    command -v xvfb-run >/dev/null || fail "xvfb-run is missing (tools/install-deps.sh installs it)"
    # The server must not reset when its last client goes, as a killed
    # installer may be: a start during the reset cannot connect.
    exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" sh "$0" "$@"
fi
side=$1
program=$2
case $side in
host | host32 | drill) expected=${4:-} ;;
*) expected=${3:-} ;;
esac
# A 32-bit Windows has one program folder and one registry view.
bits=64
case $side in *32) bits=32 ;; esac
command -v xdotool >/dev/null || fail "xdotool is missing (tools/install-deps.sh installs it)"
[ -f "$program" ] || fail "the program is missing: $program"

work=$(mktemp -d "${TMPDIR:-/tmp}/endtoend.XXXXXX") || fail "cannot make a temporary folder"
cleanup() {
    case $side in wine*) wineserver -k >/dev/null 2>&1 ;; esac
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
mkdir -p "$work/program"
cp "$program" "$work/program/" || fail "cannot copy $program"
name=$(basename "$program")
log="$work/program/install.log"

csp_names='Program Files (x86)/Crypto Pro/CSP
Program Files/Crypto Pro/CSP'
csp32='C:\Program Files (x86)\Crypto Pro\CSP\'
if [ $bits = 32 ]; then
    csp_names='Program Files/Crypto Pro/CSP'
    csp32='C:\Program Files\Crypto Pro\CSP\'
fi

case $side in
host | host32 | drill)
    tool=$3
    arch=x86_64
    [ $bits = 32 ] && arch=i386
    # The installer runs on a copy: a copied host is a host of its own, and
    # nothing may reach the folder it was made in.
    VEXOR_HOST_DIR="$work/original" "$tool" create --arch $arch --with-csp >/dev/null ||
        fail "cannot make the simulated host"
    cp -a "$work/original" "$work/host" || fail "cannot copy the simulated host"
    export VEXOR_HOST_DIR="$work/host"
    drive="$VEXOR_HOST_DIR/drive_c"
    reg() { "$tool" reg "$@"; }
    "$tool" snapshot before >/dev/null || fail "cannot take a snapshot of the host"
    # The framework's Russian catalogue follows the system locale. The window
    # needs no OpenGL, and Mesa's GLX set-up leaks under the sanitizers.
    export LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8 QT_XCB_GL_INTEGRATION=none
    unset LANGUAGE
    # Arguments NAME=VALUE add to the program's environment.
    start() { (cd "$work/program" && QT_QPA_PLATFORM=xcb exec env "$@" "./$name" >"$work/out" 2>&1) & pid=$!; }
    stop() { kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; }
    ;;
wine64 | wine32)
    export WINEPREFIX="$work/prefix" WINEARCH=win$bits WINEDEBUG=-all
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
    reg() {
        wine reg "$@" >"$work/reg.out" 2>&1
        status=$?
        tr -d '\r' <"$work/reg.out"
        return $status
    }
    # The Crypto Pro CSP as Windows Installer records a per-machine product.
    packed=7AB5E7046046FB044ACD63458B5F481C
    reg add "HKLM\\Software\\Classes\\Installer\\Products\\$packed" /v ProductName \
        /d "Crypto Pro CSP" /f /reg:64 >/dev/null
    reg add "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\$packed\\InstallProperties" \
        /v InstallLocation /d "$csp32" /f /reg:64 >/dev/null
    printf '%s\n' "$csp_names" | while read -r folder; do mkdir -p "$drive/$folder"; done
    start() { (cd "$work/program" && exec wine "./$name" >"$work/out" 2>&1) & pid=$!; }
    stop() { wineserver -k >/dev/null 2>&1; wait "$pid" 2>/dev/null; }
    ;;
*)
    fail "unknown side $side (host, host32, drill, wine64 or wine32)"
    ;;
esac

# Waits up to 120 s for the installer's one visible window: the main window
# on a first start, the question on a later one (the main window stays hidden
# until it is answered); prints its id. The titles differ only in Cyrillic,
# which xdotool's patterns do not match reliably.
# A search is tried again rather than waited on: xdotool gives up on an X
# error when a window goes away while it looks, as Wine's windows do.
window() {
    i=0
    while [ $i -lt 240 ]; do
        found=$(xdotool search --onlyvisible --name "Quellon Vexor K" 2>/dev/null | head -n 1)
        [ -n "$found" ] && echo "$found" && return 0
        sleep 0.5
        i=$((i + 1))
    done
}

# Waits up to 120 s for a visible window of the installer other than $1, a
# message box; prints its id.
box() {
    i=0
    while [ $i -lt 240 ]; do
        for other in $(xdotool search --onlyvisible --name "Quellon Vexor K" 2>/dev/null); do
            [ "$other" != "$1" ] && echo "$other" && return 0
        done
        sleep 0.5
        i=$((i + 1))
    done
}

# Presses keys in the window: focus it first, as a click would.
press() {
    xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1"
    sleep 0.5
    shift
    xdotool key --delay 200 "$@"
}

# Waits up to 120 s for the log to end with the line $1.
# With more lines, waits for any of them; $last is the one it ended with.
await_line() {
    i=0
    while [ $i -lt 240 ]; do
        if [ -f "$log" ]; then
            last=$(iconv -f CP1251 -t UTF-8 "$log" | tr -d '\r' | tail -n 1)
            for line in "$@"; do
                [ "$last" = "$line" ] && return 0
            done
        fi
        sleep 0.5
        i=$((i + 1))
    done
    echo "-- the log so far:" >&2
    iconv -f CP1251 -t UTF-8 "$log" >&2
    fail "the log never ended with: $1"
}

# The values of a reg query /s, each under its key, keys and values sorted:
# the order in which a registry lists them is not the installer's to keep,
# and a key without values of its own shows only through its subkeys.
values() {
    awk -v bits="$2" '/^HKEY_/ { key = $0 " (" bits "-bit view)"; next } NF { print key "\t" $0 }' "$1" |
        LC_ALL=C sort |
        awk -F '\t' '$1 != key { key = $1; print key } { print $2 }'
}

# What a start left behind. Host paths become the Windows ones they stand for.
report() {
    echo "== $1: install.log"
    if [ -f "$log" ]; then iconv -f CP1251 -t UTF-8 "$log" | tr -d '\r'; fi
    echo "== $1: registry"
    # The native view, which shows the 32-bit programs' part as Wow6432Node,
    # and then the 32-bit view as a 32-bit program sees it.
    for view in "" "Wow6432Node\\" 32; do
        for key in "Microsoft\\Cryptography\\Calais\\SmartCards\\VEXOR" \
            "Microsoft\\Cryptography\\Calais\\SmartCards\\VEXOR_ESMART" \
            "Crypto Pro\\Cryptography\\CurrentVersion\\KeyCarriers\\VEXOR" \
            "Crypto Pro\\Cryptography\\CurrentVersion\\AppPath\\vexor.dll" "Quellon"; do
            path="HKEY_LOCAL_MACHINE\\SOFTWARE\\${view%32}$key"
            bits=64
            [ "$view" = 32 ] && bits=32
            # "none" only for a key that is not there (Windows' and Wine's
            # words differ in case); any other failure is no answer at all.
            if reg query "$path" /s /reg:$bits >"$work/query" 2>&1; then
                values "$work/query" $bits
            elif grep -qi "unable to find the specified registry key" "$work/query"; then
                printf '%s (%s-bit view): none\n' "$path" $bits
            else
                fail "reg query $path /reg:$bits failed: $(cat "$work/query")"
            fi
        done
    done
    echo "== $1: files"
    printf '%s\n' "$csp_names" | while read -r folder; do
        for file in "$drive/$folder"/*; do
            [ -f "$file" ] && printf '%s/%s %s bytes\n' "$folder" "$(basename "$file")" "$(wc -c <"$file")"
        done
    done
}

normalize() {
    sed -e "s#$drive#C:#g" -e '/C:/s#/#\\#g'
}

transcript="$work/transcript"
: >"$transcript"
# What the host says changed since a snapshot, on the host side only: Wine
# has no snapshots.
changes="$work/changes"
: >"$changes"
changed() {
    [ "$side" = host ] || return 0
    echo "== $1: changes since $2" >>"$changes"
    "$tool" diff "$2" >"$work/diff" || fail "vexor-host diff $2 failed"
    sed -e "s#$VEXOR_HOST_DIR/drive_c#C:#g" -e '/C:/s#/#\\#g' "$work/diff" >>"$changes"
}

# The lines of a section of EXPECTED ("== install: registry").
section() {
    awk -v head="== $1" '$0 == head { on = 1; next } /^== / { on = 0 } on' "$expected"
}

# The decoded log, one line each.
log_lines() {
    [ -f "$log" ] && iconv -f CP1251 -t UTF-8 "$log" | tr -d '\r'
}

# Waits up to 120 s for the log to hold at least $1 lines.
await_lines() {
    i=0
    while [ "$(log_lines | grep -c '')" -lt "$1" ] && [ $i -lt 240 ]; do
        sleep 0.25
        i=$((i + 1))
    done
}

# Starts the installer until the job is done: a removal it offers is
# answered Yes, and an install is tried until it succeeds. An install over a
# module left by the killed one keeps that module and ends with errors but
# writes the marker, so the next start offers the removal.
finish_job() {
    for attempt in 1 2 3 4; do
        start
        id=$(window)
        [ -n "$id" ] || fail "the installer did not start again after the kill"
        case $(xdotool getwindowname "$id") in
        *!)
            press "$id" space
            await_line "Удаление прошло успешно." "Удаление завершено с ошибками!"
            stop
            continue
            ;;
        esac
        press "$id" space
        await_line "Библиотеки Quellon Vexor K для КриптоПро успешно установлены!" \
            "Установка Quellon Vexor K для КриптоПро завершена с ошибками!"
        stop
        case $last in Библиотеки*) return 0 ;; esac
    done
    fail "four starts did not finish the job"
}

if [ "$side" = drill ]; then
    rounds=${5:-2}
    section "install: install.log" >"$work/install.expected"
    section "answered Yes: install.log" >"$work/removal.expected"
    { section "install: registry"; section "install: files"; } >"$work/machine.expected"
    round=1
    while [ $round -le "$rounds" ]; do
        for job in install removal; do
            # An install starts on a clean machine, a removal on an installed one.
            if [ $job = install ] && [ $round -gt 1 ]; then
                start
                id=$(window)
                press "$id" space
                await_line "Удаление прошло успешно."
                stop
            fi
            [ $job = removal ] && [ $round -eq 1 ] && finish_job
            # The files go at once; the registry calls are slowed down. The kill
            # lands at a random moment among them.
            lines=6
            [ $job = removal ] && lines=7
            pause=$(awk -v seed="$round$$${#job}" 'BEGIN { srand(seed); printf "%.2f", rand() * 1.5 }')
            # Each registry call takes a while, for the kill to land inside.
            start VEXOR_HOST_CALL_DELAY_MS=40
            id=$(window)
            [ -n "$id" ] || fail "the installer did not start for the $job"
            press "$id" space
            await_lines "$lines"
            sleep "$pause"
            kill -KILL "$pid" 2>/dev/null
            wait "$pid" 2>/dev/null
            seen=$(log_lines | grep -c '')
            [ "$seen" -ge "$lines" ] || fail "$job round $round: the log lost lines: $seen of $lines"
            head -n "$seen" "$work/$job.expected" >"$work/prefix"
            log_lines | normalize | diff -u "$work/prefix" - ||
                fail "$job round $round: the log is not the start of the $job's log"
            finish_job
            { report machine | sed -n '/^== machine: registry/,$p' | grep -v '^== machine: '; } |
                normalize >"$work/machine"
            grep -v '^== ' "$work/machine.expected" | diff -u - "$work/machine" ||
                fail "$job round $round: after the kill and a finished install the machine differs"
            echo "$job killed after $seen lines: the log kept them, the next starts finished the job"
        done
        round=$((round + 1))
    done
    exit 0
fi
if [ "$side" = host ] && [ -n "${VEXOR_NO_CP1251_LIBRARY:-}" ]; then
    # Without the "Windows-1251" codec the installer refuses to start: a box
    # says why, and it ends with exit code 1, the earlier log left as it was.
    echo "a line of an earlier run" >"$log"
    start LD_PRELOAD="$VEXOR_NO_CP1251_LIBRARY"
    id=$(window)
    [ "$(xdotool getwindowname "$id" 2>/dev/null)" = "Quellon Vexor K" ] ||
        fail "no box told that the codec is missing"
    press "$id" Return
    wait "$pid"
    status=$?
    [ $status -eq 1 ] || fail "without the codec the installer ended with $status, not 1"
    grep -qx 'The installer cannot start: this build of Qt has no "Windows-1251" text codec.' \
        "$work/out" || fail "the missing codec was not reported on standard error"
    [ "$(cat "$log")" = "a line of an earlier run" ] || fail "without the codec the log changed"
fi

if [ "$side" = host ]; then
    # A folder without a host, and hosts whose database is empty or no
    # database: the first line of the log names which, and an install is
    # refused for that reason, not for a missing Crypto Pro. No host is made
    # and no database mended.
    mkdir -p "$work/empty" "$work/garbage"
    : >"$work/empty/registry.db"
    echo "not a database" >"$work/garbage/registry.db"
    cp "$work/empty/registry.db" "$work/empty.db"
    cp "$work/garbage/registry.db" "$work/garbage.db"
    for damage in typo empty garbage; do
        case $damage in
        typo) problem="there is no host in $work/typo (make one with: vexor-host create)" ;;
        empty) problem="host database $work/empty/registry.db is not a registry of this host" ;;
        garbage) problem="host database $work/garbage/registry.db: file is not a database" ;;
        esac
        export VEXOR_HOST_DIR="$work/$damage"
        start
        export VEXOR_HOST_DIR="$work/host"
        id=$(window)
        [ -n "$id" ] || fail "the installer's window did not appear on the $damage host"
        await_line "$problem"
        press "$id" space
        box=$(box "$id")
        [ -n "$box" ] || fail "no box refused the install on the $damage host"
        press "$box" Return
        await_line "Отмена установки!"
        stop
        printf '%s\n' "$problem" "Начинаем установку..." \
            "Копирование библиотеки Quellon Vexor K для КриптоПро!" "$problem" "Отмена установки!" \
            >"$work/damaged.expected"
        log_lines | diff -u "$work/damaged.expected" - ||
            fail "on the $damage host the log does not name the damage"
        [ -e "$work/typo" ] && fail "the installer made a host in a folder without one"
        [ $damage = typo ] || cmp -s "$work/$damage/registry.db" "$work/$damage.db" ||
            fail "the installer changed the database of the $damage host"
    done
fi

printf '%s\n' "$csp_names" | while read -r folder; do mv "$drive/$folder" "$drive/$folder.away"; done
start
id=$(window)
[ -n "$id" ] || fail "the installer's window did not appear"
# The refusal leaves the install button enabled: a second press is refused again.
for try in 1 2; do
    press "$id" space
    box=$(box "$id")
    [ -n "$box" ] || fail "no failure box after press $try"
    echo "== without the CSP folder: box \"$(xdotool getwindowname "$box")\"" >>"$transcript"
    press "$box" Return
    i=0
    while xdotool getwindowname "$box" >/dev/null 2>&1 && [ $i -lt 60 ]; do sleep 0.5; i=$((i + 1)); done
done
stop
report "without the CSP folder" | normalize >>"$transcript"
changed "without the CSP folder" before
printf '%s\n' "$csp_names" | while read -r folder; do mv "$drive/$folder.away" "$drive/$folder"; done

start
id=$(window)
[ -n "$id" ] || fail "the installer's window did not appear"
press "$id" space
await_line "Библиотеки Quellon Vexor K для КриптоПро успешно установлены!"
# The button is disabled now: another press must not start a second install.
press "$id" space
sleep 2
# A second installer while this one runs: a box under the window's title says
# so, and it ends with exit code 1 having touched neither the log nor the host.
cp "$log" "$work/log.before"
[ "$side" = host ] && "$tool" snapshot running >/dev/null
first=$pid
start
second=$pid
box=$(box "$id")
[ -n "$box" ] || fail "a second installer showed no box"
echo "== a second installer: box \"$(xdotool getwindowname "$box")\"" >"$work/second"
press "$box" Return
wait "$second"
echo "== a second installer: exit code $?" >>"$work/second"
pid=$first
cmp -s "$log" "$work/log.before" || fail "a second installer changed the log"
changed "a second installer" running
stop
report install | normalize >"$work/install.report"
cat "$work/install.report" >>"$transcript"
cat "$work/second" >>"$transcript"
changed install before
[ "$side" = host ] && "$tool" snapshot installed >/dev/null

for answer in No Yes; do
    if [ $answer = No ] && [ "$side" = host ]; then
        # An English system without the framework's catalogues: the Russian
        # one the program carries names the buttons.
        mkdir -p "$work/no-catalogues"
        printf '[Paths]\nTranslations=%s\nPlugins=%s\n' "$work/no-catalogues" \
            "$(qmake -query QT_INSTALL_PLUGINS)" >"$work/program/qt.conf"
        start LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8
    else
        start
    fi
    id=$(window)
    [ -n "$id" ] || fail "the start-up question did not appear"
    rm -f "$work/program/qt.conf"
    # The buttons are answered by their Russian mnemonics, "&Нет" and "&Да".
    if [ $answer = No ]; then
        press "$id" alt+Cyrillic_en
        i=0
        while kill -0 "$pid" 2>/dev/null && [ $i -lt 120 ]; do sleep 0.5; i=$((i + 1)); done
        kill -0 "$pid" 2>/dev/null && fail "the installer did not end after No"
        wait "$pid"
        echo "== answered No: exit code $?" >>"$transcript"
    else
        press "$id" alt+Cyrillic_de
        await_line "Удаление прошло успешно."
        stop
    fi
    report "answered $answer" | normalize >"$work/answer.report"
    # A machine left as the install left it is said so in one line, not
    # listed again.
    machine() { sed -n "/^== $1: registry/,\$p" "$2" | sed "s/^== $1: /== /"; }
    if machine "answered $answer" "$work/answer.report" >"$work/answer.machine" &&
        machine install "$work/install.report" | cmp -s - "$work/answer.machine"; then
        sed "/^== answered $answer: registry/,\$d" "$work/answer.report" >>"$transcript"
        echo "== answered $answer: registry and files as after the install" >>"$transcript"
    else
        cat "$work/answer.report" >>"$transcript"
    fi
    [ $answer = No ] && changed "answered No" installed
    [ $answer = Yes ] && changed "answered Yes" before
done

if [ "$side" = host ]; then
    # A first install on a 32-bit host: one CSP folder, one view.
    export VEXOR_HOST_DIR="$work/host32"
    "$tool" create --arch i386 --with-csp >/dev/null || fail "cannot make the 32-bit host"
    "$tool" snapshot before >/dev/null
    start
    id=$(window)
    [ -n "$id" ] || fail "the installer's window did not appear on the 32-bit host"
    press "$id" space
    await_line "Библиотеки Quellon Vexor K для КриптоПро успешно установлены!"
    stop
    changed "32-bit host: install" before
fi

if [ "$side" = host ] && [ -n "$(find "$work/original" -name vexor.dll)" ]; then
    fail "the installer wrote into the folder its host was copied from"
fi
ran=$(find "$work/program" -name '*.ran' | sed "s#^$work/program/##")
[ -z "$ran" ] || fail "DLLs planted beside the program ran in it: $(echo $ran)"
if [ -z "$expected" ]; then
    cat "$transcript" "$changes"
    exit 0
fi
diff -u "$expected" "$transcript" ||
    fail "what the installer did differs from $expected (lines marked - are expected, + are seen)"
echo "ok: $(grep -c '' "$transcript") lines as expected"
if [ "$side" = host ]; then
    expected_changes="${expected%.txt}-changes.txt"
    diff -u "$expected_changes" "$changes" ||
        fail "what the host says changed differs from $expected_changes"
    echo "ok: the host's changes as expected"
fi
