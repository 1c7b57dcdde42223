# The terminal misbehaves or the user interrupts: the sender's result codes
# and what the terminal saw.
set -euo pipefail
. "$(dirname "$0")/e2e_lib.sh"

C=$WORK/files; mkdir -p "$C"
printf 'REC1\r\nREC2\r\nREC3\r\n' >"$C/D.TXT"
printf 'FIELDS 4\r\n' >"$C/D.FLD"

# Nine NAKs for one record and a WACK for another: all records arrive once.
start_sim naks --nak 2x9 --wack 3@700 && send "$C" D.TXT; wait_sim
check "9 NAKs and a WACK: result 0" is rc "$RC" 0
check "9 NAKs and a WACK: every record once" \
    is status "$(json status)" ok -- is naks "$(json naks)" 9 -- is written "$(json written)" 3 -- \
    same_file "$SIM_DIR/D.TXT" "$C/D.TXT"

# The tenth NAK for the header ends the transfer with 54.
start_sim nak10 --nak 0x10 && send "$C" D.TXT; wait_sim
check "10th NAK: result 54" is rc "$RC" 54
check "10th NAK: no record, EOT seen" \
    is naks "$(json naks)" 10 -- is written "$(json written)" 0 -- is eot_seen "$(json eot_seen)" true

# The terminal answers the second record with EOT: 55.
start_sim eot --eot-at 2 && send "$C" D.TXT; wait_sim
check "terminal EOT: result 55" is rc "$RC" 55
check "terminal EOT: one record kept" \
    is status "$(json status)" refused -- is written "$(json written)" 1

# A terminal that never answers, with a time-out of 1 s: 52, and the
# sender still says EOT.
start_sim silent --silent && send "$C" -L1 D.TXT; wait_sim
check "silent terminal, -L1: result 52" is rc "$RC" 52
check "silent terminal: enquiries repeated, then EOT" \
    at_least enquiries "$(json enquiries)" 2 -- \
    is eot_seen "$(json eot_seen)" true -- is status "$(json status)" aborted

# SIGINT once the terminal has taken the first record and fallen silent:
# 90, and the terminal is told with EOT.  orvw runs on a terminal of its
# own (script), where it draws its progress line; "00001 / 00003" there
# means the terminal has acknowledged the first record.
D=$WORK/sigint; mkdir -p "$D"
start_sim sigint --silent-from 2 || true
orvw_cmd=$(printf '%q ' "$ORVW" --device="$PTY" D.TXT)
(cd "$C" && exec timeout 60 script -qfec "echo \$\$ >$(printf %q "$D/orvw.pid"); exec $orvw_cmd" \
    "$D/orvw.log" </dev/null >/dev/null 2>&1) &
SCRIPT_PID=$!
BG_PIDS+=("$SCRIPT_PID")
FIRST_ACKED=no
wait_file_text "$D/orvw.log" "00001 / 00003" "$SCRIPT_PID" && FIRST_ACKED=yes
kill -INT "$(cat "$D/orvw.pid" 2>/dev/null)" 2>/dev/null || true
RC=0
wait "$SCRIPT_PID" || RC=$?
wait_sim
check "SIGINT after the first record: result 90" \
    is "first record acknowledged" "$FIRST_ACKED" yes -- is rc "$RC" 90
check "SIGINT: terminal saw the EOT" \
    is eot_seen "$(json eot_seen)" true -- is status "$(json status)" aborted -- \
    is written "$(json written)" 1

# No such device: 75 at once.
SUMMARY=
RC=0
(cd "$C" && timeout 20 "$ORVW" --device="$WORK/no-such-tty" -V D.TXT >/dev/null 2>&1) || RC=$?
check "missing device: result 75" is rc "$RC" 75

finish
