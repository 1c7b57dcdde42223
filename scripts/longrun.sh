#!/usr/bin/env bash
# longrun.sh - ExecOrv5 sessions in a row in one process against zdxsim,
# sending and receiving alternately (tests/soak/longrun.cpp), with the
# process's descriptors (handles) and memory after the first 100 sessions
# and at the end.
#
#   scripts/longrun.sh [SESSIONS]            Linux: libOrv5w32.so over pseudo-terminals
#   scripts/longrun.sh --wine [SESSIONS]     the win64 build under Wine (COM5, COM6)
#
# Default 10000 sessions.  Two simulators serve the run: one receives every
# file the host sends (--count), one sends a file (5 generated records) for
# every receiving session.  The host's last line starts "LONGRUN OK" when
# every session returned 0 and the readings stayed level.
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
WINE_MODE=no
[ "${1:-}" = --wine ] && { WINE_MODE=yes; shift; }
SESSIONS=${1:-10000}
HALF=$(( (SESSIONS + 1) / 2 ))
NATIVE=$ROOT/build/native
WORK=$(mktemp -d /tmp/orv5longrun.XXXXXX)
PIDS=()
longrun_cleanup() {
    local p
    for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; done
    if [ "$WINE_MODE" = yes ]; then
        rm -f "$WINEPREFIX/dosdevices/com6"
        cleanup   # tests/wine/lib.sh: the Wine server, COM5
    fi
    wait 2>/dev/null
    rm -rf "$WORK"
}
trap longrun_cleanup EXIT

cd "$ROOT"
# The Wine helpers (loader, modem-line shim, prefix, server); sourced
# before this script's own functions, whose names they would otherwise take.
[ "$WINE_MODE" = yes ] && . "$ROOT/tests/wine/lib.sh"
cmake --preset native >/dev/null && cmake --build build/native --target zdxsim orv5_longrun -j2 >/dev/null \
    || { echo "native build failed" >&2; exit 1; }

# Starts zdxsim with the given options; sets PTY to its pseudo-terminal.
start_sim() {
    local log=$WORK/sim${#PIDS[@]}.log
    "$NATIVE/bin/zdxsim" --pty --timeout 120 "$@" >"$log" 2>&1 &
    PIDS+=($!)
    PTY=
    for _ in $(seq 100); do
        PTY=$(awk '/^PTY /{print $2; exit}' "$log")
        [ -n "$PTY" ] && return 0
        sleep 0.05
    done
    echo "zdxsim did not start: $(cat "$log")" >&2
    return 1
}
start_sim --count "$HALF" || exit 1
RX_PTY=$PTY
start_sim --send-records 5 --widths 5,3 --count "$HALF" --reply-timeout 200 || exit 1
TX_PTY=$PTY
mkdir -p "$WORK/files"
start=$(date +%s)
if [ "$WINE_MODE" = no ]; then
    ORV5_COM5=$RX_PTY ORV5_COM6=$TX_PTY "$NATIVE/bin/orv5_longrun" --sessions "$SESSIONS" \
        --send-port 5 --recv-port 6 --dir "$WORK/files"
    rc=$?
else
    pick_wine && prepare_shims && prepare_prefix && start_server || exit 1
    cmake --preset win64 >/dev/null && cmake --build build/win64 --target orv5_longrun -j2 >/dev/null \
        || { echo "win64 build failed" >&2; exit 1; }
    ln -sfn "$RX_PTY" "$WINEPREFIX/dosdevices/com5"
    ln -sfn "$TX_PTY" "$WINEPREFIX/dosdevices/com6"
    LD_PRELOAD=$SHIM_PRELOAD $WINE build/win64/bin/orv5_longrun.exe --sessions "$SESSIONS" --send-port 5 --recv-port 6 \
        --dir "$(winepath -w "$WORK/files" 2>/dev/null || echo "Z:$WORK/files")"
    rc=$?
fi
echo "longrun: $SESSIONS sessions in $(( $(date +%s) - start )) s, exit $rc"
exit $rc
