# A reception stopped by a signal: SIGTERM, SIGHUP (the terminal window
# closed, the remote login dropped) and SIGQUIT each end it the same way:
# the terminal is told EOT, the partial file goes, a file of that name
# that was there stays as it was, and orvw exits with 90.  A SIGHUP that
# orvw was started with ignored (nohup) stays ignored.
set -euo pipefail
. "$(dirname "$0")/e2e_lib.sh"

# start_receiver CASE-DIR ORVW-ARGS...: orvw +R in CASE-DIR against $PTY in
# the background, on a pipe like any script's; sets ORVW_PID.  With
# IGNORE_HUP=1 it starts with SIGHUP ignored, as nohup starts programs.
start_receiver() {
    local dir=$1
    shift
    if [ "${IGNORE_HUP:-0}" = 1 ]; then
        (cd "$dir" && trap '' HUP && exec "$ORVW" --device="$PTY" -V +R "$@" >"$dir/orvw.log" 2>&1) &
    else
        (cd "$dir" && exec "$ORVW" --device="$PTY" -V +R "$@" >"$dir/orvw.log" 2>&1) &
    fi
    ORVW_PID=$!
    BG_PIDS+=("$ORVW_PID")
}

# wait_partial DIR RECORDS: waits up to 10 s for a temporary file in DIR
# holding RECORDS lines; 1 when none came.
wait_partial() {
    local i f
    for i in $(seq 200); do
        for f in "$1"/~RX*; do
            [ -f "$f" ] && [ "$(wc -l <"$f")" -ge "$2" ] && return 0
        done
        kill -0 "$ORVW_PID" 2>/dev/null || return 1
        sleep 0.05
    done
    return 1
}

# wait_exit PID: waits up to 15 s for PID to end; RC its status (124 when
# it did not end and was killed).
wait_exit() {
    local i
    RC=124
    for i in $(seq 300); do
        if ! kill -0 "$1" 2>/dev/null; then
            RC=0
            wait "$1" || RC=$?
            return 0
        fi
        sleep 0.05
    done
    kill -KILL "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

temp_files() { (cd "$1" && ls -A | grep -c '^~RX' || true); }

for sig in TERM HUP QUIT; do
    C=$WORK/sig-$sig; mkdir -p "$C"
    printf 'kept\r\n' >"$C/F.TXT"
    cp "$C/F.TXT" "$WORK/F-$sig.before"
    # The terminal sends two of its five records, then falls silent: orvw
    # holds a partial file and waits for the third.
    sim_launch_send "$C/out" "$C/sim.log" 20 --reply-timeout 1000 \
        --send-records 5 --widths 4,4 --fault-silent-from 3 || true
    start_receiver "$C" F.TXT
    PARTIAL=no
    wait_partial "$C" 2 && PARTIAL=yes
    kill -"$sig" "$ORVW_PID" 2>/dev/null || true
    wait_exit "$ORVW_PID"
    SIM_LOG=$C/sim.log
    wait_sim
    check "SIG$sig mid-reception: exit status 90" \
        is "partial file seen" "$PARTIAL" yes -- is rc "$RC" 90
    check "SIG$sig: the terminal was told EOT" is pc_eot "$(json pc_eot)" true
    check "SIG$sig: no temporary file stays, the old file is untouched" \
        is "temporary files" "$(temp_files "$C")" 0 -- same_file "$C/F.TXT" "$WORK/F-$sig.before"
done

# Started with SIGHUP ignored: a SIGHUP changes nothing, SIGTERM still ends it.
C=$WORK/nohup; mkdir -p "$C"
sim_launch_send "$C/out" "$C/sim.log" 20 --reply-timeout 1000 \
    --send-records 5 --widths 4,4 --fault-silent-from 3 || true
IGNORE_HUP=1 start_receiver "$C" F.TXT
wait_partial "$C" 2 || true
kill -HUP "$ORVW_PID" 2>/dev/null || true
sleep 0.5
ALIVE=no
kill -0 "$ORVW_PID" 2>/dev/null && ALIVE=yes
kill -TERM "$ORVW_PID" 2>/dev/null || true
wait_exit "$ORVW_PID"
SIM_LOG=$C/sim.log
wait_sim
check "nohup: an ignored SIGHUP leaves the reception running" \
    is "running after SIGHUP" "$ALIVE" yes -- is "rc after SIGTERM" "$RC" 90 -- \
    is "temporary files" "$(temp_files "$C")" 0

finish
