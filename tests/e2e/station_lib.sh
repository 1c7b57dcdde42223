# station_lib.sh - collecting stations and their terminals for the e2e
# scripts; sourced after e2e_lib.sh.  Each terminal is a zdxsim on a pty of
# its own; a station's device is a symbolic link that is pointed at the
# next terminal's pty once the station has opened the current one.
#
# A station opens its device again as soon as a session ends, so the link
# must name the next pty before the current terminal can finish: a
# terminal starts held (stopped, SIGSTOP) and is set going only once the
# link has been turned (hand_over).  Were the link turned after the
# session, the station would open the old pty again - while its terminal
# still drains (then a hang-up, 51) or after it was freed (75), or, with
# other tests running beside, a new terminal that took the same pty
# number.  After the last terminal the link is parked on one that never
# talks (parking).

# Port locks of these stations stay inside the test's folder.
export ORV5_LOCK_DIR=$WORK/locks
mkdir -p "$ORV5_LOCK_DIR"

# point_line LINK PTY: the link now names PTY (replaced in one step).
point_line() {
    ln -sfn "$2" "$1.new"
    mv -T "$1.new" "$1"
}

# wait_opened PID PTY TERMINAL-PID: waits up to 20 s until process PID
# holds PTY open, or the terminal on PTY has ended (it was served).  The
# look at PID's descriptors runs in the shell itself: no process per try.
wait_opened() {
    local i fd
    for i in $(seq 1000); do
        for fd in /proc/$1/fd/*; do
            [ "$fd" -ef "$2" ] && return 0
        done
        kill -0 "$3" 2>/dev/null || return 0
        kill -0 "$1" 2>/dev/null || return 1
        sleep 0.02
    done
    return 1
}

# terminal N CASE ZDXSIM-OPTIONS...: sending terminal number N on a new
# pty, in the background, held (see hold).
T_PTY=() T_PID=() T_DIR=() T_LOG=() T_SIM=()
terminal() {
    local n=$1 case=$2
    shift 2
    start_sim "$case" --reply-timeout 200 --answer-delay 250 "$@"
    T_PTY[n]=$PTY T_PID[n]=$SIM_PID T_DIR[n]=$SIM_DIR T_LOG[n]=$SIM_LOG
    # SIM_PID is the `timeout` that runs the simulator.
    T_SIM[n]=$(pgrep -P "$SIM_PID" | head -1 || true)
    [ -n "${T_SIM[n]}" ] || echo "note: terminal $n cannot be held: no simulator under process $SIM_PID"
    hold "$n"
}

# hold N / release N: terminal N stops where it is / goes on.  What a held
# terminal sent before is purged when the station opens the line, and once
# set going it asks again (its enquiry timed out meanwhile).
hold() { kill -STOP "${T_SIM[$1]}" 2>/dev/null || true; }
release() { kill -CONT "${T_SIM[$1]}" 2>/dev/null || true; }

# hand_over LINK STATION-PID N M: once the station holds terminal N's line
# open, LINK is pointed at terminal M (held) and terminal N set going.
hand_over() {
    wait_opened "$2" "${T_PTY[$3]}" "${T_PID[$3]}" || echo "note: the station never opened ${T_PTY[$3]}"
    point_line "$1" "${T_PTY[$4]}"
    release "$3"
}

# parking N: terminal N, held for good, to park a link on after the last
# terminal; it ends with the test.
parking() {
    terminal "$1" "park$1" --send-records 1 --widths 4
}

# finish_terminal N: waits for terminal N's end; SUMMARY is its line.
finish_terminal() {
    release "$1"
    SIM_PID=${T_PID[$1]}
    sim_finish "${T_LOG[$1]}" 400
}

# station_start NAME DIR LINK [ORVW-OPTIONS]: orvw --collect DIR on LINK in
# the background; ST_PID[NAME] is its process, ST_OUT[NAME] its output.
declare -A ST_PID ST_OUT
station_start() {
    local name=$1 dir=$2 link=$3
    shift 3
    ST_OUT[$name]=$WORK/station-$name.out
    "$ORVW" --collect "$dir" --device="$link" -V "$@" >"${ST_OUT[$name]}" 2>&1 &
    ST_PID[$name]=$!
    BG_PIDS+=("${ST_PID[$name]}")
}

# station_stop NAME: SIGTERM, then up to 20 s for the station to end; RC
# its exit status (124 when it had to be killed).
station_stop() {
    local pid=${ST_PID[$1]} i
    kill -TERM "$pid" 2>/dev/null || true
    for i in $(seq 400); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    if kill -0 "$pid" 2>/dev/null; then
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        RC=124
        return 0
    fi
    RC=0
    wait "$pid" || RC=$?
}

# wait_lines FILE N [PATTERN]: waits up to 30 s until FILE has N lines
# (matching PATTERN when given); 1 when it did not.
wait_lines() {
    local i n
    for i in $(seq 600); do
        n=$(grep -cE -- "${3:-.}" "$1" 2>/dev/null || true)
        [ "${n:-0}" -ge "$2" ] && return 0
        sleep 0.05
    done
    return 1
}

# line_field FILE N KEY: KEY of the Nth line of FILE (a log).
line_field() {
    SUMMARY=$(sed -n "$2p" "$1" 2>/dev/null)
    json "$3"
}

# field_of FILE PATTERN KEY: KEY of the first line of FILE matching PATTERN.
field_of() {
    SUMMARY=$(grep -E -- "$2" "$1" 2>/dev/null | head -1)
    json "$3"
}
