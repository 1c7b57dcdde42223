# orvw for scripts: --json reports what a session moved, --verbose the
# system's reason behind a failure, --trace the bytes on the line; usage
# faults give 64 without a session.
set -euo pipefail
. "$(dirname "$0")/e2e_lib.sh"

# jget LINE KEY: one value of a one-line JSON object, strings unquoted.
jget() {
    printf '%s\n' "$1" | sed -n "s/.*\"$2\":\(\"[^\"]*\"\|[^,}]*\).*/\1/p" | tr -d '"'
}

# valid_json FILE: FILE is exactly one JSON object (checked when python3
# is there).
valid_json() {
    command -v python3 >/dev/null 2>&1 || return 0
    python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); assert isinstance(d, dict)' "$1" \
        2>/dev/null && return 0
    WHY="$(basename "$1") is not one JSON object: $(head -c 200 "$1")"
    return 1
}

# run_orvw DIR ARGS...: orvw in DIR against $PTY; RC, OUT (stdout) and ERR
# (stderr file).
run_orvw() {
    local dir=$1
    shift
    RC=0
    (cd "$dir" && timeout 120 "$ORVW" --device="$PTY" -V "$@" >"$dir/out.txt" 2>"$dir/err.txt") || RC=$?
    OUT=$(cat "$dir/out.txt")
    ERR=$dir/err.txt
}

# Sending: the file as spelled, the 8.3 name as sent, one record per CR LF
# line (the short, the empty and the unterminated last line count).
C=$WORK/send; mkdir -p "$C"
printf 'ABCDE123\r\nXY\r\n\r\nLONGERLINE12345\r\nlast' >"$C/data.txt"
printf 'FIELDS 5,3\r\n' >"$C/data.fld"
start_sim send && run_orvw "$C" --json data.txt; wait_sim
check "--json send: exit 0, one JSON object on stdout" \
    is rc "$RC" 0 -- is "stdout lines" "$(wc -l <"$C/out.txt")" 1 -- valid_json "$C/out.txt"
check "--json send: result, direction, names, records, bytes" \
    is result "$(jget "$OUT" result)" 0 -- is message "$(jget "$OUT" message)" "session completed" -- \
    is direction "$(jget "$OUT" direction)" send -- is name_buf "$(jget "$OUT" name_buf)" DATA.TXT -- \
    is file "$(jget "$OUT" file)" data.txt -- is records "$(jget "$OUT" records)" 5 -- \
    is "terminal's records" "$(json written)" 5 -- \
    is bytes "$(jget "$OUT" bytes)" "$(wc -c <"$C/data.txt")" -- \
    at_least duration_ms "$(jget "$OUT" duration_ms)" 0 -- is reason "$(jget "$OUT" reason)" null

# Fixed-length records with +F: one record per width + CR LF.
printf 'AB\nC\r\nDEFG\r\n' >"$C/FIX.TXT"
start_sim fixed && run_orvw "$C" --json +C +F4 FIX.TXT; wait_sim
check "--json +C +F4: records as the terminal got them" \
    is rc "$RC" 0 -- is records "$(jget "$OUT" records)" 2 -- is written "$(json written)" 2

# A failed send: the terminal ends it.  Exit status and result agree,
# nothing counts as moved, the error line goes to stderr only.
start_sim eot --eot-at 2 && run_orvw "$C" --json data.txt; wait_sim
check "--json failure: status 55, records 0, stdout only JSON" \
    is rc "$RC" 55 -- is result "$(jget "$OUT" result)" 55 -- is records "$(jget "$OUT" records)" 0 -- \
    is bytes "$(jget "$OUT" bytes)" 0 -- valid_json "$C/out.txt" -- \
    has_line "$ERR" '^orvw: error 55: the terminal ended the transfer$'

# Receiving under the terminal's name: 7 records of widths 5 and 3, each
# line 8 bytes + CR LF.  Appending the same file again counts only what
# this session added.
R=$WORK/recv; mkdir -p "$R/in"
start_sim recv --send-records 7 --widths 5,3 --reply-timeout 200 && run_orvw "$R" --json +R 'in/(file)'; wait_sim
check "--json receive: the terminal's name, its records and bytes" \
    is rc "$RC" 0 -- valid_json "$R/out.txt" -- is direction "$(jget "$OUT" direction)" receive -- \
    is name_buf "$(jget "$OUT" name_buf)" SIMDATA.TXT -- is file "$(jget "$OUT" file)" in/SIMDATA.TXT -- \
    is records "$(jget "$OUT" records)" 7 -- is bytes "$(jget "$OUT" bytes)" 70 -- \
    same_file "$R/in/SIMDATA.TXT" "$SIM_DIR/SIMDATA.TXT"
start_sim recv2 --send-records 7 --widths 5,3 --reply-timeout 200 && run_orvw "$R" --json +R +A 'in/(file)'; wait_sim
check "--json receive +A: only the appended records and bytes" \
    is rc "$RC" 0 -- is records "$(jget "$OUT" records)" 7 -- is bytes "$(jget "$OUT" bytes)" 70 -- \
    is "file size" "$(wc -c <"$R/in/SIMDATA.TXT")" 140

# A program file: 130-byte lines (128 + CR LF).
printf 'LINE ONE\r\nLINE TWO\r\nLINE 3\r\n' >"$R/APP.PD3"
start_sim prog --send "$R/APP.PD3" --reply-timeout 200 && run_orvw "$R" --json +R in/APP.PD3; wait_sim
check "--json receive of a program file: 3 records of 130 bytes" \
    is rc "$RC" 0 -- is records "$(jget "$OUT" records)" 3 -- is bytes "$(jget "$OUT" bytes)" 390

# --verbose: the system's reason behind a failure, on stderr and in the
# JSON report.
V=$WORK/verbose; mkdir -p "$V"
cp "$C/data.txt" "$C/data.fld" "$V/"
PTY=$WORK/no-such-device
run_orvw "$V" --verbose --json data.txt
check "--verbose: reason of a port that cannot be opened" \
    is rc "$RC" 75 -- has_line "$ERR" "^orvw: reason: .*no-such-device: No such file or directory\$" -- \
    is reason "$(jget "$OUT" reason)" "$WORK/no-such-device: No such file or directory"
run_orvw "$V" data.txt
check "without --verbose: the error line alone" \
    is rc "$RC" 75 -- is "stderr lines" "$(wc -l <"$ERR")" 1

# --trace: the bytes of the session are appended to the file, one line per
# burst, in both directions; a second session appends.
T=$WORK/trace; mkdir -p "$T"
cp "$C/data.txt" "$C/data.fld" "$T/"
start_sim trace && run_orvw "$T" --trace="$T/line.trace" data.txt; wait_sim
cp "$T/line.trace" "$T/first.trace" 2>/dev/null || true
lines1=$(wc -l <"$T/first.trace" 2>/dev/null || echo 0)
start_sim trace2 && run_orvw "$T" --trace="$T/line.trace" data.txt; wait_sim
head -n "$lines1" "$T/line.trace" >"$T/kept.trace" 2>/dev/null || true
check "--trace: the session's bursts are appended" \
    is rc "$RC" 0 -- at_least "trace lines of one session" "$lines1" 4 -- \
    at_least "trace lines after two" "$(wc -l <"$T/line.trace")" "$((lines1 + 4))" -- \
    same_file "$T/kept.trace" "$T/first.trace"
run_orvw "$T" --trace="$T/no-dir/line.trace" data.txt
check "--trace to a file that cannot be opened: 64, no session" \
    is rc "$RC" 64 -- has_line "$ERR" "^orvw: --trace: cannot open .*no-dir/line.trace for appending"
# --trace-telnet adds a network port's socket lines to the trace; a local
# port has none, so its trace is the byte trace alone.  Without --trace
# there is no file to add them to: a usage fault.
start_sim trace3 && run_orvw "$T" --trace="$T/local.trace" --trace-telnet data.txt; wait_sim
check "--trace-telnet on a local port: the byte trace, no socket lines" \
    is rc "$RC" 0 -- has_line "$T/local.trace" "^ +[0-9]+ TX " -- \
    is "socket lines" "$(grep -c -E ' N[TR] |socket trace' "$T/local.trace")" 0
run_orvw "$T" --trace-telnet data.txt
check "--trace-telnet without --trace: 64, no session" \
    is rc "$RC" 64 -- has_line "$ERR" "^orvw: --trace-telnet adds to the trace: give --trace=FILE too"

# Usage faults never start a session.
run_orvw "$T" --no-such-option data.txt
check "unknown orvw option: 64" is rc "$RC" 64
run_orvw "$T" --collect "$T/station" data.txt
check "--collect with a file argument: 64, nothing created" \
    is rc "$RC" 64 -- is "station folder" "$([ -e "$T/station" ] && echo made || echo none)" none
run_orvw "$T" --station=east data.txt
check "--station without --collect: 64" is rc "$RC" 64
for bad in 0 86401 5s ""; do
    run_orvw "$T" --collect "$T/station" --on-file=true --on-file-timeout="$bad"
    check "--on-file-timeout=$bad: 64, nothing created" \
        is rc "$RC" 64 -- is "station folder" "$([ -e "$T/station" ] && echo made || echo none)" none
done
run_orvw "$T" --collect "$T/station" --on-file=
check "--on-file without a command: 64" is rc "$RC" 64

finish
