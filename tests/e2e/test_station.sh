# Collecting stations that never lose a file: a complete file is stored
# whatever became of its session's end (closing EOT lost, a stop after the
# last ACK); one station per port and per staging folder; stations on two
# ports sharing one folder and its log; files an earlier run left in the
# staging folder; a log that cannot be written for a while.
set -euo pipefail
. "$(dirname "$0")/e2e_lib.sh"
. "$(dirname "$0")/station_lib.sh"

check_context() { echo "status=${RC:-}; log: $(tail -c 700 "${CTX_LOG:-/dev/null}" 2>/dev/null); station: $(tail -c 400 "${CTX_OUT:-/dev/null}" 2>/dev/null)"; }

DATA_NAME='^[0-9]{8}-[0-9]{6}-DATA\.TXT$'

# ---- the closing EOT lost: the terminal falls silent after the last ACK
# and is lifted away (its line goes: 51), a second terminal sends the same
# name, a third one falls silent after its last ACK and the station is
# stopped (90).  All three files are stored, counted and logged.
S=$WORK/lost LINE=$WORK/line-lost
CTX_LOG=$S/collect.log CTX_OUT=$WORK/station-lost.out
terminal 1 lost1 --send-records 3 --widths 5,3 --send-name DATA.TXT --fault-no-closing-eot
terminal 2 lost2 --send-records 4 --widths 5,3 --send-name DATA.TXT
point_line "$LINE" "${T_PTY[1]}"
station_start lost "$S" "$LINE"
hand_over "$LINE" "${ST_PID[lost]}" 1 2
# The first file has its final name in the staging folder once it is
# complete: then the terminal is lifted away.
for i in $(seq 400); do
    [ -e "$S/.incoming-line-lost/DATA.TXT" ] && break
    sleep 0.05
done
kill "${T_PID[1]}" 2>/dev/null || true
terminal 3 lost3 --send-records 5 --widths 5,3 --send-name DATA.TXT --fault-no-closing-eot --timeout 60
hand_over "$LINE" "${ST_PID[lost]}" 2 3
parking 10
hand_over "$LINE" "${ST_PID[lost]}" 3 10
# Once the third file has its final name in the staging folder, its last
# ACK has gone out: the stop comes while the station awaits the EOT.
wait_lines "$S/collect.log" 2 || true
for i in $(seq 400); do
    [ -e "$S/.incoming-line-lost/DATA.TXT" ] && break
    sleep 0.05
done
sleep 0.3
station_stop lost
for n in 1 2 3; do finish_terminal "$n"; done

results=$(for n in 1 2 3; do line_field "$S/collect.log" "$n" result; done | tr '\n' ' ')
check "lost EOT: sessions 51, 0 and 90 (stopped after the last ACK), station exits 0" \
    is results "$results" "51 0 90 " -- is status "$RC" 0
check "lost EOT: all three files of the same name stored with their .FLD files" \
    same_file "$(line_field "$S/collect.log" 1 stored)" "${T_DIR[1]}/DATA.TXT" -- \
    same_file "$(line_field "$S/collect.log" 2 stored)" "${T_DIR[2]}/DATA.TXT" -- \
    same_file "$(line_field "$S/collect.log" 3 stored)" "${T_DIR[3]}/DATA.TXT" -- \
    has_line "$(line_field "$S/collect.log" 1 companion)" '^records	3' -- \
    has_line "$(line_field "$S/collect.log" 3 companion)" '^records	5' -- \
    is "files in DIR" "$(cd "$S" && ls | grep -cE '^[0-9]{8}-[0-9]{6}(-[0-9]+)?-DATA\.(TXT|FLD)$')" 6
check "lost EOT: the failed sessions log the records stored, not 0" \
    is records "$(line_field "$S/collect.log" 1 records)" 3 -- \
    is bytes "$(line_field "$S/collect.log" 1 bytes)" 30 -- \
    is records "$(line_field "$S/collect.log" 3 records)" 5 -- \
    is "staging" "$(ls -A "$S/.incoming-line-lost" | tr '\n' ' ')" ".lock "

# ---- one station per port and per staging folder; two ports share a folder.
S=$WORK/shared EAST=$WORK/line-east WEST=$WORK/line-west
CTX_LOG=$S/collect.log CTX_OUT=$WORK/station-east.out
terminal 4 east --send-records 3 --widths 5,3 --send-name DATA.TXT
terminal 5 west --send-records 4 --widths 5,3 --send-name DATA.TXT
point_line "$EAST" "${T_PTY[4]}"
point_line "$WEST" "${T_PTY[5]}"
station_start east "$S" "$EAST" --station=east
station_start west "$S" "$WEST" --station=west
for i in $(seq 200); do
    [ -e "$S/.incoming-east/.lock" ] && [ -e "$S/.incoming-west/.lock" ] && break
    sleep 0.05
done
parking 11
parking 12
hand_over "$EAST" "${ST_PID[east]}" 4 11
hand_over "$WEST" "${ST_PID[west]}" 5 12
sleep 0.2
ln -sfn "${T_PTY[4]}" "$WORK/alias"
refused() {   # refused WHAT ORVW-ARGS...: RC and the output of a station that should not start
    local out=$WORK/refused-$1.out
    shift
    RC=0
    timeout 20 "$ORVW" --collect "$@" >"$out" 2>&1 || RC=$?
    REFUSAL=$(cat "$out")
}
refused port "$WORK/elsewhere" --device="$EAST"
check "a second station on a served port is refused with 64" \
    is status "$RC" 64 -- has_line <(echo "$REFUSAL") 'another station serves port .*line-east'
refused alias "$WORK/elsewhere2" --device="$WORK/alias"
check "the same port under another name is refused with 64" is status "$RC" 64
refused name "$S" --device="$WORK/nowhere" --station=east
check "a second station of the same name in the same folder is refused with 64" \
    is status "$RC" 64 -- has_line <(echo "$REFUSAL") 'another station named east'
refused badname "$S" --device="$WORK/nowhere" --station=../x
check "a station name that is no file name is refused with 64" is status "$RC" 64

wait_lines "$S/collect.log" 2 '"result":0' || true
station_stop east
east_rc=$RC
station_stop west
finish_terminal 4
finish_terminal 5
check "two stations in one folder: each file stored under its station's name" \
    same_file "$(field_of "$S/collect.log" '"station":"east","result"' stored)" "${T_DIR[4]}/DATA.TXT" -- \
    same_file "$(field_of "$S/collect.log" '"station":"west","result"' stored)" "${T_DIR[5]}/DATA.TXT" -- \
    is "east names" "$(cd "$S" && ls | grep -cE '^[0-9]{8}-[0-9]{6}-east-DATA\.(TXT|FLD)$')" 2 -- \
    is "west names" "$(cd "$S" && ls | grep -cE '^[0-9]{8}-[0-9]{6}-west-DATA\.(TXT|FLD)$')" 2 -- \
    is "exit" "$east_rc $RC" "0 0"
check "two stations in one folder: one shared log of whole lines, no refused station in it" \
    is "sessions" "$(grep -c '"result":0' "$S/collect.log")" 2 -- \
    is "whole JSON lines" "$(grep -cE '^\{"time":.*\}$' "$S/collect.log")" "$(wc -l <"$S/collect.log")" -- \
    is "stations" "$(grep -o '"station":"[a-z]*"' "$S/collect.log" | sort -u | tr '\n' ' ')" '"station":"east" "station":"west" '

# ---- a port that another program holds: the station tries every 2 s but
# logs the refusal once, not again and again.
S=$WORK/held
CTX_LOG=$S/collect.log CTX_OUT=$WORK/station-held.out
terminal 9 held-idle --send-records 1 --widths 4 --fault-silent
mkdir -p "$WORK/holder"
(cd "$WORK/holder" && exec "$ORVW" --device="${T_PTY[9]}" +R -L0 '(file)' >"$WORK/holder.out" 2>&1) &
HOLDER=$!
BG_PIDS+=("$HOLDER")
wait_opened "$HOLDER" "${T_PTY[9]}" "${T_PID[9]}" || true
station_start held "$S" "${T_PTY[9]}"
wait_file_text "${ST_OUT[held]}" "again" "${ST_PID[held]}" || true
sleep 2.5
station_stop held
kill "$HOLDER" 2>/dev/null || true
finish_terminal 9
check "a port held by another program: 75 logged once while it repeats" \
    is results "$(grep -o '"result":[0-9]*' "$S/collect.log" | sort | uniq -c | tr -s ' ')" ' 1 "result":75' -- \
    has_line "${ST_OUT[held]}" 'error 75 again' -- is status "$RC" 0

# ---- what an earlier run left in its staging folder: a complete file is
# stored, a temporary one kept aside; nothing is deleted.
S=$WORK/left LINE=$WORK/line-left
CTX_LOG=$S/collect.log CTX_OUT=$WORK/station-left.out
mkdir -p "$S/.incoming-line-left"
printf 'AAAAA111\r\nBBBBB222\r\n' >"$S/.incoming-line-left/DATA.TXT"
printf 'first section\r\n' >"$S/.incoming-line-left/DATA.FLD"
printf 'CCCCC3' >"$S/.incoming-line-left/~RX0A1B2"
printf 'PPPP\r\n' >"$S/.incoming-line-left/APP.PD3"
cp -r "$S/.incoming-line-left" "$WORK/left-before"
terminal 6 left-idle --send-records 1 --widths 4 --fault-silent
point_line "$LINE" "${T_PTY[6]}"
station_start left "$S" "$LINE"
wait_lines "$S/collect.log" 3 || true
wait_opened "${ST_PID[left]}" "${T_PTY[6]}" "${T_PID[6]}" || true
station_stop left
finish_terminal 6
stored_data=$(field_of "$S/collect.log" '"recovered":"DATA.TXT"' stored)
check "leftovers: a complete file is stored with its .FLD and logged" \
    same_file "$stored_data" "$WORK/left-before/DATA.TXT" -- \
    same_file "$(field_of "$S/collect.log" '"recovered":"DATA.TXT"' companion)" "$WORK/left-before/DATA.FLD" -- \
    is records "$(field_of "$S/collect.log" '"recovered":"DATA.TXT"' records)" 2 -- \
    same_file "$(field_of "$S/collect.log" '"recovered":"APP.PD3"' stored)" "$WORK/left-before/APP.PD3" -- \
    has_line <(basename "$stored_data") "$DATA_NAME"
aside=$(field_of "$S/collect.log" '"incomplete":"~RX0A1B2"' aside)
check "leftovers: a temporary file is kept aside, not deleted, not stored" \
    same_file "$aside" "$WORK/left-before/~RX0A1B2" -- \
    has_line <(echo "$aside") '/\.incoming-line-left/aside-[0-9]{8}-[0-9]{6}/~RX0A1B2$' -- \
    is "stored names" "$(cd "$S" && ls | grep -c RX || true)" 0 -- is status "$RC" 0

# ---- a log that cannot be written: the file is stored all the same, the
# failure is on stderr, and the line is written once the log works again;
# no further session starts meanwhile.
S=$WORK/full LINE=$WORK/line-full
CTX_LOG=$S/collect.log CTX_OUT=$WORK/station-full.out
mkdir -p "$S"
ln -s /dev/full "$S/collect.log"
terminal 7 full --send-records 3 --widths 5,3 --send-name DATA.TXT
terminal 8 full-next --send-records 2 --widths 5,3 --send-name NEXT.TXT
point_line "$LINE" "${T_PTY[7]}"
station_start full "$S" "$LINE"
wait_opened "${ST_PID[full]}" "${T_PTY[7]}" "${T_PID[7]}" || true
release 7
wait_file_text "${ST_OUT[full]}" "cannot write" "${ST_PID[full]}" || true
# The next terminal asks on the line while the log cannot be written.
point_line "$LINE" "${T_PTY[8]}"
release 8
sleep 3
held_back=$(ls "$S" | grep -c NEXT || true)
stored_before=$(cd "$S" && ls | grep -E "$DATA_NAME" || true)
# Not taken: it may wait for the station now, and its line is left for
# the parking one before it speaks again.
hold 8
parking 13
rm "$S/collect.log"
hand_over "$LINE" "${ST_PID[full]}" 8 13
wait_lines "$S/collect.log" 2 '"result":0' || true
station_stop full
finish_terminal 7
finish_terminal 8
check "log unwritable: reported on stderr, the file stored, no further session meanwhile" \
    has_line "${ST_OUT[full]}" 'cannot write .*collect\.log: No space left' -- \
    same_file "$S/$stored_before" "${T_DIR[7]}/DATA.TXT" -- is "NEXT.TXT stored meanwhile" "$held_back" 0
check "log unwritable: the waiting line is written once the log works, then the next session" \
    is "first stored" "$(line_field "$S/collect.log" 1 stored)" "$S/$stored_before" -- \
    is "second" "$(line_field "$S/collect.log" 2 name_buf)" NEXT.TXT -- \
    has_line "${ST_OUT[full]}" 'collect\.log is written again'


# ---- a terminal held up (a busy machine) past the moment its enquiry was
# due: it waits its full reply time from the enquiry's write, so it does
# not ask again at once and take the answer to the one for the other.
S=$WORK/late LINE=$WORK/line-late
CTX_LOG=$S/collect.log CTX_OUT=$WORK/station-late.out
terminal 14 late --send-records 3 --widths 5,3 --send-name LATE.TXT
parking 15
point_line "$LINE" "${T_PTY[14]}"
station_start late "$S" "$LINE"
wait_opened "${ST_PID[late]}" "${T_PTY[14]}" "${T_PID[14]}" || true
# Its enquiry was due 250 ms after its start, the answer 200 ms later.
sleep 0.5
hand_over "$LINE" "${ST_PID[late]}" 14 15
wait_lines "$S/collect.log" 1 || true
station_stop late
finish_terminal 14
check "a terminal held up before its enquiry: the exchange stays in step, the session completes" \
    is result "$(line_field "$S/collect.log" 1 result)" 0 -- is status "$(json status)" ok -- \
    is answers "$(json answers)" "enq:A 0:A eot:A" -- is "PC's NAKs" "$(json naks)" 0

finish
