# orvw +R receives files from zdxsim playing a sending terminal: every kind
# of file arrives as sent, faults on the line are survived, refusals and
# the terminal's own end give their codes, and nothing the user had is
# damaged by a failed reception.
set -euo pipefail
. "$(dirname "$0")/e2e_lib.sh"

# start_sender CASE [zdxsim options]: a terminal that sends one file.
start_sender() {
    local case=$1
    shift
    SIM_DIR=$WORK/$case/out
    SIM_LOG=$WORK/$case/sim.log
    sim_launch_send "$SIM_DIR" "$SIM_LOG" 20 --reply-timeout 1000 "$@"
}

# receive CASE-DIR ORVW-ARGS...: orvw +R in CASE-DIR against $PTY; sets RC.
receive() {
    local dir=$1
    shift
    send "$dir" +R "$@"
}

# has_crlf_line FILE TEXT: FILE holds the line TEXT ended by CR LF.
has_crlf_line() {
    grep -qx -- "$2"$'\r' "$1" 2>/dev/null && return 0
    WHY="no line '$2' with CR LF in $(basename "$1")"
    return 1
}

# A data file with its layout: the file arrives byte for byte, the
# companion .FLD describes it, the name comes from the terminal.
C=$WORK/data; mkdir -p "$C"
printf 'ABCDE123wxyz\r\nXY   abc    \r\nab\020de0010001\r\n' >"$C/STOCK.TXT"
printf 'FIELDS 5,3,4\r\n' >"$C/STOCK.FLD"
mkdir -p "$C/in"
start_sender data --send "$C/STOCK.TXT" && receive "$C/in" '(file)'; wait_sim
check "data file: result 0, the terminal closed" \
    is rc "$RC" 0 -- is status "$(json status)" ok -- is closing "$(json closing)" acked
check "data file: arrives byte for byte under the terminal's name" \
    same_file "$C/in/STOCK.TXT" "$C/STOCK.TXT"
check "data file: its .FLD names the file, size, records and widths" \
    has_crlf_line "$C/in/STOCK.FLD" $'file\tSTOCK.TXT' -- \
    has_crlf_line "$C/in/STOCK.FLD" $'size\t42' -- \
    has_crlf_line "$C/in/STOCK.FLD" $'records\t3' -- \
    has_crlf_line "$C/in/STOCK.FLD" $'fields\t5 3 4'

# The round trip: what was received is sent again, as it was.
start_sim back && send "$C/in" STOCK.TXT; wait_sim
check "round trip: the received file and its layout send back unchanged" \
    is rc "$RC" 0 -- same_file "$SIM_DIR/STOCK.TXT" "$C/STOCK.TXT" -- \
    is widths "$(json widths)" "[5,3,4]"

# A program file, into a name of the user's spelling.
C=$WORK/prog; mkdir -p "$C"
line=$(printf 'p%.0s' $(seq 130))
printf '%s\r\n%s\r\n' "$line" "$line" >"$C/APP.EX3"
start_sender prog --send "$C/APP.EX3" && receive "$C" app.ex3; wait_sim
check "program file: result 0, two 130-byte lines, no .FLD" \
    is rc "$RC" 0 -- same_file "$C/app.ex3" "$C/APP.EX3" -- \
    is ".FLD files" "$(ls "$C" | grep -ci '\.fld$' || true)" 0

# Generated records with DLE bytes, separators on output.
C=$WORK/sep; mkdir -p "$C"
start_sender sep --send-records 4 --widths 5,3 && receive "$C" "+T;" SEP.TXT; wait_sim
check "separators: result 0, a ';' between the fields" \
    is rc "$RC" 0 -- is lines "$(grep -c '^.\{5\};.\{3\}'$'\r''$' "$C/SEP.TXT" || true)" 4

# Faults on the line: a bad check value twice, a block repeated after its
# ACK, the last ACK lost (the terminal asks again): all end well.
C=$WORK/faults; mkdir -p "$C"
for fault in "--fault-crc 2x2" "--fault-repeat last" "--fault-lost-ack last" \
             "--fault-repeat 0" "--fault-break 1" "--fault-station 2"; do
    rm -f "$C/F.TXT"
    # shellcheck disable=SC2086   # the fault is two words
    start_sender fault --send-records 3 --widths 4,4 $fault && receive "$C" F.TXT; wait_sim
    check "fault $fault: result 0, three records once each" \
        is rc "$RC" 0 -- is status "$(json status)" ok -- is lines "$(wc -l <"$C/F.TXT")" 3
done

# Refusals and the terminal's own end keep an existing file as it was.
C=$WORK/keep; mkdir -p "$C"
printf 'OLD CONTENT\r\n' >"$C/KEEP.TXT"
cp "$C/KEEP.TXT" "$C/original"
start_sender named --send-records 2 --widths 4 --send-name OTHER.TXT && receive "$C" +N KEEP.TXT; wait_sim
check "name check: 77, the old file untouched" \
    is rc "$RC" 77 -- same_file "$C/KEEP.TXT" "$C/original"
start_sender badhdr --send-records 2 --widths 4 --fault-header width && receive "$C" KEEP.TXT; wait_sim
check "invalid header: 70, the old file untouched" \
    is rc "$RC" 70 -- same_file "$C/KEEP.TXT" "$C/original"
start_sender eot --send-records 5 --widths 4 --fault-eot-at 3 && receive "$C" KEEP.TXT; wait_sim
check "terminal's EOT mid-transfer: 55, acknowledged, the old file untouched" \
    is rc "$RC" 55 -- is closing "$(json closing)" acked -- same_file "$C/KEEP.TXT" "$C/original"
check "no temporary file left behind" \
    is files "$(ls "$C" | grep -v '^orvw.log$' | tr '\n' ' ')" "KEEP.TXT original "

# Append mode adds the new records behind the old ones.
start_sender append --send-records 2 --widths 4 --send-name KEEP.TXT && receive "$C" +A KEEP.TXT; wait_sim
check "append: result 0, old line first, then two new ones" \
    is rc "$RC" 0 -- is first "$(head -1 "$C/KEEP.TXT")" $'OLD CONTENT\r' -- \
    is lines "$(wc -l <"$C/KEEP.TXT")" 3

# A silent terminal: 51 after the time-out.
C=$WORK/silent; mkdir -p "$C"
start_sender silent --send-records 1 --widths 4 --fault-silent && receive "$C" -L1 '(file)'; wait_sim
check "silent terminal: 51" is rc "$RC" 51

finish
