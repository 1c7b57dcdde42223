#!/usr/bin/env bash
# test-wine.sh - runs the Windows builds of Orv5w32.dll under Wine.
#
# For build/win64 and build/win32 in turn: the test host's port-free suite,
# sessions on COM5 against the terminal simulator over a pseudo-terminal
# (plain transfer, orvw.exe, abort from a second thread, nested calls), and
# the progress window under a fresh Xvfb per test (counter style, bar style,
# a click on Abort).  Screenshots go to build/artifacts/.  The last line is
# "wine: N passed, N failed"; the exit status is non-zero on any failure.
#
# Needs: the three presets built (native gives zdxsim), wine with wine32,
# Xvfb, xdotool, imagemagick (import), gcc with -m32 support (gcc-multilib).
# Build folders can be overridden with NATIVE_DIR, WIN64_DIR, WIN32_DIR.

set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
NATIVE_DIR=${NATIVE_DIR:-$ROOT/build/native}
WIN64_DIR=${WIN64_DIR:-$ROOT/build/win64}
WIN32_DIR=${WIN32_DIR:-$ROOT/build/win32}
WINE_OUT=$ROOT/build/wine             # shim, per-run work folders, logs
ARTIFACTS=$ROOT/build/artifacts
export WINEPREFIX=${WINEPREFIX:-$ROOT/build/wineprefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY
ZDXSIM=$NATIVE_DIR/bin/zdxsim
SHIM=$WINE_OUT/shim                   # $SHIM/lib/<multiarch>/ptyshim.so
# ld.so expands $LIB to lib/x86_64-linux-gnu or lib/i386-linux-gnu, so one
# LD_PRELOAD value serves 64-bit and 32-bit Wine processes alike.
SHIM_PRELOAD="$SHIM/\$LIB/ptyshim.so"
COM=5                                 # COM5 -> the simulator's pty

PASSED=0
FAILED=0
BG_PIDS=()
SERVER_STARTED=0

pass() { PASSED=$((PASSED + 1)); echo "PASS: $1"; }
fail() { FAILED=$((FAILED + 1)); echo "FAIL: $1${2:+ ($2)}"; }
# check NAME CONDITION: evaluates the condition, reports the case with the
# host's and the terminal's last words on failure.
check() {
    local name=$1; shift
    if eval "$@"; then pass "$name"; else
        fail "$name" "rc=$RC; $*; host: $(tr '\n' ' ' < "$HOST_LOG" 2>/dev/null | tail -c 400); terminal: $SUMMARY"
    fi
}

finish() {
    echo "wine: $PASSED passed, $FAILED failed"
    [ "$FAILED" = 0 ]
    exit $?
}

cleanup() {
    local pid
    # The server first: it ends every Wine process of the prefix (services,
    # device hosts); killed by a signal it would leave them running.
    [ "$SERVER_STARTED" = 1 ] && timeout 20 wineserver -k >/dev/null 2>&1
    for pid in "${BG_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -f "$WINEPREFIX/dosdevices/com$COM" "$WINEPREFIX/dosdevices/com10"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---- tools ----------------------------------------------------------------

missing=
for tool in wine wineserver wineboot Xvfb xdotool import gcc timeout; do
    command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
done
if [ -n "$missing" ]; then
    fail "tools present" "missing:$missing (scripts/setup-debian.sh installs them)"
    finish
fi
[ -x "$ZDXSIM" ] || { fail "zdxsim built" "$ZDXSIM missing: cmake --preset native"; finish; }

rm -rf "$WINE_OUT/work"
mkdir -p "$WINE_OUT/work" "$ARTIFACTS"
rm -f "$ARTIFACTS"/wine-*.png "$ARTIFACTS"/wine-*.log

# ---- the modem-line shim, 64-bit and 32-bit --------------------------------

build_shim() {
    local bits=$1 arch=$2 dir=$SHIM/lib/$2
    mkdir -p "$dir"
    gcc -m"$bits" -O2 -Wall -Wextra -shared -fPIC -o "$dir/ptyshim.so" \
        "$ROOT/tests/wine/ptyshim.c" -ldl -lpthread 2>"$WINE_OUT/shim-$bits.log" &&
    gcc -m"$bits" -O2 -Wall -Wextra -D_TIME_BITS=64 -D_FILE_OFFSET_BITS=64 \
        -o "$dir/ptyshim_check" "$ROOT/tests/wine/ptyshim_check.c" 2>>"$WINE_OUT/shim-$bits.log"
}
for pair in 64:x86_64-linux-gnu 32:i386-linux-gnu; do
    bits=${pair%%:*}; arch=${pair#*:}
    if ! build_shim "$bits" "$arch"; then
        fail "ptyshim builds for $bits-bit" "$(head -c 300 "$WINE_OUT/shim-$bits.log")"
        finish
    fi
    RC=0; HOST_LOG=$WINE_OUT/shim-check-$bits.log; SUMMARY=
    LD_PRELOAD=$SHIM/lib/$arch/ptyshim.so timeout 20 "$SHIM/lib/$arch/ptyshim_check" >"$HOST_LOG" 2>&1
    RC=$?
    check "ptyshim answers modem-line requests ($bits-bit)" '[ "$RC" = 0 ]'
done

# A display of its own for one GUI test: fresh pixels, nothing left over.
start_display() {
    local n i
    for n in $(seq 90 140); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -screen 0 640x480x24 -nolisten tcp >"$CASE_DIR/xvfb.log" 2>&1 &
        XVFB_PID=$!
        for i in $(seq 100); do
            [ -e "/tmp/.X11-unix/X$n" ] && break
            kill -0 "$XVFB_PID" 2>/dev/null || break
            sleep 0.05
        done
        # Another program may have taken the number meanwhile: next one.
        if kill -0 "$XVFB_PID" 2>/dev/null && [ -e "/tmp/.X11-unix/X$n" ]; then
            BG_PIDS+=("$XVFB_PID")
            export DISPLAY=":$n"
            return 0
        fi
        kill "$XVFB_PID" 2>/dev/null
        wait "$XVFB_PID" 2>/dev/null
    done
    echo "no X display could be started: $(cat "$CASE_DIR/xvfb.log")"
    return 1
}

stop_display() {
    kill "$XVFB_PID" 2>/dev/null
    wait "$XVFB_PID" 2>/dev/null
    unset DISPLAY
    # Wine's desktop process of that display ends with it.
    sleep 0.3
}

# ---- the prefix and the server ------------------------------------------------

# A prefix made before 32-bit Wine was installed cannot start 32-bit
# programs: the stamp records the Wine it was made with.
stamp="$(wine --version 2>/dev/null) wine32=$([ -d /usr/lib/wine/i386-windows ] && echo yes || echo no)"
if [ "$(cat "$WINEPREFIX/.orv5-stamp" 2>/dev/null)" != "$stamp" ]; then
    rm -rf "$WINEPREFIX"
fi
# Creating the prefix starts Wine's desktop process, which then serves
# every later program for a while: it is done under a display of its own
# and its server is ended afterwards, or the first window of a test would
# land on a desktop without a display and fail.
if [ ! -f "$WINEPREFIX/.orv5-stamp" ]; then
    mkdir -p "$WINEPREFIX"
    CASE_DIR=$WINE_OUT; start_display
    timeout 120 wineboot -i >"$WINE_OUT/wineboot.log" 2>&1 </dev/null
    # No crash dialog (it would hang a run under a display); Wine draws the
    # caption itself, so screenshots show the title without a window manager.
    timeout 30 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
        >>"$WINE_OUT/wineboot.log" 2>&1 </dev/null &&
    timeout 30 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f \
        >>"$WINE_OUT/wineboot.log" 2>&1 </dev/null &&
    echo "$stamp" >"$WINEPREFIX/.orv5-stamp"
    timeout 30 wineserver -k >/dev/null 2>&1
    timeout 30 wineserver -w >/dev/null 2>&1
    stop_display
fi
if [ ! -f "$WINEPREFIX/.orv5-stamp" ]; then
    fail "Wine prefix created" "$(tail -c 300 "$WINE_OUT/wineboot.log")"
    finish
fi
# One server for the whole run (programs start in 0.05 s instead of 0.4 s),
# in the foreground of its own: a pty it opens never becomes its
# controlling terminal.
timeout 30 wineserver -k >/dev/null 2>&1
wineserver -p -f >"$WINE_OUT/wineserver.log" 2>&1 </dev/null &
BG_PIDS+=($!)
SERVER_STARTED=1

# ---- helpers ------------------------------------------------------------------

. "$ROOT/tests/zdxsim_lib.sh"

# start_sim CASE [zdxsim options]: the terminal on a new pty, linked as
# COM5 (or as COM$SIM_COM when that is set).
start_sim() {
    SIM_DIR=$CASE_DIR/terminal
    SIM_LOG=$CASE_DIR/sim.log
    shift
    sim_launch "$SIM_DIR" "$SIM_LOG" 15 "$@" || return 1
    ln -sfn "$PTY" "$WINEPREFIX/dosdevices/com${SIM_COM:-$COM}"
}

# stop_sim: waits up to 5 s for the terminal to finish; SUMMARY = its JSON.
stop_sim() {
    sim_finish "$SIM_LOG" 100
}

# hostval KEY: the last value of KEY=... in the host's output (Windows
# programs end their lines with CR LF).
hostval() {
    tr -d '\r' <"$HOST_LOG" | sed -n "s/^\(.* \)\{0,1\}$1=\(\"[^\"]*\"\|[^ ]*\).*/\2/p" | tail -1 | tr -d '"'
}

# field KEY LINE: the number after " KEY=" in LINE.
field() { printf '%s\n' "$2" | sed -n "s/.* $1=\(-\{0,1\}[0-9]*\).*/\1/p"; }

# host CASE-ARGS...: runs the test host in CASE_DIR (foreground); sets RC.
host() {
    HOST_LOG=$CASE_DIR/host.log
    (cd "$CASE_DIR" && LD_PRELOAD=$SHIM_PRELOAD timeout 60 wine "$HOST" "$DLL_WIN" "$@" \
        >"$HOST_LOG" 2>"$HOST_LOG.err" </dev/null)
    RC=$?
}

# host_bg ARGS...: the same in the background; HOST_PID.
host_bg() {
    HOST_LOG=$CASE_DIR/host.log
    (cd "$CASE_DIR" && LD_PRELOAD=$SHIM_PRELOAD timeout 60 wine "$HOST" "$DLL_WIN" "$@" \
        >"$HOST_LOG" 2>"$HOST_LOG.err" </dev/null) &
    HOST_PID=$!
    BG_PIDS+=("$HOST_PID")
}

host_wait() { wait "$HOST_PID"; RC=$?; }

# wait_for PATTERN [TENTHS]: waits until the host printed a matching line.
wait_for() {
    local i
    for i in $(seq "${2:-150}"); do
        grep -qE "$1" "$HOST_LOG" 2>/dev/null && return 0
        kill -0 "$HOST_PID" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

# new_case NAME: an empty working folder for one case.
new_case() {
    CASE_DIR=$WINE_OUT/work/$ARCH/$1
    mkdir -p "$CASE_DIR"
    SUMMARY=
    RC=
}

# Data file of N records in CASE_DIR: DATA.TXT, fields 4 and 6.
make_data() {
    local n=$1 i
    : >"$CASE_DIR/DATA.TXT"
    for i in $(seq "$n"); do printf 'R%03dFIELD%d\r\n' "$i" $((i % 10)) >>"$CASE_DIR/DATA.TXT"; done
    printf '* two fields\r\nFIELDS 4,6\r\n' >"$CASE_DIR/DATA.FLD"
}

# x_window_position: where the X server has the progress window, "X,Y".
x_window_position() {
    local wid
    wid=$(xdotool search --onlyvisible --name '^ZDX-Ir  Sending$' 2>/dev/null | head -1)
    [ -n "$wid" ] && xdotool getwindowgeometry "$wid" | sed -n 's/^ *Position: \([0-9-]*,[0-9-]*\).*/\1/p'
}

shot() { import -display "$DISPLAY" -window root "$ARTIFACTS/wine-$ARCH-$1.png" 2>/dev/null; }
# keep NAME: the host's samples beside the screenshot.
keep() { cp "$HOST_LOG" "$ARTIFACTS/wine-$ARCH-$1.log" 2>/dev/null; }

# ---- the tests of one build -------------------------------------------------

run_build() {
    ARCH=$1
    local dir=$2
    DLL=$dir/bin/Orv5w32.dll
    HOST=$dir/bin/orv5_win_host.exe
    ORVW=$dir/bin/orvw.exe
    local f
    for f in "$DLL" "$HOST" "$ORVW"; do
        [ -f "$f" ] || { fail "$ARCH: $(basename "$f") built" "$f missing"; return; }
    done
    # The library is loaded by its Windows path: Z: is the Unix root.
    DLL_WIN="Z:$(printf '%s' "$DLL" | tr / '\\')"
    # The hidden owner window of the nested cases needs a display too.
    new_case display
    start_display

    # Port-free checks of the exports: each line of the suite is one test.
    new_case suite
    host suite
    local line
    while IFS= read -r line; do
        case $line in
            "ok - "*) pass "$ARCH: ${line#ok - }" ;;
            "not ok - "*) fail "$ARCH: ${line#not ok - }" ;;
        esac
    done <"$HOST_LOG"
    check "$ARCH: suite ran to the end" 'grep -q "passed, .* failed" "$HOST_LOG"'
    host version
    check "$ARCH: GetOrv5DllVersion through the host" '[ "$RC" = 0 ] && [ "$(hostval version)" = 1.01S ]'

    # A whole sending session on COM5; an idle abort just before must not
    # reach it.
    new_case session; make_data 3
    start_sim session && host abort-idle "-P$COM -B9600 +V0 DATA.TXT"; stop_sim
    check "$ARCH: session sends 3 records, result 0" \
        '[ "$RC" = 0 ] && [ "$(hostval abort)" = 0 ] && [ "$(hostval name)" = DATA.TXT ]'
    check "$ARCH: terminal received the file intact" \
        '[ "$(json status)" = ok ] && [ "$(json widths)" = "[4,6]" ] && [ "$(json written)" = 3 ] && cmp -s "$SIM_DIR/DATA.TXT" "$CASE_DIR/DATA.TXT"'

    # The command-line front end: its exit status is the result code.  On
    # COM10, which Windows opens only by its device-namespace name.
    new_case orvw
    printf 'LINE ONE\r\nLINE TWO\r\n' >"$CASE_DIR/APP.PD3"
    if SIM_COM=10 start_sim orvw; then
        HOST_LOG=$CASE_DIR/orvw.log
        (cd "$CASE_DIR" && LD_PRELOAD=$SHIM_PRELOAD timeout 60 wine "$ORVW" -P10 -B19200 +V0 APP.PD3 \
            >"$HOST_LOG" 2>&1 </dev/null)
        RC=$?
    fi
    stop_sim
    check "$ARCH: orvw.exe sends a program file on COM10, exit 0" \
        '[ "$RC" = 0 ] && [ "$(json status)" = ok ] && [ "$(json type)" = 1 ] && [ "$(json written)" = 2 ]'

    # AbortOrv5 from a second thread while the terminal is silent.
    new_case abort; make_data 5
    start_sim abort --silent-from 2 && host abort-after 1500 "-P$COM +V0 DATA.TXT"; stop_sim
    check "$ARCH: AbortOrv5 from another thread: 60, session 90" \
        '[ "$RC" = 90 ] && [ "$(hostval abort)" = 60 ]'
    check "$ARCH: the aborted terminal was told EOT" '[ "$(json eot_seen)" = true ]'

    # An abort delivered by the library's first pump, before the transfer:
    # 90 without a byte on the line (the terminal gives up after 2 s).
    new_case abort-first; make_data 3
    start_sim abort-first --timeout 2 && host abort-first "-P$COM DATA.TXT"; stop_sim
    check "$ARCH: abort before the transfer: 90, no protocol traffic" \
        '[ "$RC" = 90 ] && [ "$(hostval abort)" = 60 ] && [ "$(json bytes_in)" = 0 ]'

    # ExecOrv5 from the owner's window procedure during a sending session:
    # refused with 60, the session itself completes.
    new_case nested-send; make_data 4
    start_sim nested-send --baud 1200 && host nested "-P$COM -B1200 +V0 DATA.TXT"; stop_sim
    check "$ARCH: nested ExecOrv5 while sending gives 60, session 0" \
        '[ "$RC" = 0 ] && [ "$(hostval nested)" = 60 ] && [ "$(json written)" = 4 ]'

    # The same while receiving from a terminal that never calls: 61, and
    # AbortOrv5 from the window procedure ends the session with 90.  Runs
    # once receiving is built (ORV5_TEST_RECEIVING=1); until then a
    # receiving session ends at once and nothing can nest in it.
    if [ "${ORV5_TEST_RECEIVING:-0}" = 1 ]; then
        new_case nested-receive
        start_sim nested-receive --silent && host nested "+R -P$COM +V0 (file)" abort; stop_sim
        check "$ARCH: nested ExecOrv5 while receiving gives 61, abort 61, session 90" \
            '[ "$RC" = 90 ] && [ "$(hostval nested)" = 61 ] && [ "$(hostval abort)" = 61 ]'
    fi
    stop_display

    gui_counter
    gui_bar
    gui_abort_click
}

# Counter style at 1200 bit/s, placed at (100, 50).  The terminal thinks
# 200 ms before each answer, so every count, the last one too, stays up for
# several of the host's 50 ms samples.
gui_counter() {
    new_case gui-counter; make_data 8
    start_display
    if start_sim gui-counter --baud 1200 --answer-delay 200; then
        host_bg watch 50 "-P$COM -B1200 -X100 -Y50 DATA.TXT"
        wait_for 'counter="0000[3-7] / 00008"' && shot counter
        XGEOM=$(x_window_position)
        host_wait
    fi
    stop_sim
    keep counter
    stop_display
    check "$ARCH: counter window: session 0" '[ "$RC" = 0 ] && [ "$(json written)" = 8 ]'
    check "$ARCH: counter window: title, name, position (100, 50)" \
        'grep -q "^window title=\"ZDX-Ir  Sending\" x=100 y=50 name=\"DATA.TXT\"" "$HOST_LOG"'
    check "$ARCH: counter window: starts at 00000 / 00000, counts up to 00008 / 00008" \
        'grep -m1 "^window" "$HOST_LOG" | grep -q "counter=\"00000 / 00000\"" && grep -qE "counter=\"0000[1-7] / 00008\"" "$HOST_LOG" && grep -q "counter=\"00008 / 00008\"" "$HOST_LOG" && ! grep "^window" "$HOST_LOG" | grep -vqE "counter=\"[0-9]{5} / [0-9]{5}\""'
    check "$ARCH: counter window: screenshot" '[ -s "$ARTIFACTS/wine-$ARCH-counter.png" ]'
    check "$ARCH: counter window: the X server has it at (100, 50) too" '[ "$XGEOM" = 100,50 ]'
}

# Bar style: the filled part of the bar grows with the records.
gui_bar() {
    new_case gui-bar; make_data 8
    start_display
    if start_sim gui-bar --baud 1200 --answer-delay 200; then
        host_bg watch 50 "-P$COM -B1200 +V2 DATA.TXT"
        wait_for 'bar=[1-9][0-9]*/' && sleep 0.5 && shot bar
        host_wait
    fi
    stop_sim
    keep bar
    stop_display
    check "$ARCH: bar window: session 0" '[ "$RC" = 0 ] && [ "$(json written)" = 8 ]'
    check "$ARCH: bar window: title and name, no counter" \
        'grep -q "^window title=\"ZDX-Ir  Sending\" .* name=\"DATA.TXT\" counter=\"-\"" "$HOST_LOG"'
    # Fill widths seen, in order: each is width x done / 8 for some done,
    # they never shrink, some lie between empty and full, the last is full.
    check "$ARCH: bar window: the bar fills record by record" \
        'grep -o "bar=[0-9]*/[0-9]*" "$HOST_LOG" | tr "=/" "  " | awk -f "$ROOT/tests/wine/bar_fill.awk" -v total=8'
    check "$ARCH: bar window: screenshot" '[ -s "$ARTIFACTS/wine-$ARCH-bar.png" ]'
}

# A mouse click on Abort while the terminal is silent ends the session.
gui_abort_click() {
    new_case gui-abort; make_data 5
    start_display
    local bx by
    if start_sim gui-abort --silent-from 2; then
        host_bg watch 100 "-P$COM DATA.TXT"
        if wait_for '^button ' && wait_for 'counter="00001 / 00005"'; then
            shot abort
            # The button's centre relative to the window, both as Win32
            # reports them; the click goes to the window the X server finds.
            local win=$(grep -m1 '^window ' "$HOST_LOG") but=$(grep -m1 '^button ' "$HOST_LOG")
            bx=$(( $(field x "$but") - $(field x "$win") ))
            by=$(( $(field y "$but") - $(field y "$win") ))
            wid=$(xdotool search --onlyvisible --name '^ZDX-Ir  Sending$' 2>/dev/null | head -1)
            [ -n "$wid" ] && xdotool mousemove --window "$wid" "$bx" "$by" click 1
        fi
        host_wait
    fi
    stop_sim
    keep abort
    stop_display
    check "$ARCH: Abort button click ends the session with 90" '[ "$RC" = 90 ]'
    check "$ARCH: Abort button click: the terminal was told EOT" '[ "$(json eot_seen)" = true ]'
}

run_build win64 "$WIN64_DIR"
run_build win32 "$WIN32_DIR"
finish
