# Receiving (+R) under Wine (sourced by scripts/test-wine.sh once per
# build; see tests/wine/lib.sh): the simulator plays a terminal that sends
# one file on COM5.  Sessions through orvw.exe and the test host, refusals
# that must leave a user's file alone, then the progress window under a
# fresh Xvfb per case: the bar, a click on Abort, a nested call.

# start_sender CASE [zdxsim options]: a sending terminal on COM5 that
# gives up 2 s after the PC stops answering (instead of 3 x 5 s).
start_sender() {
    start_sim "$@" --reply-timeout 700 --retries 2
}

# crlf_text FILE: FILE is non-empty and every line of it ends with one CR
# before its LF (a text-mode write on Windows), the last one included.
crlf_text() {
    if [ ! -s "$1" ] || [ "$(tail -c 1 "$1" | od -An -tx1 | tr -d ' ')" != 0a ]; then
        WHY="$1 is missing, empty or does not end with a line end"
        return 1
    fi
    awk '!/[^\r]\r$/ { bad = 1 } END { exit bad }' "$1" && return 0
    WHY="a line of $(basename "$1") does not end with exactly one CR: $(od -c "$1" | head -c 300)"
    return 1
}

# absent FILE: no such file.
absent() {
    [ ! -e "$1" ] && return 0
    WHY="$1 exists"
    return 1
}

# old_file NAME: a file a user already had in CASE_DIR, and its copy
# beside it to compare with afterwards.
old_file() {
    printf 'KEEP ME\r\n' >"$CASE_DIR/$1"
    cp "$CASE_DIR/$1" "$CASE_DIR/$1.before"
}

# The hidden owner window of the host and orvw.exe's windows need a display.
new_case rx-display
start_display

# A data file with widths 5 and 3; every third record holds a DLE byte.
new_case rx-data
if start_sender rx-data --send-records 6 --widths 5,3 --send-name DATA.TXT; then
    HOST_LOG=$CASE_DIR/orvw.log
    run_wine "$HOST_LOG" "$ORVW" "-P$COM" -B19200 +R +V0 DATA.TXT
fi
stop_sim
FLD=$CASE_DIR/DATA.FLD
check "$ARCH: receive: orvw.exe +R of a data file, exit 0, the terminal closed" \
    is rc "$RC" 0 -- is status "$(json status)" ok -- is closing "$(json closing)" acked
check "$ARCH: receive: the data file is byte-identical to what was sent" \
    same_file "$CASE_DIR/DATA.TXT" "$SIM_DIR/DATA.TXT" -- is size "$(wc -c <"$CASE_DIR/DATA.TXT")" 60
check "$ARCH: receive: DATA.FLD written with CR LF: name, date, size, records, widths" \
    crlf_text "$FLD" -- has_line "$FLD" $'^file\tDATA\\.TXT\r$' -- \
    has_line "$FLD" $'^date\t20[0-9]{2}-[01][0-9]-[0-3][0-9] [ 12][0-9]:[0-5][0-9]:[0-5][02468]\r$' -- \
    has_line "$FLD" $'^size\t60\r$' -- has_line "$FLD" $'^records\t6\r$' -- \
    has_line "$FLD" $'^fields\t5 3\r$'

# The same from a line that hands the bytes over one at a time: the port
# reads the rest of each data frame in one go (all-bytes time-outs).
new_case rx-bytewise
if start_sender rx-bytewise --send-records 12 --widths 40,20 --send-name DATA.TXT \
        --baud 19200 --pace bytes; then
    HOST_LOG=$CASE_DIR/orvw.log
    run_wine "$HOST_LOG" "$ORVW" "-P$COM" -B19200 +R +V0 DATA.TXT
fi
stop_sim
check "$ARCH: receive: byte by byte at 19200 bit/s, exit 0, the file byte-identical" \
    is rc "$RC" 0 -- is status "$(json status)" ok -- \
    same_file "$CASE_DIR/DATA.TXT" "$SIM_DIR/DATA.TXT"

# A program file: 128-byte records, no field-definition file.
new_case rx-program
if start_sender rx-program --send-records 3 --send-name APP.PD3; then
    HOST_LOG=$CASE_DIR/orvw.log
    run_wine "$HOST_LOG" "$ORVW" "-P$COM" -B19200 +R +V0 APP.PD3
fi
stop_sim
check "$ARCH: receive: orvw.exe +R of a program file, exit 0, 3 x 130 bytes, no .FLD" \
    is rc "$RC" 0 -- is type "$(json type)" 1 -- \
    same_file "$CASE_DIR/APP.PD3" "$SIM_DIR/APP.PD3" -- \
    is size "$(wc -c <"$CASE_DIR/APP.PD3")" 390 -- absent "$CASE_DIR/APP.FLD"

# "(file)": the terminal's name, into a folder; the name reaches name_buf.
new_case rx-named
mkdir -p "$CASE_DIR/IN"
start_sender rx-named --send-records 2 --widths 4 --send-name RECV.TXT &&
    host exec "+R -P$COM -B19200 +V0 IN\\(file)"
stop_sim
check "$ARCH: receive: IN\\(file) takes the terminal's name into name_buf" \
    is rc "$RC" 0 -- is name "$(hostval name)" RECV.TXT -- is spill "$(hostval spill)" 0 -- \
    same_file "$CASE_DIR/IN/RECV.TXT" "$SIM_DIR/RECV.TXT" -- \
    has_line "$CASE_DIR/IN/RECV.FLD" $'^field\t4\r$'

# A header refused by the name check: 77, the terminal told EOT, the file
# the user had under the wanted name untouched, nothing written.
new_case rx-refused
old_file WANT.TXT
start_sender rx-refused --send-records 3 --widths 5,3 --send-name OTHER.TXT &&
    host exec "+R +N -P$COM -B19200 +V0 WANT.TXT"
stop_sim
check "$ARCH: receive: +N with another name gives 77, the terminal refused" \
    is rc "$RC" 77 -- is status "$(json status)" refused -- is pc_eot "$(json pc_eot)" true
check "$ARCH: receive: after 77 the existing file is untouched, nothing else written" \
    same_file "$CASE_DIR/WANT.TXT" "$CASE_DIR/WANT.TXT.before" -- \
    absent "$CASE_DIR/OTHER.TXT" -- absent "$CASE_DIR/WANT.FLD"

# The terminal's own EOT instead of record 3: 55, the file the user had
# under that name keeps its content.
new_case rx-ended
old_file DATA.TXT
start_sender rx-ended --send-records 5 --widths 5,3 --send-name DATA.TXT --fault-eot-at 3 &&
    host exec "+R -P$COM -B19200 +V0 DATA.TXT"
stop_sim
check "$ARCH: receive: the terminal's EOT after 2 of 5 records gives 55" \
    is rc "$RC" 55 -- is status "$(json status)" ended -- is acked "$(json acked)" 2
check "$ARCH: receive: after 55 the existing file is untouched, no .FLD" \
    same_file "$CASE_DIR/DATA.TXT" "$CASE_DIR/DATA.TXT.before" -- absent "$CASE_DIR/DATA.FLD"

# only_files DIR NAME...: DIR holds exactly these files (no temporary file
# left behind).
only_files() {
    local dir=$1 have want
    shift
    have=$(cd "$dir" && find . -maxdepth 1 -type f | sed 's|^\./||' | sort | tr '\n' ' ')
    want=$(printf '%s\n' "$@" | sort | tr '\n' ' ')
    [ "$have" = "$want" ] && return 0
    WHY="files in $(basename "$dir") are '$have', wanted '$want'"
    return 1
}

# Append mode into OUT\: the new records follow the old content through a
# temporary file beside it, which is gone afterwards; the size line counts
# both.
new_case rx-append
mkdir -p "$CASE_DIR/OUT"
old_file OUT/LOG.TXT
start_sender rx-append --send-records 2 --widths 5,3 --send-name LOG.TXT &&
    host exec "+R +A -P$COM -B19200 +V0 OUT\\LOG.TXT"
stop_sim
cat "$CASE_DIR/OUT/LOG.TXT.before" "$SIM_DIR/LOG.TXT" >"$CASE_DIR/want"
check "$ARCH: receive: +A appends to the existing file, no temporary file left" \
    is rc "$RC" 0 -- same_file "$CASE_DIR/OUT/LOG.TXT" "$CASE_DIR/want" -- \
    has_line "$CASE_DIR/OUT/LOG.FLD" $'^size\t29\r$' -- \
    only_files "$CASE_DIR/OUT" LOG.FLD LOG.TXT LOG.TXT.before

# The same when the terminal ends after record 1: the old content alone.
new_case rx-append-ended
mkdir -p "$CASE_DIR/OUT"
old_file OUT/LOG.TXT
start_sender rx-append-ended --send-records 3 --widths 5,3 --send-name LOG.TXT --fault-eot-at 2 &&
    host exec "+R +A -P$COM -B19200 +V0 OUT\\LOG.TXT"
stop_sim
check "$ARCH: receive: +A ended by the terminal: 55, old content alone, no temporary file" \
    is rc "$RC" 55 -- same_file "$CASE_DIR/OUT/LOG.TXT" "$CASE_DIR/OUT/LOG.TXT.before" -- \
    only_files "$CASE_DIR/OUT" LOG.TXT LOG.TXT.before

# A nested ExecOrv5 from the owner's window procedure while waiting for a
# terminal that never calls: 61; AbortOrv5 from there too gives 61 and
# ends the session with 90, the terminal told EOT.
new_case rx-nested
start_sender rx-nested --send-records 1 --widths 5 --fault-silent && host nested "+R -P$COM +V0 (file)" abort
stop_sim
check "$ARCH: nested ExecOrv5 while receiving gives 61, abort 61, session 90" \
    is rc "$RC" 90 -- is nested "$(hostval nested)" 61 -- is abort "$(hostval abort)" 61 -- \
    is pc_eot "$(json pc_eot)" true
stop_display

# bar_steps MIN: the bar showed at least MIN different fills between empty
# and full (a bar that jumps to full would show none).
bar_steps() {
    local n
    n=$(grep -o "bar=[0-9]*/[0-9]*" "$HOST_LOG" | awk -F'[=/]' '$2 > 0 && $2 < $3' | sort -u | wc -l)
    at_least "partial bar fills" "$n" "$1"
}

# Bar style at 1200 bit/s; the terminal thinks 200 ms before every frame,
# so each record stays on the bar for several 50 ms samples.
new_case gui-rx-bar
start_display
if start_sender gui-rx-bar --baud 1200 --answer-delay 200 --send-records 8 --widths 5,3 \
        --send-name BAR.TXT; then
    host_bg watch 50 "+R -P$COM -B1200 +V2 (file)"
    wait_for 'bar=[1-9][0-9]*/' && sleep 0.5 && shot receiving
    host_wait
fi
stop_sim
keep receiving
stop_display
check "$ARCH: receiving bar window: session 0, file intact" \
    is rc "$RC" 0 -- same_file "$CASE_DIR/BAR.TXT" "$SIM_DIR/BAR.TXT"
check "$ARCH: receiving bar window: title and the terminal's name, no counter" \
    has_line "$HOST_LOG" '^window title="ZDX-Ir  Receiving" .* name="BAR.TXT" counter="-"'
check "$ARCH: receiving bar window: the bar fills record by record" \
    bar_fills 8 -- bar_steps 5
check "$ARCH: receiving bar window: screenshot" nonempty "$ARTIFACTS/wine-$ARCH-receiving.png"

# A click on Abort while the terminal is silent after record 1: 90, the
# terminal told EOT, the partly received file removed.
new_case gui-rx-abort
start_display
if start_sender gui-rx-abort --send-records 5 --widths 5,3 --send-name PART.TXT \
        --fault-silent-from 2; then
    host_bg watch 100 "+R -P$COM (file)"
    if wait_for '^button ' && wait_for 'counter="00001 / 00005"'; then
        shot receiving-abort
        win=$(grep -m1 '^window ' "$HOST_LOG")
        but=$(grep -m1 '^button ' "$HOST_LOG")
        bx=$(( $(field x "$but") - $(field x "$win") ))
        by=$(( $(field y "$but") - $(field y "$win") ))
        wid=$(xdotool search --onlyvisible --name '^ZDX-Ir  Receiving$' 2>/dev/null | head -1)
        [ -n "$wid" ] && xdotool mousemove --window "$wid" "$bx" "$by" click 1
    fi
    host_wait
fi
stop_sim
keep receiving-abort
stop_display
check "$ARCH: Abort click while receiving ends the session with 90" \
    is rc "$RC" 90 -- \
    has_line "$HOST_LOG" '^window title="ZDX-Ir  Receiving" .*name="PART.TXT" counter="00001 / 00005"'
check "$ARCH: Abort click while receiving: the terminal was told EOT, no file left" \
    is pc_eot "$(json pc_eot)" true -- absent "$CASE_DIR/PART.TXT"
