# Network ports from a Windows host (sourced by scripts/test-wine.sh once
# per build; see tests/wine/lib.sh).  ORV5_COM5 in the environment holds
# the address of the fake serial device server: orvw.exe -P5 reaches it,
# sets the line and sends the terminal its enquiry.  No terminal answers
# there, so the session ends with 52; what counts is what the server got.

FAKE_SERVER=$NATIVE_DIR/bin/orv5_fake_rfc2217

# net_session SERVER-ARGS -- ORVW-ARGS...: the server started, orvw.exe run
# with ORV5_COM5 naming it; RC, HOST_LOG, and the server's log in
# $CASE_DIR/server.log once it ended.
net_session() {
    local args=() pid i port
    while [ "$1" != -- ]; do args+=("$1"); shift; done
    shift
    rm -f "$CASE_DIR/port" "$CASE_DIR/server.log"
    "$FAKE_SERVER" "${args[@]}" "$CASE_DIR/port" "$CASE_DIR/server.log" &
    pid=$!
    BG_PIDS+=("$pid")
    for i in $(seq 50); do [ -s "$CASE_DIR/port" ] && break; sleep 0.1; done
    port=$(cat "$CASE_DIR/port" 2>/dev/null)
    HOST_LOG=$CASE_DIR/orvw.log
    RC=0
    ORV5_COM5="rfc2217://127.0.0.1:$port" wine_in_case "$HOST_LOG" "$ORVW" -P5 +V0 --verbose "$@" ||
        RC=$?
    wait "$pid" 2>/dev/null
}

if [ ! -x "$FAKE_SERVER" ]; then
    fail "$ARCH: network port checks" "$FAKE_SERVER missing: cmake --build --preset native"
else
    new_case net-send
    make_data 3
    net_session -- -B19200 -L1 DATA.TXT
    check "$ARCH: ORV5_COM5 with an rfc2217 address reaches the server at the session's speed" \
        is rc "$RC" 52 -- has_line "$CASE_DIR/server.log" "command 1 00004b00" \
        -- has_line "$CASE_DIR/server.log" "data 10 05"

    # --trace-telnet: the library reads ORV5_TRACE_TELNET from the process
    # environment and adds the socket's bursts to the byte trace's file,
    # through a stream of its own, lines whole.
    new_case net-trace-telnet
    make_data 3
    net_session -- -B19200 -L1 --trace=line.trace --trace-telnet DATA.TXT
    check "$ARCH: --trace-telnet: the negotiation and the socket's bursts beside the byte trace" \
        is rc "$RC" 52 -- has_line "$CASE_DIR/line.trace" "^# socket trace of rfc2217://127.0.0.1:" \
        -- has_line "$CASE_DIR/line.trace" "^ +[0-9]+ NT FF FB 00 FF FD 00 FF FB 03 FF FD 03 FF FB 2C  \\|" \
        -- has_line "$CASE_DIR/line.trace" "^ +[0-9]+ -- telnet: SET-BAUDRATE 19200 acknowledged" \
        -- has_line "$CASE_DIR/line.trace" "^# byte trace of COM5" \
        -- has_line "$CASE_DIR/line.trace" "^ +[0-9]+ NT 10 05 00 00  \\|" \
        -- has_line "$CASE_DIR/line.trace" "^ +[0-9]+ TX 10 05 00 00  \\|" \
        -- has_line "$CASE_DIR/line.trace" "^ +[0-9]+ -- telnet: socket closed" \
        -- is "other lines" "$(grep -c -v -E '^(# |( +[0-9]+ (NT|NR|TX|RX|--) ))' "$CASE_DIR/line.trace")" 0

    new_case net-refused-speed
    make_data 3
    net_session --refuse-speed=9600 -- -B19200 -L1 DATA.TXT
    check "$ARCH: a speed the server refuses is 9 with its answer" \
        is rc "$RC" 9 -- has_line "$HOST_LOG.err" "9600"
fi

# Without a network address in ORV5_COMn the port stays COMn; an address
# where nobody listens is 75 naming it.
new_case net-names
make_data 1
HOST_LOG=$CASE_DIR/orvw.log
RC=0
ORV5_COM7=/dev/null wine_in_case "$HOST_LOG" "$ORVW" -P7 +V0 --verbose DATA.TXT || RC=$?
check "$ARCH: ORV5_COM7 holding no network address leaves COM7" \
    is rc "$RC" 75 -- has_line "$HOST_LOG.err" "reason: COM7"
RC=0
ORV5_COM7=tcp://127.0.0.1:1 wine_in_case "$HOST_LOG" "$ORVW" -P7 +V0 --verbose DATA.TXT || RC=$?
check "$ARCH: a network port where nobody listens is 75 naming it" \
    is rc "$RC" 75 -- has_line "$HOST_LOG.err" "reason: tcp://127.0.0.1:1"
