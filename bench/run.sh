#!/usr/bin/env bash
# run.sh - sends a file of RECORDS records of 100 bytes to zdxsim over a
# pseudo-terminal, and receives the same file back from it (zdxsim playing
# a sending terminal), each once unthrottled and then paced as a 115200
# bit/s line, once per pacing: "frames" hands each of zdxsim's outputs
# over whole when its last byte has arrived (a UART with a FIFO), "bytes"
# hands over every byte on its own when it has (one without), and reports throughput, time against line time, the
# library's CPU share and the heap allocations made by the transfer; the
# receptions include writing the file to disk.  Before the paced runs
# orv5_turnaround measures what one exchange (a frame out, its answer
# back) costs the path alone, and each paced figure is also given against
# the line time plus that cost for every exchange.  It reports; it does not
# judge, so CI never fails on timing.
#
# usage: bench/run.sh [BUILD-DIR]      (default build/native)
# environment: RECORDS (default 32767), BAUD (default 115200),
#              DIRECTIONS (default "send receive"),
#              PACINGS (default "frames bytes"),
#              NET (default 1: the network runs below; 0: none),
#              LOCAL (default 1: the runs on the pty alone; 0: none)
#
# Each paced run of 32767 records takes about 5.5 minutes of line time.
set -u
BUILD=$(cd "${1:-build/native}" && pwd) || exit 2
RECORDS=${RECORDS:-32767}
BAUD=${BAUD:-115200}
BENCH=$BUILD/bin/orv5_bench
ZDXSIM=$BUILD/bin/zdxsim
TURNAROUND=$BUILD/bin/orv5_turnaround
export LD_LIBRARY_PATH=$BUILD/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
for exe in "$BENCH" "$ZDXSIM" "$TURNAROUND"; do
    [ -x "$exe" ] || { echo "not built: $exe" >&2; exit 2; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/orv5-bench.XXXXXX")
SIM_PID=
cleanup() { [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null; rm -rf "$WORK"; }
trap cleanup EXIT
trap 'exit 130' INT TERM

# RECORDS lines of 100 printable bytes, one field of 100.
awk -v n="$RECORDS" 'BEGIN { for (i = 1; i <= n; i++) printf "%08d%092d\r\n", i, 0 }' >"$WORK/BENCH.TXT"
printf 'FIELDS 100\r\n' >"$WORK/BENCH.FLD"
head -n 1 "$WORK/BENCH.TXT" >"$WORK/ONE.TXT"
cp "$WORK/BENCH.FLD" "$WORK/ONE.FLD"

DIRECTIONS=${DIRECTIONS:-send receive}
DIRECTION=send
mkdir -p "$WORK/rx"

# run FILE [zdxsim options]: one transfer of FILE in DIRECTION; sets RESULT
# WALL CPU ALLOCS and the terminal's BYTES_IN BYTES_OUT STATUS.
run() {
    local file=$1; shift
    local text="-B$BAUD -L60 +V0 $file"
    if [ "$DIRECTION" = receive ]; then
        rm -f "$WORK/rx/"*
        # The terminal's first enquiry goes out before the PC has opened
        # the port; a short reply time-out keeps that out of the figures.
        set -- --send "$WORK/$file" --reply-timeout 200 "$@"
        text="+R -B$BAUD -L60 +V0 rx/$file"
    fi
    rm -f "$WORK/sim.log"
    timeout 900 "$ZDXSIM" --pty --timeout 60 "$@" >"$WORK/sim.log" 2>&1 &
    SIM_PID=$!
    local pty= i
    for i in $(seq 100); do
        pty=$(awk '/^PTY /{print $2; exit}' "$WORK/sim.log" 2>/dev/null)
        [ -n "$pty" ] && break
        sleep 0.05
    done
    [ -n "${NET_URL:-}" ] && { ln -sfn "$pty" "$WORK/line"; pty=$NET_URL; }   # through ser2net
    local line
    line=$(cd "$WORK" && timeout 900 "$BENCH" "$pty" "$text")
    wait "$SIM_PID" 2>/dev/null
    SIM_PID=
    RESULT=$(sed -n 's/.*result=\([0-9-]*\).*/\1/p' <<<"$line")
    WALL=$(sed -n 's/.*wall_s=\([0-9.]*\).*/\1/p' <<<"$line")
    CPU=$(sed -n 's/.*cpu_s=\([0-9.]*\).*/\1/p' <<<"$line")
    ALLOCS=$(sed -n 's/.*allocs=\([0-9]*\).*/\1/p' <<<"$line")
    local json
    json=$(grep '^{' "$WORK/sim.log" | tail -1)
    BYTES_IN=$(sed -n 's/.*"bytes_in":\([0-9]*\).*/\1/p' <<<"$json")
    BYTES_OUT=$(sed -n 's/.*"bytes_out":\([0-9]*\).*/\1/p' <<<"$json")
    STATUS=$(sed -n 's/.*"status":"\([a-z]*\)".*/\1/p' <<<"$json")
    # One answer per frame, and the enquiry and the closing EOT.
    EXCHANGES=$(($(sed -n 's/.*"frames\(_sent\)*":\([0-9]*\).*/\2/p' <<<"$json") + 2))
}

# turnaround [HOST PORT]: what one exchange (a data frame out, its answer
# back) costs the path itself beyond the line time, with the pty of
# orv5_turnaround behind $WORK/line (the device ser2net serves) answering
# at the terminal's pace: the pty alone, or through HOST:PORT.  Sets
# TURN_US (mean, us).
turnaround() {
    local line
    if [ $# = 0 ]; then
        line=$("$TURNAROUND" "$WORK/line" - 500 "$BAUD")
    else
        line=$("$TURNAROUND" "$WORK/line" "$1" "$2" 500 "$BAUD")
    fi
    TURN_US=$(sed -n 's/.*mean_us=\([0-9]*\).*/\1/p' <<<"$line")
    echo "path turnaround    $line (us beyond the line time, at $BAUD bit/s)"
}

# report TITLE PACED: figures of the last run; ONE_* hold those of the
# 1-record run under the same pacing, so that the session's fixed costs
# (port set-up, the wait after the transfer) can be taken out.
report() {
    echo "== $1"
    echo "result $RESULT, terminal status $STATUS"
    awk -v n="$RECORDS" -v w="$WALL" -v c="$CPU" -v bi="$BYTES_IN" -v bo="$BYTES_OUT" \
        -v w1="$ONE_WALL" -v b1=$((ONE_IN + ONE_OUT)) -v baud="$BAUD" -v paced="$2" \
        -v ex="$EXCHANGES" -v turn="${TURN_US:-}" 'BEGIN {
        printf "records/s          %.0f (without the session fixed costs: %.0f)\n", n / w, (n - 1) / (w - w1)
        printf "wall time          %.3f s (a 1-record session: %.3f s)\n", w, w1
        printf "library CPU        %.3f s = %.2f %% of wall time\n", c, 100 * c / w
        printf "line bytes         %d to the terminal, %d back\n", bi, bo
        if (paced) {
            lt = (bi + bo) * 10 / baud
            printf "line time          %.3f s at %d bit/s (10 bits per byte, both ways)\n", lt, baud
            printf "time / line time   %.4f; without the fixed costs %.4f (target <= 1.03)\n", \
                w / lt, (w - w1) / (lt - b1 * 10 / baud)
            if (turn != "") {
                pt = ex * turn / 1e6
                printf "path share         %d exchanges x %d us = %.3f s: time / (line time + path) %.4f\n", \
                    ex, turn, pt, (w - w1) / (lt - b1 * 10 / baud + pt)
            }
        }
    }'
}

one() {
    run ONE.TXT "$@"
    ONE_WALL=$WALL ONE_IN=$BYTES_IN ONE_OUT=$BYTES_OUT ONE_ALLOCS=$ALLOCS
}

TURN_US=
[ "${LOCAL:-1}" = 1 ] && { echo "=== the pty alone"; turnaround; }
for DIRECTION in $DIRECTIONS; do
    [ "${LOCAL:-1}" = 1 ] || break
    echo "=== $DIRECTION"
    one
    run BENCH.TXT
    report "$DIRECTION, unthrottled, $RECORDS records of 100 bytes (target >= 10000 records/s)" 0
    echo "heap allocations in ExecOrv5: $ALLOCS; in a 1-record session $ONE_ALLOCS, so $((ALLOCS - ONE_ALLOCS)) in the transfer path (target 0)"
    if [ "$DIRECTION" = receive ]; then
        cmp -s "$WORK/BENCH.TXT" "$WORK/rx/BENCH.TXT" && echo "received file identical to the one sent" \
            || echo "RECEIVED FILE DIFFERS"
    fi

    for PACE in ${PACINGS:-frames bytes}; do
        one --baud "$BAUD" --pace "$PACE"
        run BENCH.TXT --baud "$BAUD" --pace "$PACE"
        report "$DIRECTION, paced at $BAUD bit/s by $PACE, $RECORDS records of 100 bytes (target CPU < 3 %)" 1
        echo "heap allocations in ExecOrv5: $ALLOCS; in a 1-record session $ONE_ALLOCS"
    done
done

# ---- through a serial device server ------------------------------------------
# The same transfers with the library speaking RFC 2217 to ser2net on the
# loopback address, ser2net in front of the terminal's pty (as a cradle on
# a small board on the network): unthrottled and with the terminal paced
# at BAUD.  Time / line time, the library's CPU share and the allocations
# of the transfer path as above (opening the connection allocates, in the
# 1-record session too); ser2net's own CPU time beside them.  Skipped
# without ser2net or with NET=0.
if [ "${NET:-1}" = 1 ] && command -v ser2net >/dev/null 2>&1; then
    BG_PIDS=()
    S2N_SHIM=$BUILD/tests/adapters/ptyshim.so   # modem lines for the pty
    S2N_LIB=$(dirname "$0")/../tests/e2e/ser2net_lib.sh
    # shellcheck source=../tests/e2e/ser2net_lib.sh
    . "$S2N_LIB"
    net_cleanup() { [ -n "$S2N_PID" ] && kill "$S2N_PID" 2>/dev/null; wait 2>/dev/null; cleanup; }
    trap net_cleanup EXIT
    [ -f "$S2N_SHIM" ] || S2N_SHIM=/dev/null
    S2N_LINES=                                  # no event log: it would cost time
    if s2n_start; then
        echo "=== through ser2net"
        turnaround 127.0.0.1 "$S2N_RAW"
        NET_URL=rfc2217://127.0.0.1:$S2N_RFC
        # s2n_cpu: ser2net's CPU time so far, s.
        s2n_cpu() { awk -v hz="$(getconf CLK_TCK)" '{ printf "%.3f", ($14 + $15) / hz }' "/proc/$S2N_PID/stat"; }
        for DIRECTION in $DIRECTIONS; do
            echo "=== $DIRECTION through ser2net (RFC 2217, $NET_URL)"
            one
            c0=$(s2n_cpu)
            run BENCH.TXT
            report "$DIRECTION via ser2net, unthrottled, $RECORDS records of 100 bytes" 0
            echo "ser2net CPU        $(awk -v a="$c0" -v b="$(s2n_cpu)" 'BEGIN { printf "%.3f s", b - a }')"
            echo "heap allocations in ExecOrv5: $ALLOCS; in a 1-record session $ONE_ALLOCS, so $((ALLOCS - ONE_ALLOCS)) in the transfer path (target 0)"
            if [ "$DIRECTION" = receive ]; then
                cmp -s "$WORK/BENCH.TXT" "$WORK/rx/BENCH.TXT" && echo "received file identical to the one sent" \
                    || echo "RECEIVED FILE DIFFERS"
            fi

            one --baud "$BAUD"
            c0=$(s2n_cpu)
            run BENCH.TXT --baud "$BAUD"
            report "$DIRECTION via ser2net, paced at $BAUD bit/s, $RECORDS records of 100 bytes (target CPU < 3 %)" 1
            echo "ser2net CPU        $(awk -v a="$c0" -v b="$(s2n_cpu)" 'BEGIN { printf "%.3f s", b - a }')"
            echo "heap allocations in ExecOrv5: $ALLOCS; in a 1-record session $ONE_ALLOCS, so $((ALLOCS - ONE_ALLOCS)) in the transfer path (target 0)"
        done
        NET_URL=
    else
        echo "=== through ser2net: not run (ser2net did not start)"
    fi
fi
