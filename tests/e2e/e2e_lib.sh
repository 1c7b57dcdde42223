# e2e_lib.sh - shared by the end-to-end scripts: orvw sends files to zdxsim
# over a pseudo-terminal pair.  Source it with the build directory as $1,
# after set -euo pipefail.

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
RC=
SUMMARY=

cleanup() {
    local pid
    for pid in "${BG_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

LIB_DIR=$(dirname "${BASH_SOURCE[0]}")
. "$LIB_DIR/../support/check_lib.sh"
. "$LIB_DIR/../support/zdxsim_lib.sh"

check_context() { echo "rc=$RC; terminal: $SUMMARY"; }

# start_sim CASE [zdxsim options]: serves one transfer in the background.
# Sets SIM_PID, SIM_DIR (its --out folder), SIM_LOG (its stdout) and PTY.
start_sim() {
    local case=$1
    shift
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
    local dir=$1
    shift
    RC=0
    (cd "$dir" && timeout 120 "$ORVW" --device="$PTY" -V "$@" >"$dir/orvw.log" 2>&1) || RC=$?
}

# wait_file_text FILE TEXT PROCESS: waits up to 10 s for TEXT to show in
# FILE while PROCESS runs; 1 when it did not.
wait_file_text() {
    local i
    for i in $(seq 200); do
        grep -qF -- "$2" "$1" 2>/dev/null && return 0
        kill -0 "$3" 2>/dev/null || return 1
        sleep 0.05
    done
    return 1
}

finish() {
    echo "$(basename "$0"): $PASSED passed, $FAILED failed"
    [ "$FAILED" = 0 ] && exit 0
    exit 1
}
