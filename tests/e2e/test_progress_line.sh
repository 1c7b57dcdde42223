# The progress line as a user sees it: orvw on a terminal of its own
# (script) receives 40 records that come about 35 ms apart.  The line ends
# with every record done, the percentage, a rate and no time left, and is
# redrawn a few times a second, not once per record.  On a pipe there is
# no line at all.
set -euo pipefail
. "$(dirname "$0")/e2e_lib.sh"

# at_most WHAT ACTUAL MAX: ACTUAL is a number <= MAX.
at_most() {
    [[ $2 =~ ^[0-9]+$ ]] && [ "$2" -le "$3" ] && return 0
    WHY="$1 is '$2', wanted at most $3"
    return 1
}

C=$WORK/line; mkdir -p "$C"
sim_launch_send "$C/out" "$C/sim.log" 20 --reply-timeout 1000 \
    --send-records 40 --widths 6,6 --answer-delay 30 || true
orvw_cmd=$(printf '%q ' "$ORVW" --device="$PTY" +R F.TXT)
RC=0
(cd "$C" && timeout 60 script -qfec "$orvw_cmd" "$C/orvw.log" </dev/null >/dev/null 2>&1) || RC=$?
SIM_LOG=$C/sim.log
wait_sim

# The draws: each starts with "\r" and the title.
draws=$(grep -o $'\rZDX-Ir  Receiving' "$C/orvw.log" | wc -l)
last=$(tr '\r' '\n' <"$C/orvw.log" | grep '^ZDX-Ir  Receiving' | tail -n 1)
CONTEXT_LINE=$last
check_context() { echo "rc=$RC; draws=$draws; last line: $CONTEXT_LINE"; }
check "progress line: the reception succeeds on a terminal" is rc "$RC" 0 -- \
    is status "$(json status)" ok
check "progress line: the last draw shows all records, 100%, a rate and nothing left" \
    has_line <(echo "$last") '^ZDX-Ir  Receiving  F\.TXT  00040 / 00040  100\.0%  [0-9.]+ k?B/s  0:00 left'
check "progress line: a few draws a second, not one per record" \
    at_least "draws" "$draws" 2 -- at_most "draws" "$draws" 25

# The same reception with stderr on a pipe: nothing drawn.
C=$WORK/pipe; mkdir -p "$C"
sim_launch_send "$C/out" "$C/sim.log" 20 --reply-timeout 1000 --send-records 3 --widths 4 || true
RC=0
(cd "$C" && timeout 60 "$ORVW" --device="$PTY" +R F.TXT >"$C/orvw.log" 2>&1) || RC=$?
SIM_LOG=$C/sim.log
wait_sim
check_context() { echo "rc=$RC; terminal: $SUMMARY"; }
check "progress line: none on a pipe" is rc "$RC" 0 -- \
    is "carriage returns" "$(tr -cd '\r' <"$C/orvw.log" | wc -c)" 0

finish
