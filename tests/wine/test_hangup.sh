# A line that goes away under a session (sourced by scripts/test-wine.sh
# once per build; see tests/wine/lib.sh).  orvw.exe waits without limit
# (-L0) for a terminal on COM5, receiving or sending; the terminal's side
# of the pseudo-terminal closes, as an unplugged adapter would: the
# session ends at once (51, 52) and names the port, instead of waiting
# for ever.

# unplug_during ORVW-ARGS...: orvw.exe in CASE_DIR on the simulator's line;
# once it holds the line, the simulator goes.  RC: orvw.exe's exit status.
unplug_during() {
    HOST_LOG=$CASE_DIR/orvw.log
    wine_in_case "$HOST_LOG" "$ORVW" "-P$COM" +V0 -L0 --verbose "$@" &
    local pid=$! i
    BG_PIDS+=("$pid")
    for i in $(seq 150); do
        wine_holds "$PTY" && break
        sleep 0.1
    done
    kill "$SIM_PID" 2>/dev/null
    wait "$SIM_PID" 2>/dev/null
    RC=0
    wait "$pid" || RC=$?
}

start_display

new_case rx-hangup
start_sim rx-hangup && unplug_during +R DATA.TXT
check "$ARCH: a line hung up during a limitless wait ends the reception with 51" \
    is rc "$RC" 51 -- has_line "$HOST_LOG.err" "reason: COM$COM"

# The terminal keeps silent, so the PC asks without limit.
new_case tx-hangup
make_data 3
start_sim tx-hangup --silent && unplug_during DATA.TXT
check "$ARCH: a line hung up while the PC asks without limit ends the sending with 52" \
    is rc "$RC" 52 -- has_line "$HOST_LOG.err" "reason: COM$COM"

stop_display
