# Files of every kind go across and arrive as sent.
set -euo pipefail
. "$(dirname "$0")/e2e_lib.sh"

# A data file of three fields (5, 3, 4) with a short, a long, an empty line
# and a DLE byte (0x10) that travels doubled.
C=$WORK/data; mkdir -p "$C"
printf 'ABCDE123wxyz\r\nXY\r\nLONGERLINE12345678\r\n\r\nab\020de0010001\r\n' >"$C/DATA.TXT"
printf '* three fields\r\nFIELDS 5,3,4\r\n' >"$C/DATA.FLD"
printf 'ABCDE123wxyz\r\nXY          \r\nLONGERLINE12\r\n            \r\nab\020de0010001\r\n' >"$C/expect"
cp "$C/DATA.TXT" "$C/original"
start_sim data --station 0x0210 && send "$C" -B19200 DATA.TXT; wait_sim
check "data file: result 0" is rc "$RC" 0
check "data file: terminal summary" \
    is status "$(json status)" ok -- is announced "$(json announced)" 5 -- \
    is widths "$(json widths)" "[5,3,4]" -- is written "$(json written)" 5
check "data file: records padded, cut and byte-exact" same_file "$SIM_DIR/DATA.TXT" "$C/expect"
check "data file: the file sent is unchanged" same_file "$C/DATA.TXT" "$C/original"

# A program file: lines become 128-byte records padded with '0'.
C=$WORK/prog; mkdir -p "$C"
printf 'LINE ONE\r\nLINE TWO\r\n' >"$C/APP.PD3"
start_sim prog && send "$C" APP.PD3; wait_sim
check "program file: result 0" is rc "$RC" 0
check "program file: two 128-byte records" \
    is status "$(json status)" ok -- is type "$(json type)" 1 -- \
    is record_length "$(json record_length)" 128 -- is written "$(json written)" 2
exp=$(printf 'LINE ONE%0120d' 0)
check "program file: padded with zeros" \
    is "first record" "$(head -c 128 "$SIM_DIR/APP.PD3" 2>/dev/null || true)" "$exp"

# An empty file: a header for 0 records, then the closing.
C=$WORK/empty; mkdir -p "$C"
: >"$C/EMPTY.TXT"
start_sim empty && send "$C" +F10 EMPTY.TXT; wait_sim
check "empty file: result 0, nothing written" \
    is rc "$RC" 0 -- is status "$(json status)" ok -- is announced "$(json announced)" 0 -- \
    is frames "$(json frames)" 1

# Fixed-length mode: records go out byte for byte, CR and LF inside a
# record included; a missing CR LF at the end gives 76.
C=$WORK/fixed; mkdir -p "$C"
printf 'A\nBC\r\nD\rEF\r\n' >"$C/FIX.TXT"
printf 'FIELDS 4\r\n' >"$C/FIX.FLD"
start_sim fixed && send "$C" +C FIX.TXT; wait_sim
check "fixed length: result 0" is rc "$RC" 0
check "fixed length: records byte for byte" \
    is written "$(json written)" 2 -- same_file "$SIM_DIR/FIX.TXT" "$C/FIX.TXT"
printf 'ABCD\r\nEFGH' >"$C/FIX.TXT"
start_sim fixed2 && send "$C" +C FIX.TXT; wait_sim
check "fixed length: last record without CR LF gives 76" \
    is rc "$RC" 76 -- is written "$(json written)" 1 -- is status "$(json status)" aborted

finish
