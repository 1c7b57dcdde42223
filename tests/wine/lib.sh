# lib.sh - helpers of the Wine test run (scripts/test-wine.sh sources it).
#
# The run prepares once (tools, the modem-line shim, the Wine prefix, one
# Wine server), then for each Windows build sources every case file
# tests/wine/test_*.sh in name order.  A case file is plain shell, run in
# the driver's shell with these set:
#
#   ARCH      win64 or win32 (prefix of every check name)
#   BUILD_DIR the build folder; DLL, HOST, ORVW: its Orv5w32.dll,
#             orv5_win_host.exe and orvw.exe; DLL_WIN: the DLL's Windows path
#   COM       the COM port number the simulator is linked as (5)
#
# and uses new_case, start_sim/stop_sim, host/host_bg/host_wait/wait_for,
# start_display/stop_display, bar_fills and check (tests/support/check_lib.sh).  A new case
# file needs no registration: a file named tests/wine/test_NAME.sh runs.
# WINE_CASES="NAME ..." in the environment runs only those case files (for
# work on one of them; a full run leaves it unset).

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
WINE=wine                             # the loader; see pick_wine
RUNS_32=yes                           # 32-bit programs can run here
SKIPPED=0
BG_PIDS=()
SERVER_STARTED=0
RC=
SUMMARY=
HOST_LOG=/dev/null
XVFB_PID=

. "$ROOT/tests/support/check_lib.sh"
. "$ROOT/tests/support/zdxsim_lib.sh"

# The host's and the terminal's last words beside a failed check.
check_context() {
    echo "rc=$RC; host: $(tr '\n' ' ' <"$HOST_LOG" 2>/dev/null | tail -c 400); terminal: $SUMMARY"
}

skip() { SKIPPED=$((SKIPPED + 1)); echo "SKIP: $1 ($2)"; }

finish() {
    local skipped=
    [ "$SKIPPED" = 0 ] || skipped=", $SKIPPED skipped"
    echo "wine: $PASSED passed, $FAILED failed$skipped"
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

# ---- preparing the run ---------------------------------------------------------

need_tools() {
    local tool missing=
    for tool in wine wineserver Xvfb xdotool import gcc timeout; do
        command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
    done
    if [ -n "$missing" ]; then
        fail "tools present" "missing:$missing (scripts/setup-debian.sh installs them)"
        finish
    fi
    [ -x "$ZDXSIM" ] || { fail "zdxsim built" "$ZDXSIM missing: cmake --preset native"; finish; }
}

# pick_wine: the Wine loader.  Debian's wine starts the 32-bit loader
# whenever it is installed, which fails on a kernel without 32-bit support;
# there the 64-bit loader runs the 64-bit build and the 32-bit one is
# skipped.
pick_wine() {
    if wine --version >/dev/null 2>&1; then
        return 0
    fi
    if [ -x /usr/lib/wine/wine64 ] && /usr/lib/wine/wine64 --version >/dev/null 2>&1; then
        WINE=/usr/lib/wine/wine64
        export WINELOADER=$WINE
        RUNS_32=no
        echo "note: this machine cannot run 32-bit programs; the 32-bit build is skipped"
        return 0
    fi
    fail "Wine starts" "$(wine --version 2>&1 | head -c 300)"
    finish
}

# build_shim BITS MULTIARCH: the modem-line shim and its check program.
build_shim() {
    local bits=$1 dir=$SHIM/lib/$2
    mkdir -p "$dir"
    gcc -m"$bits" -O2 -Wall -Wextra -shared -fPIC -o "$dir/ptyshim.so" \
        "$ROOT/tests/wine/ptyshim.c" -ldl -lpthread 2>"$WINE_OUT/shim-$bits.log" &&
    gcc -m"$bits" -O2 -Wall -Wextra -D_TIME_BITS=64 -D_FILE_OFFSET_BITS=64 \
        -o "$dir/ptyshim_check" "$ROOT/tests/wine/ptyshim_check.c" 2>>"$WINE_OUT/shim-$bits.log"
}

# prepare_shims: the shim, 64-bit and 32-bit, built and checked.
prepare_shims() {
    local pair bits arch
    for pair in 64:x86_64-linux-gnu 32:i386-linux-gnu; do
        bits=${pair%%:*}
        arch=${pair#*:}
        if ! build_shim "$bits" "$arch"; then
            fail "ptyshim builds for $bits-bit" "$(head -c 300 "$WINE_OUT/shim-$bits.log")"
            finish
        fi
        if [ "$bits" = 32 ] && [ "$RUNS_32" = no ]; then
            skip "ptyshim answers modem-line requests (32-bit)" "no 32-bit programs here"
            continue
        fi
        RC=0
        HOST_LOG=$WINE_OUT/shim-check-$bits.log
        SUMMARY=
        LD_PRELOAD=$SHIM/lib/$arch/ptyshim.so timeout 20 "$SHIM/lib/$arch/ptyshim_check" \
            >"$HOST_LOG" 2>&1 || RC=$?
        check "ptyshim answers modem-line requests ($bits-bit)" is rc "$RC" 0
    done
}

# prepare_prefix: the Wine prefix, made again when Wine changed.
prepare_prefix() {
    # A prefix made before 32-bit Wine was installed cannot start 32-bit
    # programs: the stamp records the Wine it was made with.
    local stamp
    stamp="$("$WINE" --version 2>/dev/null) wine32=$([ -d /usr/lib/wine/i386-windows ] && echo yes || echo no) loader=$WINE"
    if [ "$(cat "$WINEPREFIX/.orv5-stamp" 2>/dev/null)" != "$stamp" ]; then
        rm -rf "$WINEPREFIX"
    fi
    # Creating the prefix starts Wine's desktop process, which then serves
    # every later program for a while: it is done under a display of its
    # own and its server is ended afterwards, or the first window of a test
    # would land on a desktop without a display and fail.
    if [ ! -f "$WINEPREFIX/.orv5-stamp" ]; then
        mkdir -p "$WINEPREFIX"
        CASE_DIR=$WINE_OUT
        start_display
        timeout 120 "$WINE" wineboot -i >"$WINE_OUT/wineboot.log" 2>&1 </dev/null
        # No crash dialog (it would hang a run under a display); Wine draws
        # the caption itself, so screenshots show the title without a
        # window manager.
        timeout 30 "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
            >>"$WINE_OUT/wineboot.log" 2>&1 </dev/null &&
        timeout 30 "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f \
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
}

# start_server: one server for the whole run (programs start in 0.05 s
# instead of 0.4 s), in the foreground of its own: a pty it opens never
# becomes its controlling terminal.
start_server() {
    timeout 30 wineserver -k >/dev/null 2>&1
    wineserver -p -f >"$WINE_OUT/wineserver.log" 2>&1 </dev/null &
    BG_PIDS+=($!)
    SERVER_STARTED=1
}

# ---- displays -------------------------------------------------------------------

# start_display: a display of its own for one GUI test: fresh pixels,
# nothing left over.  Sets DISPLAY and XVFB_PID.
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

# shot NAME: a screenshot of the whole display into the artifacts.
shot() { import -display "$DISPLAY" -window root "$ARTIFACTS/wine-$ARCH-$1.png" 2>/dev/null; }
# keep NAME: the host's samples beside the screenshot.
keep() { cp "$HOST_LOG" "$ARTIFACTS/wine-$ARCH-$1.log" 2>/dev/null; }

# ---- cases -----------------------------------------------------------------------

# new_case NAME: an empty working folder for one case, CASE_DIR.
new_case() {
    CASE_DIR=$WINE_OUT/work/$ARCH/$1
    mkdir -p "$CASE_DIR"
    SUMMARY=
    RC=
}

# make_data N: a data file of N records in CASE_DIR: DATA.TXT, fields 4, 6.
make_data() {
    local n=$1 i
    : >"$CASE_DIR/DATA.TXT"
    for i in $(seq "$n"); do printf 'R%03dFIELD%d\r\n' "$i" $((i % 10)) >>"$CASE_DIR/DATA.TXT"; done
    printf '* two fields\r\nFIELDS 4,6\r\n' >"$CASE_DIR/DATA.FLD"
}

# start_sim CASE [zdxsim options]: the terminal on a new pty, linked as
# COM5 (or as COM$SIM_COM when that is set).  SIM_DIR: what it received.
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

# wine_in_case LOG PROGRAM ARGS...: a Windows program in CASE_DIR with the
# shim, stdout into LOG and stderr into LOG.err; its exit status.
wine_in_case() {
    local log=$1
    shift
    (cd "$CASE_DIR" && LD_PRELOAD=$SHIM_PRELOAD timeout 60 "$WINE" "$@" \
        >"$log" 2>"$log.err" </dev/null)
}

# run_wine LOG PROGRAM ARGS...: the same; sets RC.
run_wine() {
    RC=0
    wine_in_case "$@" || RC=$?
}

# host ARGS...: the test host with the library, in the foreground; sets RC.
host() {
    HOST_LOG=$CASE_DIR/host.log
    run_wine "$HOST_LOG" "$HOST" "$DLL_WIN" "$@"
}

# host_bg ARGS...: the same in the background; HOST_PID.
host_bg() {
    HOST_LOG=$CASE_DIR/host.log
    wine_in_case "$HOST_LOG" "$HOST" "$DLL_WIN" "$@" &
    HOST_PID=$!
    BG_PIDS+=("$HOST_PID")
}

host_wait() {
    RC=0
    wait "$HOST_PID" || RC=$?
}

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

# hostval KEY: the last value of KEY=... in the host's output (Windows
# programs end their lines with CR LF).
hostval() {
    tr -d '\r' <"$HOST_LOG" | sed -n "s/^\(.* \)\{0,1\}$1=\(\"[^\"]*\"\|[^ ]*\).*/\2/p" | tail -1 | tr -d '"'
}

# field KEY LINE: the number after " KEY=" in LINE.
field() { printf '%s\n' "$2" | sed -n "s/.* $1=\(-\{0,1\}[0-9]*\).*/\1/p"; }

# wanted_case FILE: FILE is one of WINE_CASES, or WINE_CASES is unset.
wanted_case() {
    local name=${1##*/test_}
    name=${name%.sh}
    [ -z "${WINE_CASES:-}" ] || [[ " $WINE_CASES " == *" $name "* ]]
}

# bar_fills TOTAL: fill widths seen, in order: each is width x done / TOTAL
# for some done, they never shrink, some lie between empty and full, the
# last is full.
bar_fills() {
    grep -o "bar=[0-9]*/[0-9]*" "$HOST_LOG" | tr "=/" "  " |
        awk -f "$ROOT/tests/wine/bar_fill.awk" -v total="$1" && return 0
    WHY="bar samples: $(grep -o "bar=[0-9]*/[0-9]*" "$HOST_LOG" | tr '\n' ' ' | head -c 200)"
    return 1
}

# ---- one build -------------------------------------------------------------------

# run_build ARCH DIR: every case file against one Windows build.
run_build() {
    ARCH=$1
    BUILD_DIR=$2
    if [ "$ARCH" = win32 ] && [ "$RUNS_32" = no ]; then
        skip "$ARCH: every case" "no 32-bit programs here"
        return
    fi
    DLL=$BUILD_DIR/bin/Orv5w32.dll
    HOST=$BUILD_DIR/bin/orv5_win_host.exe
    ORVW=$BUILD_DIR/bin/orvw.exe
    local f
    for f in "$DLL" "$HOST" "$ORVW"; do
        [ -f "$f" ] || { fail "$ARCH: $(basename "$f") built" "$f missing"; return; }
    done
    # The library is loaded by its Windows path: Z: is the Unix root.
    DLL_WIN="Z:$(printf '%s' "$DLL" | tr / '\\')"
    for f in "$ROOT"/tests/wine/test_*.sh; do
        wanted_case "$f" && . "$f"
    done
}
