#!/usr/bin/env bash
# Whole sessions with an adapter plug-in: orvw with +I against zdxsim over
# a pseudo-terminal, with the modem-line shim preloaded (a pty has no
# modem lines of its own).  Also: where a bare plug-in name is looked up,
# and the results of plug-ins that cannot help.
# Usage: test_sessions.sh BUILD-DIR PTYSHIM.so TEST-PLUGIN-DIR
set -euo pipefail
SHIM=${2:?usage: $0 BUILD-DIR PTYSHIM.so TEST-PLUGIN-DIR}
TEST_PLUGINS=${3:?usage: $0 BUILD-DIR PTYSHIM.so TEST-PLUGIN-DIR}
. "$(dirname "$0")/../e2e/e2e_lib.sh" "$1"

# shim_send CASE-DIR ORVW-ARGS...: send with the shim in place; sets RC.
shim_send() {
    local dir=$1
    shift
    RC=0
    (cd "$dir" && ASAN_OPTIONS=verify_asan_link_order=0${ASAN_OPTIONS:+:$ASAN_OPTIONS} LD_PRELOAD=$SHIM timeout 120 "$ORVW" --device="$PTY" -V "$@" \
        >"$dir/orvw.log" 2>&1) || RC=$?
}

# new_data CASE: a folder C with a three-record DATA.TXT and its fields;
# RC cleared, so a terminal that did not start fails the check.
new_data() {
    C=$WORK/$1
    RC=
    mkdir -p "$C"
    printf 'R001FIELD1\r\nR002FIELD2\r\nR003FIELD3\r\n' >"$C/DATA.TXT"
    printf 'FIELDS 4,6\r\n' >"$C/DATA.FLD"
}

# session_ok RECORDS SENT-FILE: result 0, and the terminal took RECORDS
# records and kept the same bytes as SENT-FILE.
session_ok() {
    is rc "$RC" 0 && is status "$(json status)" ok && is written "$(json written)" "$1" &&
        same_file "$SIM_DIR/$(basename "$2")" "$2"
}

# adapter_info ARG: orvw --adapter-info=ARG; INFO is what it printed, RC
# its exit status.
adapter_info() {
    RC=0
    INFO=$("$ORVW" --adapter-info="$1" 2>/dev/null) || RC=$?
}

# help_lists_plugins FILE: orvw's --help output names each plug-in with
# its device name, one line each.
help_lists_plugins() {
    has_line "$1" '^  Orv5AIRM   Alps  Ir MultiStation$' &&
        has_line "$1" '^  Orv5EESI   Extended Systems  ESI-9680$' &&
        has_line "$1" '^  Orv5FMIR   Fujitsu FMIR-102$' &&
        has_line "$1" '^  Orv5KKCI   Kansai  KC-IR1$'
}

# Each plug-in by its bare name, at a speed of its table: the adapter is
# set up, then the file goes across intact.  The command bytes meant for
# the adapter reach the terminal's side of the pty too, before the
# enquiry; the terminal ignores them.
for pair in Orv5EESI:19200 Orv5AIRM:115200 Orv5KKCI:2400 Orv5FMIR:57600; do
    model=${pair%%:*}
    speed=${pair#*:}
    new_data "$model"
    start_sim "$model" && shim_send "$C" "+I$model" "-B$speed" DATA.TXT
    wait_sim
    check "$model at $speed: session 0, file intact" session_ok 3 "$C/DATA.TXT"
done

# And receiving: the adapter is set up the same way before the terminal's
# file comes in (its first enquiry may be lost to the set-up; it asks again).
for pair in Orv5EESI:9600 Orv5AIRM:38400 Orv5KKCI:19200 Orv5FMIR:115200; do
    model=${pair%%:*}
    speed=${pair#*:}
    new_data "$model-rx"
    mkdir -p "$C/in"
    SIM_DIR=$C/out
    SIM_LOG=$C/sim.log
    sim_launch_send "$SIM_DIR" "$SIM_LOG" 20 --reply-timeout 300 --send "$C/DATA.TXT" &&
        shim_send "$C/in" "+I$model" "-B$speed" +R DATA.TXT
    wait_sim
    check "$model at $speed: receiving 0, file intact" \
        is rc "$RC" 0 -- is status "$(json status)" ok -- same_file "$C/in/DATA.TXT" "$C/DATA.TXT"
done

# A speed the adapter does not support: 82, nothing on the line.
new_data speed
start_sim speed --timeout 1 && shim_send "$C" +IOrv5EESI -B38400 DATA.TXT
wait_sim
check "Orv5EESI at 38400: 82, the terminal saw nothing" \
    is rc "$RC" 82 -- is bytes_in "$(json bytes_in)" 0

# The command byte cannot be written: 80 at once, not a time-out later.
new_data write-fails
start_sim write-fails --timeout 1 && PTYSHIM_FAIL_WRITES=1 shim_send "$C" +IOrv5KKCI -B9600 DATA.TXT
wait_sim
check "Orv5KKCI whose command write fails: 80" is rc "$RC" 80

# A planted library of the same bare name in the current folder and on
# the library path is never loaded: 81.  Named by a path it is used as
# given (this one fails: 80).
new_data planted
cp "$TEST_PLUGINS/failing.so" "$C/Planted.so"
start_sim planted --timeout 1 && LD_LIBRARY_PATH=$C:$LD_LIBRARY_PATH shim_send "$C" +IPlanted DATA.TXT
wait_sim
check "bare name: a library in the current folder is not run (81)" is rc "$RC" 81
RC=
start_sim planted2 --timeout 1 && shim_send "$C" +I./Planted.so DATA.TXT
wait_sim
check "a name with a path is used as given (80)" is rc "$RC" 80
RC=
start_sim noinit --timeout 1 && shim_send "$C" "+I$TEST_PLUGINS/noinit.so" DATA.TXT
wait_sim
check "a library without InitIrDevice: 81" is rc "$RC" 81

# orvw tells which adapter a plug-in serves, and lists the plug-ins.
SUMMARY=
adapter_info Orv5KKCI
check "--adapter-info by name" is rc "$RC" 0 -- is "device name" "$INFO" "Kansai  KC-IR1"
adapter_info "$BUILD/lib/orv5w32/Orv5EESI.so"
check "--adapter-info by path" \
    is rc "$RC" 0 -- is "device name" "$INFO" "Extended Systems  ESI-9680"
adapter_info NoSuch
check "--adapter-info of a missing plug-in: 81" is rc "$RC" 81
adapter_info "$TEST_PLUGINS/noinit.so"
check "--adapter-info of a library without InitIrDevice: 81" is rc "$RC" 81 -- is output "$INFO" ""
RC=0
"$ORVW" --help >"$WORK/help.txt" 2>&1 || RC=$?
check "--help lists the four plug-ins with their device names" \
    is rc "$RC" 0 -- help_lists_plugins "$WORK/help.txt"

finish
