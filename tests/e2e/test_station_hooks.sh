# orvw --collect --on-file: a command per stored file, in the background,
# one after another in the order the files were stored, with the file's
# facts in its environment; its status and time logged; one past its limit
# ended with whatever it started; the station never waits for a command
# before the next terminal, and at a stop lets the running one finish.
set -euo pipefail
. "$(dirname "$0")/e2e_lib.sh"
. "$(dirname "$0")/station_lib.sh"

S=$WORK/hooks LINE=$WORK/line-hooks
export HOOK_OUT=$WORK/hooks.out HOOK_DIR=$WORK
check_context() { echo "status=${RC:-}; hooks: $(tr '\n' ' ' <"$HOOK_OUT" 2>/dev/null); log: $(grep hook "$S/collect.log" 2>/dev/null | tail -c 700); station: $(tail -c 300 "${ST_OUT[hk]:-/dev/null}" 2>/dev/null)"; }

# The terminals send 1, 2, 3 and 4 records; the command behaves by the
# count: slow, failing, hanging (with a child of its own; it notes the
# SIGTERM that comes before the SIGKILL), slow again.
cat >"$WORK/hook.sh" <<'HOOK'
#!/bin/sh
echo "start $ORV5_RECORDS|$ORV5_FILE|$ORV5_FLD|$ORV5_BYTES|$ORV5_RESULT|$ORV5_STATION" >>"$HOOK_OUT"
case $ORV5_RECORDS in
    1) sleep 2.5 ;;
    2) echo "end 2" >>"$HOOK_OUT"; exit 7 ;;
    3) trap 'echo term >"$HOOK_DIR/term3"; exit 143' TERM
       sleep 100 & echo $! >"$HOOK_DIR/sleeper"; wait ;;
    4) sleep 1 ;;
esac
echo "end $ORV5_RECORDS" >>"$HOOK_OUT"
HOOK
chmod +x "$WORK/hook.sh"

terminal 1 t1 --send-records 1 --widths 5,3 --send-name F1.TXT
point_line "$LINE" "${T_PTY[1]}"
station_start hk "$S" "$LINE" --station=hk --on-file="$WORK/hook.sh" --on-file-timeout=4 --json
HK=${ST_PID[hk]}
for n in 2 3 4; do
    terminal "$n" "t$n" --send-records "$n" --widths 5,3 --send-name "F$n.TXT"
    hand_over "$LINE" "$HK" $((n - 1)) "$n"
done
# The fourth terminal, on the line since the third session, speaks once
# the hanging command has been ended.
wait_lines "$S/collect.log" 1 '"killed":true' || true
parking 5
hand_over "$LINE" "$HK" 4 5
wait_lines "$HOOK_OUT" 1 '^start 4' || true
station_stop hk
for n in 1 2 3 4; do finish_terminal "$n"; done

L=$S/collect.log
stored1=$(field_of "$L" '"name_buf":"F1.TXT"' stored)
check "hooks: run one after another in the order the files were stored" \
    is order "$(cut -d'|' -f1 "$HOOK_OUT" | tr '\n' ' ')" "start 1 end 1 start 2 end 2 start 3 start 4 end 4 "
check "hooks: the command sees the stored file, its .FLD, counts, result and station" \
    is env "$(head -1 "$HOOK_OUT")" "start 1|$stored1|${stored1%.TXT}.FLD|10|0|hk" -- \
    same_file "$stored1" "${T_DIR[1]}/F1.TXT"
check "hooks: exit status and time logged; a failing command is logged as such" \
    is "F1 status" "$(field_of "$L" '"hook":.*F1\.TXT' status)" 0 -- \
    at_least "F1 seconds" "$(field_of "$L" '"hook":.*F1\.TXT' seconds | cut -d. -f1)" 2 -- \
    is "F2 status" "$(field_of "$L" '"hook":.*F2\.TXT' status)" 7
f3_seconds=$(field_of "$L" '"hook":.*F3\.TXT' seconds | cut -d. -f1)
sleeper=$(cat "$WORK/sleeper" 2>/dev/null || echo 0)
check "hooks: one past its limit is ended with its children and logged as killed" \
    is "F3 status" "$(field_of "$L" '"hook":.*F3\.TXT' status)" null -- \
    is "F3 killed" "$(field_of "$L" '"hook":.*F3\.TXT' killed)" true -- \
    at_least "F3 seconds" "$f3_seconds" 4 -- is "F3 under 10 s" "$((f3_seconds < 10))" 1 -- \
    is "its child" "$(kill -0 "$sleeper" 2>/dev/null && echo alive || echo gone)" gone -- \
    is "asked to end first (SIGTERM)" "$(cat "$WORK/term3" 2>/dev/null)" term
# The second file's session ended while the first file's command still ran.
s2=$(grep -n '"name_buf":"F2.TXT"' "$L" | cut -d: -f1)
h1=$(grep -n '"hook":.*F1\.TXT' "$L" | cut -d: -f1)
check "hooks: the station takes the next terminal while a command runs" \
    is "F2 session logged before F1's command ended" "$((${s2:-99} < ${h1:-0}))" 1 -- \
    is "F4 result" "$(field_of "$L" '"name_buf":"F4.TXT"' result)" 0
check "hooks: a stop lets the running command finish, status 0" \
    is status "$RC" 0 -- is "F4 status" "$(field_of "$L" '"hook":.*F4\.TXT' status)" 0 -- \
    is "F4 station" "$(field_of "$L" '"hook":.*F4\.TXT' station)" hk
check "hooks: with --json stdout has every line of the log, the hooks' included" \
    is "stdout JSON" "$(grep '^{' "${ST_OUT[hk]}" | md5sum)" "$(md5sum <"$L")" -- \
    is "hook lines" "$(grep -c '"hook":' "$L")" 4

finish
