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

. "$(dirname "${BASH_SOURCE[0]}")/../zdxsim_lib.sh"

# start_sim CASE [zdxsim options]: serves one transfer in the background.
# Sets SIM_PID, SIM_DIR (its --out folder), SIM_LOG (its stdout) and PTY.
start_sim() {
    local case=$1; shift
    SIM_DIR=$WORK/$case/out
    SIM_LOG=$WORK/$case/sim.log
    sim_launch "$SIM_DIR" "$SIM_LOG" 20 "$@"
}

# wait_sim: waits for zdxsim to end; SUMMARY is its JSON line.
wait_sim() {
    sim_finish "$SIM_LOG" 200
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
