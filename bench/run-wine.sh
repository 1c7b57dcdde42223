#!/usr/bin/env bash
# run-wine.sh - the Windows build's sender under Wine: CPU share and time
# against line time, with zdxsim paced as a real line on COM7.
#
#   1. RECORDS_SLOW (default 300) records of 20 bytes at 19200 bit/s: the
#      sender's CPU time (orvw.exe and everything it waits for) as a share
#      of the wall time (target <= 3 %), and the Wine server's CPU over the
#      same run, which works on the sender's behalf;
#   2. RECORDS_FAST (default 2000) records of 100 bytes at 115200 bit/s:
#      the transfer time against the line time (target <= 1.03), without
#      the fixed costs of a session (taken from a 1-record run).
#
# It reports; it does not judge, so CI never fails on timing.
#
# usage: bench/run-wine.sh [WINDOWS-BUILD-DIR [NATIVE-BUILD-DIR]]
#        (default build/win64 and build/native: orvw.exe and zdxsim)
# environment: RECORDS_SLOW, RECORDS_FAST; WINE (default wine: the
# launcher, or /usr/lib/wine/wine64 where 32-bit programs cannot run);
# WINEPREFIX (default build/wineprefix-bench, made on first use).
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
WINBUILD=$(cd "${1:-$ROOT/build/win64}" && pwd) || exit 2
NATIVE=$(cd "${2:-$ROOT/build/native}" && pwd) || exit 2
RECORDS_SLOW=${RECORDS_SLOW:-300}
RECORDS_FAST=${RECORDS_FAST:-2000}
WINE=${WINE:-wine}
export WINEPREFIX=${WINEPREFIX:-$ROOT/build/wineprefix-bench}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY
ORVW=$WINBUILD/bin/orvw.exe
ZDXSIM=$NATIVE/bin/zdxsim
COM=7
for exe in "$ORVW" "$WINBUILD/bin/Orv5w32.dll" "$ZDXSIM"; do
    [ -f "$exe" ] || { echo "not built: $exe" >&2; exit 2; }
done
command -v "$WINE" >/dev/null || { echo "no Wine: $WINE" >&2; exit 2; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/orv5-bench-wine.XXXXXX")
BG_PIDS=()
SERVER_PID=
cleanup() {
    local pid
    [ -n "$SERVER_PID" ] && timeout 20 wineserver -k >/dev/null 2>&1
    for pid in "${BG_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -f "$WINEPREFIX/dosdevices/com$COM"
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The modem-line shim (a pty has no modem lines; Wine would fail
# GetCommModemStatus and the library would refuse to write).
SHIM=$WORK/shim
for pair in 64:x86_64-linux-gnu 32:i386-linux-gnu; do
    mkdir -p "$SHIM/lib/${pair#*:}"
    gcc -m"${pair%%:*}" -O2 -shared -fPIC -o "$SHIM/lib/${pair#*:}/ptyshim.so" \
        "$ROOT/tests/wine/ptyshim.c" -ldl -lpthread 2>/dev/null
done
# ld.so expands $LIB to the multiarch folder of each process.
SHIM_PRELOAD="$SHIM/\$LIB/ptyshim.so"

if [ ! -d "$WINEPREFIX/dosdevices" ]; then
    echo "making the Wine prefix $WINEPREFIX (once)"
    mkdir -p "$WINEPREFIX"
    timeout 300 "$WINE" wineboot -i >"$WORK/wineboot.log" 2>&1 </dev/null
    timeout 30 wineserver -w >/dev/null 2>&1
fi
# One server for the whole run, so that each program starts quickly and
# the server's CPU can be read from /proc.
timeout 30 wineserver -k >/dev/null 2>&1
wineserver -p -f >"$WORK/wineserver.log" 2>&1 </dev/null &
SERVER_PID=$!
BG_PIDS+=("$SERVER_PID")
sleep 0.5

. "$ROOT/tests/support/zdxsim_lib.sh"
TICKS=$(getconf CLK_TCK)

# CHILDREN_CPU = CPU seconds (user + system) of the waited-for children of
# this shell.  The builtin runs in this shell (a command substitution would
# ask a subshell, which has no children).
children_cpu() {
    times >"$WORK/times"
    CHILDREN_CPU=$(awk 'NR == 2 {
        split($1, u, "m"); split($2, s, "m")
        printf "%.3f", u[1] * 60 + u[2] + s[1] * 60 + s[2] }' "$WORK/times")
}
server_cpu() {
    awk -v t="$TICKS" '{ printf "%.3f", ($14 + $15) / t }' "/proc/$SERVER_PID/stat" 2>/dev/null || echo 0
}
now() { date +%s.%N; }

# make_file NAME RECORDS WIDTH: NAME.TXT of RECORDS records, one field.
make_file() {
    awk -v n="$2" -v w="$3" 'BEGIN { for (i = 1; i <= n; i++) printf "%08d%0*d\r\n", i, w - 8, 0 }' \
        >"$WORK/$1.TXT"
    printf 'FIELDS %d\r\n' "$3" >"$WORK/$1.FLD"
}

# send FILE BAUD: one orvw.exe session against zdxsim paced at BAUD; sets
# RC WALL CPU SERVER BYTES (both ways).
send() {
    local file=$1 baud=$2
    sim_launch "$WORK/terminal" "$WORK/sim.log" 60 --baud "$baud" || exit 1
    ln -sfn "$PTY" "$WINEPREFIX/dosdevices/com$COM"
    local cpu0 srv0 t0 t1
    children_cpu; cpu0=$CHILDREN_CPU; srv0=$(server_cpu); t0=$(now)
    (cd "$WORK" && LD_PRELOAD=$SHIM_PRELOAD timeout 600 "$WINE" "$ORVW" \
        "-P$COM" "-B$baud" -L60 +V0 "$file" >"$WORK/orvw.log" 2>&1 </dev/null)
    RC=$?
    t1=$(now)
    children_cpu
    CPU=$(awk -v a="$cpu0" -v b="$CHILDREN_CPU" 'BEGIN { printf "%.3f", b - a }')
    SERVER=$(awk -v a="$srv0" -v b="$(server_cpu)" 'BEGIN { printf "%.3f", b - a }')
    WALL=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
    sim_finish "$WORK/sim.log" 100
    BYTES=$(( $(json bytes_in) + $(json bytes_out) ))
    echo "  $file at $baud bit/s: exit $RC, terminal $(json status), $(json written) records written"
}

echo "== $(basename "$WINBUILD"): $RECORDS_SLOW records of 20 bytes at 19200 bit/s (target sender CPU <= 3 %)"
make_file ONE 1 20
send ONE.TXT 19200
ONE_WALL=$WALL ONE_CPU=$CPU ONE_SERVER=$SERVER
make_file SLOW "$RECORDS_SLOW" 20
send SLOW.TXT 19200
awk -v w="$WALL" -v c="$CPU" -v s="$SERVER" -v b="$BYTES" \
    -v w1="$ONE_WALL" -v c1="$ONE_CPU" -v s1="$ONE_SERVER" 'BEGIN {
    printf "wall time          %.3f s (line time %.3f s; a 1-record session: %.3f s)\n", w, b * 10 / 19200, w1
    printf "sender CPU         %.3f s = %.2f %% of wall time; without a 1-record session (Wine start-up) %.2f %%\n", \
        c, 100 * c / w, 100 * (c - c1) / (w - w1)
    printf "Wine server CPU    %.3f s = %.2f %% of wall time; without a 1-record session %.2f %%\n", \
        s, 100 * s / w, 100 * (s - s1) / (w - w1)
}'

echo "== $(basename "$WINBUILD"): $RECORDS_FAST records of 100 bytes at 115200 bit/s (target <= 1.03 x line time)"
make_file ONE 1 100
send ONE.TXT 115200
ONE_WALL=$WALL ONE_BYTES=$BYTES
make_file FAST "$RECORDS_FAST" 100
send FAST.TXT 115200
awk -v w="$WALL" -v c="$CPU" -v s="$SERVER" -v b="$BYTES" -v w1="$ONE_WALL" -v b1="$ONE_BYTES" 'BEGIN {
    lt = b * 10 / 115200; lt1 = b1 * 10 / 115200
    printf "wall time          %.3f s (a 1-record session: %.3f s)\n", w, w1
    printf "line time          %.3f s (10 bits per byte, both ways)\n", lt
    printf "time / line time   %.4f; without the fixed costs %.4f\n", w / lt, (w - w1) / (lt - lt1)
    printf "sender CPU         %.3f s = %.2f %% of wall time; Wine server %.2f %%\n", c, 100 * c / w, 100 * s / w
}'
