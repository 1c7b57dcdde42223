# The largest file: 32767 records go across; one more line is refused
# before any traffic.
set -euo pipefail
. "$(dirname "$0")/e2e_lib.sh"

C=$WORK/big; mkdir -p "$C"
awk 'BEGIN { for (i = 1; i <= 32767; i++) printf "%06d\r\n", i }' >"$C/BIG.TXT"
printf 'FIELDS 6\r\n' >"$C/BIG.FLD"
start_sim big && send "$C" BIG.TXT; wait_sim
check "32767 records: result 0" is rc "$RC" 0
check "32767 records: all arrived in order" \
    is status "$(json status)" ok -- is written "$(json written)" 32767 -- \
    same_file "$SIM_DIR/BIG.TXT" "$C/BIG.TXT"

printf '032768\r\n' >>"$C/BIG.TXT"
start_sim toobig --timeout 3 && send "$C" BIG.TXT; wait_sim
check "32768 records: result 3, nothing sent" \
    is rc "$RC" 3 -- is status "$(json status)" timeout -- is enquiries "$(json enquiries)" 0

finish
