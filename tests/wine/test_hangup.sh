# A line that goes away under a session (sourced by scripts/test-wine.sh
# once per build; see tests/wine/lib.sh).  orvw.exe waits without limit
# (-L0) for a terminal to start sending on COM5; the terminal's side of
# the pseudo-terminal closes, as an unplugged adapter would: the session
# ends with 51 at once and names the port, instead of waiting for ever.

# holds_pty: some process has the PC's side of the pseudo-terminal open.
holds_pty() {
    local fd
    for fd in /proc/[0-9]*/fd/*; do
        [ "$(readlink "$fd" 2>/dev/null)" = "$PTY" ] && return 0
    done
    return 1
}

new_case rx-hangup
start_display
if start_sim rx-hangup; then
    HOST_LOG=$CASE_DIR/orvw.log
    wine_in_case "$HOST_LOG" "$ORVW" "-P$COM" +R +V0 -L0 --verbose DATA.TXT &
    ORVW_PID=$!
    BG_PIDS+=("$ORVW_PID")
    for i in $(seq 150); do
        holds_pty && break
        sleep 0.1
    done
    kill "$SIM_PID" 2>/dev/null
    wait "$SIM_PID" 2>/dev/null
    RC=0
    wait "$ORVW_PID" || RC=$?
fi
stop_display
check "$ARCH: a line hung up during a limitless wait ends the reception with 51" \
    is rc "$RC" 51 -- has_line "$HOST_LOG.err" "reason: COM$COM"
