# The terminal misbehaves or the user interrupts: the sender's result codes
# and what the terminal saw.
. "$(dirname "$0")/e2e_lib.sh"

C=$WORK/files; mkdir -p "$C"
printf 'REC1\r\nREC2\r\nREC3\r\n' >"$C/D.TXT"
printf 'FIELDS 4\r\n' >"$C/D.FLD"

# Nine NAKs for one record and a WACK for another: all records arrive once.
start_sim naks --nak 2x9 --wack 3@700 && send "$C" D.TXT; wait_sim
check "9 NAKs and a WACK: result 0" '[ "$RC" = 0 ]'
check "9 NAKs and a WACK: every record once" '[ "$(json status)" = ok ] && [ "$(json naks)" = 9 ] && [ "$(json written)" = 3 ] && [ "$(cat "$SIM_DIR/D.TXT")" = "$(cat "$C/D.TXT")" ]'

# The tenth NAK for the header ends the transfer with 54.
start_sim nak10 --nak 0x10 && send "$C" D.TXT; wait_sim
check "10th NAK: result 54" '[ "$RC" = 54 ]'
check "10th NAK: no record, EOT seen" '[ "$(json naks)" = 10 ] && [ "$(json written)" = 0 ] && [ "$(json eot_seen)" = true ]'

# The terminal answers the second record with EOT: 55.
start_sim eot --eot-at 2 && send "$C" D.TXT; wait_sim
check "terminal EOT: result 55" '[ "$RC" = 55 ]'
check "terminal EOT: one record kept" '[ "$(json status)" = refused ] && [ "$(json written)" = 1 ]'

# A terminal that never answers, with a time-out of 1 s: 52, and the
# sender still says EOT.
start_sim silent --silent && send "$C" -L1 D.TXT; wait_sim
check "silent terminal, -L1: result 52" '[ "$RC" = 52 ]'
check "silent terminal: enquiries repeated, then EOT" '[ "$(json enquiries)" -ge 2 ] && [ "$(json eot_seen)" = true ] && [ "$(json status)" = aborted ]'

# SIGINT while the terminal has gone silent in the middle: 90, and the
# terminal is told with EOT.
start_sim sigint --silent-from 2
(cd "$C" && exec timeout 60 "$ORVW" --device="$PTY" -V D.TXT >"$WORK/sigint/orvw.log" 2>&1) &
ORVW_PID=$!
BG_PIDS+=("$ORVW_PID")
sleep 1
kill -INT "$ORVW_PID" 2>/dev/null
wait "$ORVW_PID"; RC=$?
wait_sim
check "SIGINT: result 90" '[ "$RC" = 90 ]'
check "SIGINT: terminal saw the EOT" '[ "$(json eot_seen)" = true ] && [ "$(json status)" = aborted ] && [ "$(json written)" = 1 ]'

# No such device: 75 at once.
SUMMARY=
RC=$(cd "$C" && timeout 20 "$ORVW" --device="$WORK/no-such-tty" -V D.TXT >/dev/null 2>&1; echo $?)
check "missing device: result 75" '[ "$RC" = 75 ]'

finish
