# Cases without a visible window (sourced by scripts/test-wine.sh once per
# build; see tests/wine/lib.sh): the test host's port-free suite, then
# sessions on COM5 against the terminal simulator.

# The hidden owner window of the nested cases needs a display too.
new_case display
start_display

# Port-free checks of the exports: each line of the suite is one test.
new_case suite
host suite
while IFS= read -r line; do
    case $line in
        "ok - "*) pass "$ARCH: ${line#ok - }" ;;
        "not ok - "*) fail "$ARCH: ${line#not ok - }" ;;
    esac
done <"$HOST_LOG"
check "$ARCH: suite ran to the end" has_line "$HOST_LOG" "passed, .* failed"
host version
check "$ARCH: GetOrv5DllVersion through the host" \
    is rc "$RC" 0 -- is version "$(hostval version)" 1.01S

# A whole sending session on COM5; an idle abort just before must not
# reach it.
new_case session; make_data 3
start_sim session && host abort-idle "-P$COM -B9600 +V0 DATA.TXT"; stop_sim
check "$ARCH: session sends 3 records, result 0" \
    is rc "$RC" 0 -- is abort "$(hostval abort)" 0 -- is name "$(hostval name)" DATA.TXT
check "$ARCH: terminal received the file intact" \
    is status "$(json status)" ok -- is widths "$(json widths)" "[4,6]" -- \
    is written "$(json written)" 3 -- same_file "$SIM_DIR/DATA.TXT" "$CASE_DIR/DATA.TXT"

# The command-line front end: its exit status is the result code.  On
# COM10, which Windows opens only by its device-namespace name.
new_case orvw
printf 'LINE ONE\r\nLINE TWO\r\n' >"$CASE_DIR/APP.PD3"
if SIM_COM=10 start_sim orvw; then
    HOST_LOG=$CASE_DIR/orvw.log
    run_wine "$HOST_LOG" "$ORVW" -P10 -B19200 +V0 APP.PD3
fi
stop_sim
check "$ARCH: orvw.exe sends a program file on COM10, exit 0" \
    is rc "$RC" 0 -- is status "$(json status)" ok -- is type "$(json type)" 1 -- \
    is written "$(json written)" 2

# AbortOrv5 from a second thread while the terminal is silent.
new_case abort; make_data 5
start_sim abort --silent-from 2 && host abort-after 1500 "-P$COM +V0 DATA.TXT"; stop_sim
check "$ARCH: AbortOrv5 from another thread: 60, session 90" \
    is rc "$RC" 90 -- is abort "$(hostval abort)" 60
check "$ARCH: the aborted terminal was told EOT" is eot_seen "$(json eot_seen)" true

# An abort delivered by the library's first pump, before the transfer: 90
# without a byte on the line (the terminal gives up after 2 s).
new_case abort-first; make_data 3
start_sim abort-first --timeout 2 && host abort-first "-P$COM DATA.TXT"; stop_sim
check "$ARCH: abort before the transfer: 90, no protocol traffic" \
    is rc "$RC" 90 -- is abort "$(hostval abort)" 60 -- is bytes_in "$(json bytes_in)" 0

# ExecOrv5 from the owner's window procedure during a sending session:
# refused with 60, the session itself completes.
new_case nested-send; make_data 4
start_sim nested-send --baud 1200 && host nested "-P$COM -B1200 +V0 DATA.TXT"; stop_sim
check "$ARCH: nested ExecOrv5 while sending gives 60, session 0" \
    is rc "$RC" 0 -- is nested "$(hostval nested)" 60 -- is written "$(json written)" 4

stop_display
