# The collecting station: orvw --collect receives from terminal after
# terminal on one port, stores every file with its .FLD under a name with
# its time of arrival, never over an earlier file, logs one JSON line per
# session, goes on after a failed session, and ends cleanly on SIGTERM -
# between sessions, or in the middle of one (the terminal is told EOT).
#
# Each terminal is a zdxsim on a pty of its own; the station's device is a
# symbolic link that is pointed at the next terminal's pty once the
# station has opened the current one, before that terminal may speak
# (station_lib.sh).
set -euo pipefail
. "$(dirname "$0")/e2e_lib.sh"
. "$(dirname "$0")/station_lib.sh"

S=$WORK/station            # the station's folder
LINE=$WORK/line            # the station's device: a link to a pty
STATION_LOG=$WORK/station.out

SUMMARIES=()

# start_station [ORVW-OPTIONS]: orvw --collect in the background on the
# line; STATION is its process.
start_station() {
    "$ORVW" --collect "$S" --device="$LINE" -V "$@" >"$STATION_LOG" 2>&1 &
    STATION=$!
    BG_PIDS+=("$STATION")
}

# stop_station: SIGTERM, then up to 20 s for the station to end; RC its
# exit status (124 when it had to be killed).
stop_station() {
    local i
    kill -TERM "$STATION" 2>/dev/null || true
    for i in $(seq 400); do
        kill -0 "$STATION" 2>/dev/null || break
        sleep 0.05
    done
    if kill -0 "$STATION" 2>/dev/null; then
        kill -KILL "$STATION" 2>/dev/null || true
        wait "$STATION" 2>/dev/null || true
        RC=124
        return 0
    fi
    RC=0
    wait "$STATION" || RC=$?
}

# log_field N KEY: KEY of the Nth line of collect.log.
log_field() {
    SUMMARY=$(sed -n "$1p" "$S/collect.log" 2>/dev/null)
    json "$2"
}

check_context() { echo "station status=${RC:-}; log: $(tail -c 600 "$S/collect.log" 2>/dev/null); station: $(tail -c 300 "$STATION_LOG" 2>/dev/null); terminal: $SUMMARY"; }

# ---- a station run: two data files of the same name, a failed session
# between them, a program file, then SIGTERM in the middle of a long file.
printf 'LINE ONE\r\nLINE TWO\r\n' >"$WORK/APP.PD3"
# Every time-stamped name of DATA.TXT for the next three minutes is taken
# already: the station must store beside them, never over them.
mkdir -p "$S"
now=$(date +%s)
for i in $(seq -2 180); do
    echo decoy >"$S/$(date -d "@$((now + i))" +%Y%m%d-%H%M%S)-DATA.TXT"
done
terminal 1 first --send-records 3 --widths 5,3 --send-name DATA.TXT
point_line "$LINE" "${T_PTY[1]}"
start_station --json
terminal 2 bad --send-records 3 --widths 5,3 --send-name DATA.TXT --fault-header name
hand_over "$LINE" "$STATION" 1 2
terminal 3 second --send-records 4 --widths 5,3 --send-name DATA.TXT
hand_over "$LINE" "$STATION" 2 3
terminal 4 prog --send "$WORK/APP.PD3"
hand_over "$LINE" "$STATION" 3 4
terminal 5 long --send-records 3000 --widths 10 --send-name LONG.TXT --baud 9600
hand_over "$LINE" "$STATION" 4 5
parking 7
hand_over "$LINE" "$STATION" 5 7

# The long file is under way once its temporary file is in the staging
# folder (named after the device's base name); then the station is told to
# stop.
STARTED=no
for i in $(seq 400); do
    [ -n "$(ls -A "$S/.incoming-line" 2>/dev/null | grep '^~RX')" ] && { STARTED=yes; break; }
    sleep 0.05
done
stop_station
for n in 1 2 3 5; do
    finish_terminal "$n"
    SUMMARIES[n]=$SUMMARY
done

check "station: stopped in a session by SIGTERM, exit 0" is started "$STARTED" yes -- is status "$RC" 0
check "station: one log line per session, results in order" \
    is "log lines" "$(wc -l <"$S/collect.log")" 5 -- \
    is results "$(for n in 1 2 3 4 5; do log_field "$n" result; done | tr '\n' ' ')" "0 70 0 0 90 "
check "station: stdout has the same JSON lines" \
    is "stdout JSON" "$(grep '^{' "$STATION_LOG" | md5sum)" "$(md5sum <"$S/collect.log")"

# The two DATA.TXT: both kept, each with its own .FLD, under time-stamped
# names beside the ones taken; the log names them.
stored1=$(log_field 1 stored) stored3=$(log_field 3 stored)
name_rule='/[0-9]{8}-[0-9]{6}-[0-9]+-DATA\.TXT$'
check "station: two files of the same name both kept, with their .FLD files" \
    same_file "$stored1" "${T_DIR[1]}/DATA.TXT" -- same_file "$stored3" "${T_DIR[3]}/DATA.TXT" -- \
    has_line <(echo "$stored1") "$name_rule" -- has_line <(echo "$stored3") "$name_rule" -- \
    is "first companion" "$(log_field 1 companion)" "${stored1%.TXT}.FLD" -- \
    has_line "${stored3%.TXT}.FLD" '^records	4'
check "station: the files already there are untouched" \
    is "decoys intact" "$(grep -lx decoy "$S"/*-DATA.TXT | wc -l)" 183 \
    -- is "names kept" "$(cd "$S" && ls | grep -cE '^[0-9]{8}-[0-9]{6}-DATA\.TXT$')" 183
check "station: the log counts the records and bytes" \
    is records "$(log_field 1 records)" 3 -- is bytes "$(log_field 1 bytes)" 30 -- \
    is records "$(log_field 3 records)" 4 -- is name_buf "$(log_field 3 name_buf)" DATA.TXT
check "station: the terminals saw success, the refused header and success" \
    is first "$(SUMMARY=${SUMMARIES[1]}; json status)" ok -- \
    is "bad header" "$(SUMMARY=${SUMMARIES[2]}; json answers)" "enq:A 0:E eot:A" -- \
    is second "$(SUMMARY=${SUMMARIES[3]}; json status)" ok -- \
    is stored "$(log_field 2 stored)" null
check "station: a program file is stored without a companion" \
    is records "$(log_field 4 records)" 2 -- is companion "$(log_field 4 companion)" null -- \
    nonempty "$(log_field 4 stored)"
check "station: the aborted session told the terminal EOT and left nothing" \
    is pc_eot "$(SUMMARY=${SUMMARIES[5]}; json pc_eot)" true -- \
    is "LONG files" "$(cd "$S" && ls | grep -c LONG || true)" 0 -- \
    is "staging folder" "$(ls -A "$S/.incoming-line" | tr '\n' ' ')" ".lock "

# ---- a second run in the same folder: SIGTERM while it waits for a
# terminal ends it at once, and nothing of the first run changes.
before=$(cd "$S" && ls | grep -v collect.log | xargs md5sum)
terminal 6 idle --send-records 1 --widths 4 --fault-silent
point_line "$LINE" "${T_PTY[6]}"
start_station
wait_opened "$STATION" "${T_PTY[6]}" "${T_PID[6]}" || true
sleep 0.3
stop_station
finish_terminal 6
check "idle station: SIGTERM ends it with 0, the wait logged as a stop, not a session" \
    is status "$RC" 0 -- is "log lines" "$(wc -l <"$S/collect.log")" 6 -- \
    is result "$(log_field 6 result)" "" -- is stopped "$(log_field 6 stopped)" true
check "idle station: the stored files are untouched" \
    is "files" "$(cd "$S" && ls | grep -v collect.log | xargs md5sum)" "$before"

finish
