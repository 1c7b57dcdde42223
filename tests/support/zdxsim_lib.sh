# zdxsim_lib.sh - running the terminal simulator from test scripts; sourced
# by tests/e2e/e2e_lib.sh and tests/wine/lib.sh; safe under set -euo
# pipefail.  Needs ZDXSIM (the program) and the array BG_PIDS (background
# processes to end on exit).

# sim_launch OUT-DIR LOG SILENCE-S [zdxsim options]: serves a transfer on a
# new pty in the background.  Sets SIM_PID and PTY; 1 when it did not start.
sim_launch() {
    local out=$1 log=$2 silence=$3; shift 3
    mkdir -p "$out"
    SUMMARY=
    timeout 120 "$ZDXSIM" --pty --out "$out" --timeout "$silence" "$@" >"$log" 2>"$log.err" &
    SIM_PID=$!
    BG_PIDS+=("$SIM_PID")
    PTY=
    local i
    for i in $(seq 200); do   # 10 s: a loaded machine starts it slowly
        PTY=$(awk '/^PTY /{print $2; exit}' "$log" 2>/dev/null)
        [ -n "$PTY" ] && return 0
        kill -0 "$SIM_PID" 2>/dev/null || break
        sleep 0.05
    done
    echo "zdxsim did not start: $(cat "$log.err")"
    return 1
}

# sim_launch_send OUT-DIR LOG SILENCE-S (--send FILE | --send-records N ...)
# [zdxsim options]: a terminal that sends one file to the PC (orvw +R) on a
# new pty in the background.  OUT-DIR gets the file as sent (what the PC
# should write) under its header name, and summary.json.  Sets SIM_PID and
# PTY; 1 when it did not start.  Pass --reply-timeout MS to shorten the
# terminal's waits for answers (default 3000 ms).
sim_launch_send() {
    sim_launch "$@"
}

# sim_answer KEY: from SUMMARY of a sending terminal, what the PC answered
# to one frame - KEY enq (the opening), 0 (header), k (record k) or eot (the
# closing) - as letters A ACK, N NAK, E EOT, . none in time, a ACK not
# heard, ! another station's.  Empty when the frame is not in the log:
# records answered by a single ACK are left out.
sim_answer() {
    json answers | tr ' ' '\n' | sed -n "s/^$1://p"
}

# sim_finish LOG WAIT-STEPS: waits up to WAIT-STEPS x 50 ms for the terminal
# to end, then stops it.  SUMMARY = its JSON line.
sim_finish() {
    local log=$1 steps=$2 i
    for i in $(seq "$steps"); do
        kill -0 "$SIM_PID" 2>/dev/null || break
        sleep 0.05
    done
    kill "$SIM_PID" 2>/dev/null || true
    wait "$SIM_PID" 2>/dev/null || true
    SUMMARY=$(grep '^{' "$log" 2>/dev/null | tail -1 || true)
}

# json KEY: one value of SUMMARY, strings without their quotes.
json() {
    printf '%s\n' "$SUMMARY" | sed -n "s/.*\"$1\":\(\"[^\"]*\"\|\[[^]]*\]\|[^,}]*\).*/\1/p" | tr -d '"'
}
