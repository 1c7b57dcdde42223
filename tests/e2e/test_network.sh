# Network ports: orvw reaches the terminal through a serial device server
# (ser2net on the loopback address, tests/e2e/ser2net_lib.sh) by RFC 2217
# and by raw TCP.  Files go across both ways and arrive as sent, the line
# settings reach the tty, 0xFF bytes pass the telnet layer, a server that
# goes away ends the session at once, connections that cannot be made give
# 75, a collecting station rides out a server restart, and the byte trace
# holds the serial bytes.  Skipped (77) where ser2net is not installed.
set -euo pipefail
. "$(dirname "$0")/e2e_lib.sh"
. "$(dirname "$0")/ser2net_lib.sh"
s2n_require

check_context() {
    local server=gone
    [ -n "${S2N_PID:-}" ] && kill -0 "$S2N_PID" 2>/dev/null && server="runs on $S2N_RFC/$S2N_RAW"
    echo "rc=$RC; terminal: $SUMMARY; orvw: $(tail -c 300 "${ORVW_LOG:-/dev/null}" 2>/dev/null | tr '\n' ' ');" \
        "ser2net $server: $(tail -c 200 "${S2N_LOG:-/dev/null}" 2>/dev/null | tr '\n' ' ')"
}

# A listener whose queue is full and that never accepts: a connect to it is
# never answered.  Started first, as python takes seconds to start on a
# busy machine; without python3 that check is skipped.
HANG_PORT=
if command -v python3 >/dev/null 2>&1; then
    python3 -c '
import socket, sys, time
l = socket.socket()
l.bind(("127.0.0.1", 0))
l.listen(0)
port = l.getsockname()[1]
held = []
for _ in range(3):          # fill the accept queue; later SYNs are dropped
    c = socket.socket()
    c.setblocking(False)
    try:
        c.connect(("127.0.0.1", port))
    except BlockingIOError:
        pass
    held.append(c)
time.sleep(0.2)
print(port, flush=True)
time.sleep(300)
' >"$WORK/hang.port" 2>/dev/null &
    BG_PIDS+=($!)
fi

s2n_start || { fail "ser2net starts" "$(tail -c 300 "$S2N_LOG")"; finish; }
RFC=rfc2217://127.0.0.1:$S2N_RFC
RAW=tcp://127.0.0.1:$S2N_RAW

# run_orvw CASE-DIR ORVW-ARGS...: orvw --verbose in CASE-DIR (no --device:
# the arguments name it); RC, ORVW_LOG its output, ELAPSED_MS its time.
run_orvw() {
    local dir=$1 t0
    shift
    ORVW_LOG=$dir/orvw.log
    t0=$(date +%s%N)
    RC=0
    (cd "$dir" && timeout 120 "$ORVW" --verbose -V "$@" >"$ORVW_LOG" 2>&1) || RC=$?
    ELAPSED_MS=$((($(date +%s%N) - t0) / 1000000))
}

# at_most WHAT ACTUAL MAX: ACTUAL is a number <= MAX.
at_most() {
    [[ $2 =~ ^[0-9]+$ ]] && [ "$2" -le "$3" ] && return 0
    WHY="$1 is '$2', wanted at most $3"
    return 1
}

# tty_speed CASE: the tty's speed (bit/s) when the first byte of CASE was
# written to it: the last speed set before that write.
tty_speed() {
    s2n_events "$1" | awk '$1 == "speed" { s = $3 } $1 == "write" { print s; exit }'
}

# lines_set_before_data CASE: a modem-line request reached the tty before
# the first byte of CASE and left RTS and DTR on, and no request turned
# either off while bytes went out.
lines_set_before_data() {
    local ev
    ev=$(s2n_events "$1" | awk '
        $1 == "write" { wrote = 1; last = NR }
        $1 == "lines" { if (!wrote) { set = 1; state = $4 " " $5 } else if (/=0/) off[NR] = $0 }
        END { for (n in off) if (n < last) { print "turned off: " off[n]; exit }
              print set ? "before: " state : "none before the data" }')
    [ "$ev" = "before: RTS=1 DTR=1" ] && return 0
    WHY="modem lines of $1: $ev"
    return 1
}

# crc_with_ff FILE DIR: some frame in direction DIR of the byte trace
# FILE ends (DLE ETX, then the CRC's low and high byte) with a 0xFF in
# its check value.
crc_with_ff() {
    awk -v d="$2" '$2 == d {
            n = 0
            for (i = 3; i <= NF && substr($i, 1, 1) != "|"; i++) b[++n] = tolower(substr($i, 1, 2))
            if (n >= 4 && b[n - 3] == "10" && b[n - 2] == "03" && (b[n - 1] == "ff" || b[n] == "ff")) found = 1
        } END { exit !found }' "$1" 2>/dev/null && return 0
    WHY="no $2 frame in $(basename "$1") has 0xFF in its check value"
    return 1
}

# only_files DIR NAME...: DIR holds only the files named (and orvw's log):
# a failed reception left nothing behind.
only_files() {
    local dir=$1 got
    shift
    got=$(cd "$dir" && ls -A | grep -v '^orvw\.log$' | tr '\n' ' ' || true)
    [ "$got" = "$* " ] && return 0
    WHY="$dir holds '$got', wanted '$*'"
    return 1
}

# ---- files both ways through both accepters ---------------------------------

# Records with 0xFF bytes in their fields; the terminal's station 0xFF7F
# puts 0xFF in every control message and frame; record 2's frame has
# 0xFF in its check value (CRC 0x8BFF over station, serial number, record
# and ETX; checked on the trace below).
C=$WORK/files; mkdir -p "$C"
printf 'AB\377CD\37701\r\n\377\377\377\377\377\3773e\r\nZZ\020\377yy0x\r\n' >"$C/DATA.TXT"
printf 'FIELDS 6,2\r\n' >"$C/DATA.FLD"

for acc in rfc2217 tcp; do
    url=$RFC
    [ $acc = tcp ] && url=$RAW
    D=$WORK/send-$acc; mkdir -p "$D"
    cp "$C/DATA.TXT" "$C/DATA.FLD" "$D/"
    net_sim "send-$acc" "$url" --station 0xFF7F && send "$D" -B19200 --trace="$D/trace" DATA.TXT; wait_sim
    check "$acc: orvw sends a file with 0xFF bytes, result 0, every record once" \
        is rc "$RC" 0 -- is status "$(json status)" ok -- is written "$(json written)" 3 -- \
        same_file "$SIM_DIR/DATA.TXT" "$C/DATA.TXT"

    # The rfc2217 reception traces the socket too (checked below).
    D=$WORK/recv-$acc; mkdir -p "$D"
    telnet_trace=()
    [ $acc = rfc2217 ] && telnet_trace=(--trace-telnet)
    net_sim "recv-$acc" "$url" --station 0xFF7F --send "$C/DATA.TXT" --reply-timeout 300 &&
        send "$D" +R -B19200 -#65407 --trace="$D/trace" "${telnet_trace[@]}" DATA.TXT; wait_sim
    check "$acc: orvw receives a file with 0xFF bytes, result 0, byte-identical" \
        is rc "$RC" 0 -- is status "$(json status)" ok -- same_file "$D/DATA.TXT" "$C/DATA.TXT"
done

# The trace holds what went over the serial line, not the telnet stream:
# every byte orvw traced as sent is what the server wrote to the tty (no
# doubled 0xFF, no negotiation), and as many bytes each way as the
# terminal counted.
tx=$(trace_bytes "$WORK/send-rfc2217/trace" TX)
rx=$(trace_bytes "$WORK/send-rfc2217/trace" RX)
SUMMARY=$(grep '^{' "$WORK/send-rfc2217/sim.log" | tail -1 || true)
check "rfc2217 --trace: the sent bytes are those the tty got, counts as the terminal's" \
    is "traced bytes sent" "$tx" "$(s2n_written send-rfc2217)" -- \
    is "bytes sent" $((${#tx} / 2)) "$(json bytes_in)" -- \
    is "bytes received" $((${#rx} / 2)) "$(json bytes_out)"
check "rfc2217: 0xFF in a check value, sent and received" \
    crc_with_ff "$WORK/send-rfc2217/trace" TX -- crc_with_ff "$WORK/recv-rfc2217/trace" RX

# --trace-telnet: each burst written to the line (TX) comes right after
# its socket line (NT), the same bytes with every 0xFF doubled; the
# server's doubled 0xFF bytes show in its lines (NR); the speed's reply
# is noted.
tx_after_nt() {
    local bad
    bad=$(awk 'function hex(   s, i) { s = ""; for (i = 3; i <= NF && substr($i, 1, 1) != "|"; i++) s = s " " $i; return s }
        $2 == "TX" { n++; want = hex(); gsub(/ FF/, " FF FF", want); if (prev != "NT" || nt != want) { print $0; exit } }
        $2 == "NT" { nt = hex() }
        $1 != "#" { prev = $2 }
        END { if (n == 0) print "no TX line" }' "$1")
    [ -z "$bad" ] && return 0
    WHY="$(basename "$(dirname "$1")"): $bad"
    return 1
}
check "rfc2217 --trace-telnet: every TX burst follows its socket burst, 0xFF doubled there" \
    tx_after_nt "$WORK/recv-rfc2217/trace" -- \
    has_line "$WORK/recv-rfc2217/trace" "^ +[0-9]+ NR .* FF FF " -- \
    has_line "$WORK/recv-rfc2217/trace" "^ +[0-9]+ -- telnet: SET-BAUDRATE 19200 acknowledged\$" -- \
    is "socket lines without --trace-telnet" "$(grep -c -E '^ +[0-9]+ (NT|NR|-- telnet)' "$WORK/send-rfc2217/trace")" 0

# What the session sets at open: RTS and DTR on, before the first byte.
check "rfc2217: RTS and DTR set on at the tty before the data, never off during it" \
    lines_set_before_data send-rfc2217 -- lines_set_before_data recv-rfc2217

# ---- every speed of the command text reaches the tty ------------------------

SPEEDS="256000 128000 115200 57600 56000 38400 19200 14400 9600 4800 2400 1200 600 300"
C=$WORK/speeds; mkdir -p "$C"
printf 'R1\r\n' >"$C/S.TXT"
printf 'FIELDS 2\r\n' >"$C/S.FLD"
count=$(echo $SPEEDS | wc -w)
net_sim speeds "$RFC" --count "$count" || true
results= seen=
for speed in $SPEEDS; do
    s2n_mark "speed-$speed"
    send "$C" "-B$speed" S.TXT
    results="$results $RC"
    seen="$seen $(tty_speed "speed-$speed")"
done
wait_sim
check "rfc2217: each of the $count speeds is set at the tty before the data" \
    is results "$results" "$(printf ' 0%.0s' $SPEEDS)" -- is "tty speeds" "$seen" " $SPEEDS"

# A raw port leaves the speed to the server: -B115200 changes nothing.
net_sim raw-speed "$RAW" && send "$C" -B115200 S.TXT; wait_sim
check "tcp: the server's speed stays (19200 for -B115200)" \
    is rc "$RC" 0 -- is "tty speed" "$(tty_speed raw-speed)" 19200

# ---- plug-ins need a local port ---------------------------------------------

net_sim plugin "$RFC" && send "$C" +IOrv5EESI -B19200 S.TXT; sim_finish "$SIM_LOG" 1
check "rfc2217 with +I: result 80, nothing sent to the terminal" \
    is rc "$RC" 80 -- is "bytes at the tty" "$(s2n_written plugin)" ""

# ---- connections that cannot be made: 75, the reason names HOST:PORT --------

C=$WORK/refused; mkdir -p "$C"
cp "$WORK/speeds/S.TXT" "$WORK/speeds/S.FLD" "$C/"
port=$(free_port)
run_orvw "$C" --device="rfc2217://127.0.0.1:$port" S.TXT
check "refused connection: 75 at once, the reason names 127.0.0.1:$port" \
    is rc "$RC" 75 -- has_line "$ORVW_LOG" "reason: .*127\.0\.0\.1:$port" -- at_most ms "$ELAPSED_MS" 4000

run_orvw "$C" --device=tcp://nonexistent.invalid:4001 S.TXT
check "unresolvable name: 75, the reason names nonexistent.invalid:4001" \
    is rc "$RC" 75 -- has_line "$ORVW_LOG" "reason: .*nonexistent\.invalid:4001"

for i in $(seq 400); do
    HANG_PORT=$(head -1 "$WORK/hang.port" 2>/dev/null || true)
    [ -n "$HANG_PORT" ] && break
    command -v python3 >/dev/null 2>&1 || break
    sleep 0.05
done
if [ -n "$HANG_PORT" ]; then
    run_orvw "$C" --device="rfc2217://127.0.0.1:$HANG_PORT" S.TXT
    check "connect never answered: 75 after about 5 s, the reason names the port" \
        is rc "$RC" 75 -- has_line "$ORVW_LOG" "reason: .*127\.0\.0\.1:$HANG_PORT" -- \
        at_least ms "$ELAPSED_MS" 4000 -- at_most ms "$ELAPSED_MS" 9000
else
    echo "SKIP: connect never answered (no python3 to hold a full listen queue)"
fi

# ---- the server goes away mid-session: 52 / 51 at once ----------------------

# stop_mid_session CASE: once the server has written 3 times to the tty
# (the session is under way), ser2net is stopped; STOP_MS is how long orvw
# took to end after that.  orvw runs in the background (ORVW_PID).  The
# terminal is left waiting for a line that is gone: it is stopped after.
stop_mid_session() {
    local i t0
    for i in $(seq 400); do
        [ "$(s2n_events "$1" | grep -c '^write' || true)" -ge 3 ] && break
        kill -0 "$ORVW_PID" 2>/dev/null || break
        sleep 0.05
    done
    t0=$(date +%s%N)
    s2n_stop
    RC=0
    wait "$ORVW_PID" || RC=$?
    STOP_MS=$((($(date +%s%N) - t0) / 1000000))
}

C=$WORK/stop-send-pc; mkdir -p "$C"
for i in $(seq 40); do printf 'REC%05d\r\n' "$i"; done >"$C/D.TXT"
printf 'FIELDS 8\r\n' >"$C/D.FLD"
net_sim stop-send "$RFC" --answer-delay 200 || true
ORVW_LOG=$C/orvw.log
(cd "$C" && exec timeout 60 "$ORVW" --verbose -V --device="$PTY" -L60 D.TXT >"$ORVW_LOG" 2>&1) &
ORVW_PID=$!
stop_mid_session stop-send
sim_finish "$SIM_LOG" 1
check "server stopped while sending: 52 at once, the reason names the server" \
    is rc "$RC" 52 -- at_most "ms after the stop" "$STOP_MS" 5000 -- \
    has_line "$ORVW_LOG" "reason: .*127\.0\.0\.1:$S2N_RFC"

s2n_start same || { fail "ser2net starts again" "$(tail -c 300 "$S2N_LOG")"; finish; }
C=$WORK/stop-recv-pc; mkdir -p "$C"
printf 'KEEP ME\r\n' >"$C/D.TXT"
cp "$C/D.TXT" "$WORK/keep"
net_sim stop-recv "$RFC" --send-records 40 --widths 5,3 --send-name D.TXT --answer-delay 200 || true
ORVW_LOG=$C/orvw.log
(cd "$C" && exec timeout 60 "$ORVW" --verbose -V --device="$PTY" +R -L60 D.TXT >"$ORVW_LOG" 2>&1) &
ORVW_PID=$!
stop_mid_session stop-recv
sim_finish "$SIM_LOG" 1
check "server stopped while receiving: 51 at once, the user's file as it was, no partial file" \
    is rc "$RC" 51 -- at_most "ms after the stop" "$STOP_MS" 5000 -- \
    same_file "$C/D.TXT" "$WORK/keep" -- only_files "$C" D.TXT

# ---- a collecting station whose server restarts ------------------------------

# The first terminal's file is stored; the station then waits on an open
# connection in front of a terminal that keeps silent; the server goes (a
# port failure: the station pauses and tries again) and comes back with
# the third terminal behind it, whose file is stored.
. "$(dirname "$0")/station_lib.sh"
s2n_start same || { fail "ser2net starts again" "$(tail -c 300 "$S2N_LOG")"; finish; }
S=$WORK/station
CTX_LOG=$S/collect.log
check_context() { echo "rc=$RC; log: $(tail -c 600 "$CTX_LOG" 2>/dev/null)"; }
terminal 1 st1 --send-records 3 --widths 5,3 --send-name DATA.TXT
terminal 2 st2 --send-records 1 --widths 4 --fault-silent --timeout 60
terminal 3 st3 --send-records 4 --widths 5,3 --send-name DATA.TXT --timeout 60
# The server, not the station, holds these ptys: the terminals go at once.
release 1
release 2
release 3
s2n_line "${T_PTY[1]}"
station_start net "$S" "$RFC" --station=cradle
wait_opened "$S2N_PID" "${T_PTY[1]}" "${T_PID[1]}" || true
s2n_line "${T_PTY[2]}"
wait_lines "$S/collect.log" 1 '"stored":"' || true
wait_opened "$S2N_PID" "${T_PTY[2]}" "${T_PID[2]}" || true
# A second station for the same network port, started from another
# folder, is refused: the port's lock is taken by its address.
mkdir -p "$WORK/elsewhere"
RC=0
(cd "$WORK/elsewhere" && timeout 10 "$ORVW" --collect "$WORK/station2" --device="$RFC" --station=other -V \
    >"$WORK/station2.out" 2>&1) || RC=$?
check "station on rfc2217: a second station for the same address exits 64" \
    is status "$RC" 64 -- has_line "$WORK/station2.out" 'orvw-port-rfc2217:%%127\.0\.0\.1:'"$S2N_RFC"'\.lock'
s2n_stop
wait_lines "$S/collect.log" 2 || true
s2n_line "${T_PTY[3]}"
s2n_start same || fail "ser2net starts again" "$(tail -c 300 "$S2N_LOG")"
wait_lines "$S/collect.log" 1 '"records":4' || true
station_stop net
finish_terminal 1
check "station on rfc2217: the first file stored" \
    same_file "$(line_field "$S/collect.log" 1 stored)" "${T_DIR[1]}/DATA.TXT"
finish_terminal 3
check "station on rfc2217: the server's going is a port failure (51), the station goes on" \
    is result "$(line_field "$S/collect.log" 2 result)" 51 -- is "station's status" "$RC" 0
check "station on rfc2217: after the restart the next file is stored" \
    same_file "$(field_of "$S/collect.log" '"records":4' stored)" "${T_DIR[3]}/DATA.TXT"

finish
