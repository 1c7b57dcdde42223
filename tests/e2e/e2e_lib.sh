# e2e_lib.sh - shared by the end-to-end scripts: orvw sends files to zdxsim
# over a pseudo-terminal pair.  Source it with the build directory as $1.

BUILD=${1:?usage: $0 BUILD-DIR}
BUILD=$(cd "$BUILD" && pwd)
ORVW=$BUILD/bin/orvw
ZDXSIM=$BUILD/bin/zdxsim
export LD_LIBRARY_PATH=$BUILD/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
for exe in "$ORVW" "$ZDXSIM"; do
    [ -x "$exe" ] || { echo "FAIL: $exe not built"; exit 1; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/orv5-e2e.XXXXXX")
BG_PIDS=()
FAILED=0

cleanup() {
    local pid
    for pid in "${BG_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

pass() { echo "PASS: $1"; }
fail() { echo "FAIL: $1${2:+ ($2)}"; FAILED=1; }
# check NAME CONDITION-TEXT: evaluates the condition, reports the case.
check() {
    local name=$1; shift
    if eval "$@"; then pass "$name"; else fail "$name" "rc=$RC; $*; terminal: $SUMMARY"; fi
}

# start_sim CASE [zdxsim options]: serves one transfer in the background.
# Sets SIM_PID, SIM_DIR (its --out folder), SIM_LOG (its stdout) and PTY.
start_sim() {
    local case=$1; shift
    SIM_DIR=$WORK/$case/out
    SIM_LOG=$WORK/$case/sim.log
    mkdir -p "$SIM_DIR"
    timeout 120 "$ZDXSIM" --pty --out "$SIM_DIR" --timeout 20 "$@" >"$SIM_LOG" 2>"$SIM_LOG.err" &
    SIM_PID=$!
    BG_PIDS+=("$SIM_PID")
    PTY=
    local i
    for i in $(seq 100); do
        PTY=$(awk '/^PTY /{print $2; exit}' "$SIM_LOG" 2>/dev/null)
        [ -n "$PTY" ] && return 0
        kill -0 "$SIM_PID" 2>/dev/null || break
        sleep 0.05
    done
    echo "zdxsim did not start: $(cat "$SIM_LOG.err")"
    return 1
}

# wait_sim: waits for zdxsim to end; SUMMARY is its JSON line.
wait_sim() {
    local i
    for i in $(seq 200); do
        kill -0 "$SIM_PID" 2>/dev/null || break
        sleep 0.05
    done
    kill "$SIM_PID" 2>/dev/null
    wait "$SIM_PID" 2>/dev/null
    SUMMARY=$(grep '^{' "$SIM_LOG" | tail -1)
}

# json KEY: a scalar value from SUMMARY (strings without their quotes).
json() {
    printf '%s\n' "$SUMMARY" | sed -n "s/.*\"$1\":\(\"[^\"]*\"\|\[[^]]*\]\|[^,}]*\).*/\1/p" | tr -d '"'
}

# send CASE-DIR ORVW-ARGS...: runs orvw in CASE-DIR against $PTY; sets RC.
send() {
    local dir=$1; shift
    (cd "$dir" && timeout 120 "$ORVW" --device="$PTY" -V "$@" >"$dir/orvw.log" 2>&1)
    RC=$?
}

finish() {
    if [ "$FAILED" = 0 ]; then echo "ALL PASSED: $(basename "$0")"; exit 0; fi
    echo "SOME FAILED: $(basename "$0")"
    exit 1
}
