#!/usr/bin/env bash
# test_adapters.sh - the Windows adapter plug-ins under Wine.
#
# For build/win64 and build/win32 in turn, with COM7 linked to a
# pseudo-terminal and the modem-line shim preloaded (it logs every line,
# speed and write event):
#   - every speed of every plug-in's table, and speeds outside it, checked
#     step by step from the shim's log (adapter_line_check verify);
#   - the device names, and GetDllVersion with a null buffer;
#   - ExecOrv5 results 80, 81, 82 and the plug-in unloaded afterwards,
#     including a planted library of a bare name in the current folder;
#   - one whole sending session per plug-in, orvw.exe +I against zdxsim;
#   - orvw.exe --adapter-info and the plug-in list of --help.
# The last line is "wine adapters: N passed, N failed"; the exit status is
# non-zero on any failure.
#
# Needs: the three presets built (native gives zdxsim and
# adapter_line_check), Wine, gcc (-m32 for the 32-bit shim).  A machine
# that cannot run 32-bit programs skips the win32 build with a note.

set -u
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
NATIVE_DIR=${NATIVE_DIR:-$ROOT/build/native}
WIN64_DIR=${WIN64_DIR:-$ROOT/build/win64}
WIN32_DIR=${WIN32_DIR:-$ROOT/build/win32}
OUT=$ROOT/build/wine-adapters
export WINEPREFIX=${WINEPREFIX:-$ROOT/build/wineprefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY
ZDXSIM=$NATIVE_DIR/bin/zdxsim
CHECK=$NATIVE_DIR/bin/adapter_line_check
COM=7
MODELS="Orv5EESI Orv5AIRM Orv5KKCI Orv5FMIR"

PASSED=0
FAILED=0
BG_PIDS=()
SUMMARY=

pass() { PASSED=$((PASSED + 1)); echo "PASS: $1"; }
fail() { FAILED=$((FAILED + 1)); echo "FAIL: $1${2:+ ($2)}"; }
check() {
    local name=$1; shift
    if eval "$@"; then pass "$name"; else fail "$name" "rc=${RC:-}; $*; $(tr '\r\n' '  ' <"$HOST_LOG" 2>/dev/null | tail -c 300)"; fi
}
finish() {
    echo "wine adapters: $PASSED passed, $FAILED failed"
    [ "$FAILED" = 0 ]
    exit $?
}
cleanup() {
    local pid
    timeout 20 wineserver -k >/dev/null 2>&1
    for pid in "${BG_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -f "$WINEPREFIX/dosdevices/com$COM"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

for f in "$ZDXSIM" "$CHECK"; do
    [ -x "$f" ] || { fail "native build present" "$f missing"; finish; }
done
command -v wineserver >/dev/null || { fail "Wine installed"; finish; }
rm -rf "$OUT"; mkdir -p "$OUT"

# The shim per architecture; a 32-bit one only where 32-bit programs run.
SHIM=$OUT/shim
build_shim() {
    mkdir -p "$SHIM/lib/$2"
    gcc -m"$1" -O2 -shared -fPIC -o "$SHIM/lib/$2/ptyshim.so" "$ROOT/tests/wine/ptyshim.c" \
        -ldl -lpthread 2>"$OUT/shim-$1.log"
}
build_shim 64 x86_64-linux-gnu || { fail "ptyshim builds" "$(head -c 300 "$OUT/shim-64.log")"; finish; }
RUNS_32BIT=0
if build_shim 32 i386-linux-gnu && printf 'int main(void){return 0;}' >"$OUT/t.c" &&
   gcc -m32 -o "$OUT/t32" "$OUT/t.c" 2>/dev/null && "$OUT/t32" 2>/dev/null; then
    RUNS_32BIT=1
fi
SHIM_PRELOAD="$SHIM/\$LIB/ptyshim.so"

# 64-bit programs go straight to the 64-bit loader, which works also where
# the 32-bit one (behind the "wine" script) cannot start.
WINE64=wine
[ -x /usr/lib/wine/wine64 ] && WINE64=/usr/lib/wine/wine64

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    timeout 120 "$WINE64" wineboot -i >"$OUT/wineboot.log" 2>&1 </dev/null
    timeout 30 wineserver -w >/dev/null 2>&1
fi
timeout 30 wineserver -k >/dev/null 2>&1
wineserver -p -f >"$OUT/wineserver.log" 2>&1 </dev/null &
BG_PIDS+=($!)

. "$ROOT/tests/zdxsim_lib.sh"

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# hold_port: COM7 is a pty whose far end swallows what is sent.
hold_port() {
    "$CHECK" hold >"$OUT/hold.log" 2>&1 &
    HOLD_PID=$!
    BG_PIDS+=("$HOLD_PID")
    local i
    for i in $(seq 100); do
        PTY=$(awk '/^PTY /{print $2; exit}' "$OUT/hold.log" 2>/dev/null)
        [ -n "$PTY" ] && break
        sleep 0.05
    done
    ln -sfn "$PTY" "$WINEPREFIX/dosdevices/com$COM"
}

# run_win CASE-DIR PROGRAM ARGS...: a Windows program in CASE-DIR with the
# shim; output in HOST_LOG, exit status in RC.
run_win() {
    local dir=$1; shift
    HOST_LOG=$dir/host.log
    (cd "$dir" && LD_PRELOAD=$SHIM_PRELOAD PTYSHIM_LOG=$dir/lines.log timeout 120 $WINE "$@" \
        >"$HOST_LOG" 2>"$HOST_LOG.err" </dev/null)
    RC=$?
}

speeds_of() {
    case $1 in
        Orv5EESI) echo "9600 19200 115200 2400 38400 57600" ;;
        *) echo "2400 9600 19200 38400 57600 115200 1200 4800" ;;
    esac
}

run_build() {
    ARCH=$1; local dir=$2
    local bin=$dir/bin plugins=$dir/tests/adapters/win32/plugins
    local host=$bin/orv5_adapter_host.exe
    for f in "$host" "$bin/Orv5w32.dll" "$bin/orvw.exe" "$plugins/failing.dll"; do
        [ -f "$f" ] || { fail "$ARCH: $(basename "$f") built" "$f missing"; return; }
    done
    local d=$OUT/$ARCH model devname line label rc baud rts dtr faults
    mkdir -p "$d"

    # Every speed of each table, and some outside it.
    hold_port
    for model in $MODELS; do
        mkdir -p "$d/$model"
        run_win "$d/$model" "$host" init "COM$COM" "$(winpath "$bin/$model.dll")" \
            "$(winpath "$d/$model/lines.log")" $(speeds_of "$model")
        [ "$RC" = 0 ] || fail "$ARCH: $model host ran" "$(cat "$HOST_LOG" "$HOST_LOG.err" | head -c 300)"
        while read -r line; do
            set -- $(printf '%s\n' "$line" | tr -d '\r' | sed 's/[a-z]*=//g')
            label=$2 rc=$3 baud=$4 rts=$5 dtr=$6
            if faults=$("$CHECK" verify "$model" "$label" "$d/$model/lines.log" "$label" "$rc" "$baud" "$rts" "$dtr"); then
                pass "$ARCH: $model at $label bit/s"
            else
                fail "$ARCH: $model at $label bit/s" "$(printf '%s; ' "$faults")"
            fi
        done < <(grep '^case ' "$HOST_LOG")
        check "$ARCH: $model: every speed was tried" \
            '[ "$(grep -c "^case " "$HOST_LOG")" = "$(speeds_of "$model" | wc -w)" ]'
    done

    # Device names, exact, and a null buffer.
    set -- "Extended Systems  ESI-9680" "Alps  Ir MultiStation" "Kansai  KC-IR1" "Fujitsu FMIR-102"
    for model in $MODELS; do
        devname=$1; shift
        mkdir -p "$d/name-$model"
        run_win "$d/name-$model" "$host" name "$(winpath "$bin/$model.dll")"
        check "$ARCH: $model names \"$devname\"; a null buffer gives null" \
            'tr -d "\r" <"$HOST_LOG" | grep -qx "name=\"$devname\" same=1 null=1"'
    done

    # ExecOrv5's results; the plug-in is unloaded after every session.  A
    # library of a bare name in the current folder is never run.
    local s=$d/sessions dll
    mkdir -p "$s"
    cp "$plugins/failing.dll" "$s/Planted.dll"
    dll=$(winpath "$bin/Orv5w32.dll")
    printf 'R001\r\n' >"$s/DATA.TXT"
    session() {
        run_win "$s" "$host" session "$dll" "$1" "-P$COM +V0 +F4 $2 DATA.TXT"
        RC=$(tr -d '\r' <"$HOST_LOG" | sed -n 's/^rc=\([0-9]*\) loaded=\([01]\)$/\1 \2/p')
    }
    session noinit.dll "+I$(winpath "$plugins/noinit.dll")";   check "$ARCH: no InitIrDevice: 81, unloaded" '[ "$RC" = "81 0" ]'
    session failing.dll "+I$(winpath "$plugins/failing.dll")"; check "$ARCH: failing plug-in: 80, unloaded" '[ "$RC" = "80 0" ]'
    session Orv5EESI.dll "+IOrv5EESI -B38400";                 check "$ARCH: unsupported speed: 82, unloaded" '[ "$RC" = "82 0" ]'
    session Planted.dll "+IPlanted";                           check "$ARCH: a planted library in the current folder is not run: 81" '[ "$RC" = "81 0" ]'
    session Orv5KKCI.dll "+IOrv5KKCI -L1";                     check "$ARCH: a ready adapter, then no terminal: 52, unloaded" '[ "$RC" = "52 0" ]'
    PTYSHIM_FAIL_WRITES=1 session Orv5AIRM.dll "+IOrv5AIRM -B19200"
    check "$ARCH: the command byte cannot be written: 80" '[ "$RC" = "80 0" ]'
    kill "$HOLD_PID" 2>/dev/null; wait "$HOLD_PID" 2>/dev/null

    # One whole session per plug-in against the terminal simulator.
    for pair in Orv5EESI:115200 Orv5AIRM:19200 Orv5KKCI:57600 Orv5FMIR:2400; do
        model=${pair%%:*}; baud=${pair#*:}
        local c=$d/send-$model
        mkdir -p "$c"
        printf 'R001FIELD1\r\nR002FIELD2\r\n' >"$c/DATA.TXT"
        printf 'FIELDS 4,6\r\n' >"$c/DATA.FLD"
        if sim_launch "$c/terminal" "$c/sim.log" 15; then
            ln -sfn "$PTY" "$WINEPREFIX/dosdevices/com$COM"
            run_win "$c" "$bin/orvw.exe" "-P$COM" "-B$baud" +V0 "+I$model" DATA.TXT
        fi
        sim_finish "$c/sim.log" 100
        check "$ARCH: orvw.exe +I$model at $baud sends the file" \
            '[ "$RC" = 0 ] && [ "$(json status)" = ok ] && [ "$(json written)" = 2 ] && cmp -s "$c/terminal/DATA.TXT" "$c/DATA.TXT"'
    done

    mkdir -p "$d/cli"
    run_win "$d/cli" "$bin/orvw.exe" --adapter-info=Orv5FMIR
    check "$ARCH: orvw.exe --adapter-info" '[ "$RC" = 0 ] && [ "$(tr -d "\r" <"$HOST_LOG")" = "Fujitsu FMIR-102" ]'
    run_win "$d/cli" "$bin/orvw.exe" --help
    check "$ARCH: orvw.exe --help lists the four plug-ins, nothing else" \
        '[ "$(tr -d "\r" <"$HOST_LOG" | grep -cE "^  Orv5(EESI|AIRM|KKCI|FMIR)  ")" = 4 ] && ! tr -d "\r" <"$HOST_LOG" | grep -qiE "^  (Orv5w32|failing|noinit) "'
}

WINE=$WINE64 run_build win64 "$WIN64_DIR"
if [ "$RUNS_32BIT" = 1 ]; then
    WINE=wine run_build win32 "$WIN32_DIR"
else
    echo "NOTE: this machine cannot run 32-bit programs: the win32 build is not run"
fi
finish
