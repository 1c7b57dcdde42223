# The Windows adapter plug-ins (sourced by scripts/test-wine.sh once per
# build; see tests/wine/lib.sh).  With the modem-line shim preloaded, which
# logs every line, speed and write event:
#   - every speed of every plug-in's table, and speeds outside it, checked
#     step by step from the shim's log (adapter_line_check verify);
#   - the device names, and GetDllVersion with a null buffer;
#   - ExecOrv5 results 80, 81, 82, 52 and the plug-in unloaded afterwards,
#     including a planted library of a bare name in the current folder;
#   - one whole sending session per plug-in, orvw.exe +I against zdxsim;
#   - orvw.exe --adapter-info and the plug-in list of --help.
# The adapter at the far end of COM5 is a pty held open by
# adapter_line_check (native build) that swallows what is sent, or the
# terminal simulator for whole sessions.

ADAPTER_MODELS="Orv5EESI Orv5AIRM Orv5KKCI Orv5FMIR"
ADAPTER_CHECK=$NATIVE_DIR/bin/adapter_line_check
ADAPTER_HOST=$BUILD_DIR/bin/orv5_adapter_host.exe
ADAPTER_PLUGINS=$BUILD_DIR/tests/windows/adapters/plugins
HOLD_PID=

adapter_winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# adapter_speeds MODEL: the speeds tried, those of the table first.
adapter_speeds() {
    case $1 in
        Orv5EESI) echo "9600 19200 115200 2400 38400 57600" ;;
        *) echo "2400 9600 19200 38400 57600 115200 1200 4800" ;;
    esac
}

# adapter_programs_built: the host, the test plug-ins and the log checker.
adapter_programs_built() {
    local f
    for f in "$ADAPTER_CHECK" "$ADAPTER_HOST" "$ADAPTER_PLUGINS/failing.dll" \
        "$ADAPTER_PLUGINS/noinit.dll"; do
        [ -f "$f" ] || { WHY="$f missing"; return 1; }
    done
}

# hold_port: COM$COM linked to a pty whose far end swallows what is sent.
hold_port() {
    local log=$WINE_OUT/work/$ARCH/hold.log i
    mkdir -p "$(dirname "$log")"
    "$ADAPTER_CHECK" hold >"$log" 2>&1 &
    HOLD_PID=$!
    BG_PIDS+=("$HOLD_PID")
    PTY=
    for i in $(seq 100); do
        PTY=$(awk '/^PTY /{print $2; exit}' "$log" 2>/dev/null)
        [ -n "$PTY" ] && break
        kill -0 "$HOLD_PID" 2>/dev/null || break
        sleep 0.05
    done
    [ -n "$PTY" ] || { WHY="adapter_line_check hold: $(head -c 200 "$log")"; return 1; }
    ln -sfn "$PTY" "$WINEPREFIX/dosdevices/com$COM"
}

# release_port: the held pty closed and its link removed.
release_port() {
    [ -n "$HOLD_PID" ] && kill "$HOLD_PID" 2>/dev/null
    [ -n "$HOLD_PID" ] && wait "$HOLD_PID" 2>/dev/null
    HOLD_PID=
    rm -f "$WINEPREFIX/dosdevices/com$COM"
}

# adapter_host ARGS...: the adapter host in CASE_DIR with the shim logging
# into CASE_DIR/lines.log; sets RC and HOST_LOG.
adapter_host() {
    HOST_LOG=$CASE_DIR/host.log
    PTYSHIM_LOG=$CASE_DIR/lines.log run_wine "$HOST_LOG" "$ADAPTER_HOST" "$@"
}

# line_log_ok MODEL LOG LINE: the InitIrDevice call that LINE of the host
# reports ("case label=S rc=R baud=B rts=r dtr=d") did on the line what
# MODEL must at speed S, as the shim's LOG recorded it.
line_log_ok() {
    local label faults
    label=$(field label "$3")
    if faults=$("$ADAPTER_CHECK" verify "$1" "$label" "$2" "$label" "$(field rc "$3")" \
        "$(field baud "$3")" "$(field rts "$3")" "$(field dtr "$3")"); then
        return 0
    fi
    WHY=${faults//$'\n'/; }
    return 1
}

# Every speed of each table, and some outside it.
adapter_speed_cases() {
    local model line tried
    for model in $ADAPTER_MODELS; do
        new_case "speeds-$model"
        adapter_host init "COM$COM" "$(adapter_winpath "$BUILD_DIR/bin/$model.dll")" \
            "$(adapter_winpath "$CASE_DIR/lines.log")" $(adapter_speeds "$model")
        while IFS= read -r line; do
            check "$ARCH: $model at $(field label "$line") bit/s" \
                line_log_ok "$model" "$CASE_DIR/lines.log" "$line"
        done < <(tr -d '\r' <"$HOST_LOG" | grep '^case ')
        tried=$(grep -c '^case ' "$HOST_LOG")
        check "$ARCH: $model: every speed was tried" \
            is rc "$RC" 0 -- is speeds "$tried" "$(adapter_speeds "$model" | wc -w)"
    done
}

# Device names, exact, and a null buffer.
adapter_name_cases() {
    local pair model name
    for pair in "Orv5EESI:Extended Systems  ESI-9680" "Orv5AIRM:Alps  Ir MultiStation" \
        "Orv5KKCI:Kansai  KC-IR1" "Orv5FMIR:Fujitsu FMIR-102"; do
        model=${pair%%:*}
        name=${pair#*:}
        new_case "name-$model"
        adapter_host name "$(adapter_winpath "$BUILD_DIR/bin/$model.dll")"
        check "$ARCH: $model names \"$name\"; a null buffer gives null" \
            is rc "$RC" 0 -- is name "$(hostval name)" "$name" -- \
            is "same buffer" "$(hostval same)" 1 -- is "null buffer" "$(hostval null)" 1
    done
}

# adapter_session PLUGIN-MODULE OPTIONS: ExecOrv5 on the held port with
# OPTIONS; RC is its result, LOADED 1 when PLUGIN-MODULE stayed loaded.
adapter_session() {
    adapter_host session "$DLL_WIN" "$1" "-P$COM +V0 +F4 $2 DATA.TXT"
    RC=$(hostval rc)
    LOADED=$(hostval loaded)
}

# session_result CODE: ExecOrv5 gave CODE and the plug-in was unloaded.
session_result() {
    is rc "$RC" "$1" && is "plug-in still loaded" "$LOADED" 0
}

# ExecOrv5's results; the plug-in is unloaded after every session.  A
# library of a bare name in the current folder is never run.
adapter_result_cases() {
    new_case results
    cp "$ADAPTER_PLUGINS/failing.dll" "$CASE_DIR/Planted.dll"
    printf 'R001\r\n' >"$CASE_DIR/DATA.TXT"
    adapter_session noinit.dll "+I$(adapter_winpath "$ADAPTER_PLUGINS/noinit.dll")"
    check "$ARCH: no InitIrDevice: 81, unloaded" session_result 81
    adapter_session failing.dll "+I$(adapter_winpath "$ADAPTER_PLUGINS/failing.dll")"
    check "$ARCH: failing plug-in: 80, unloaded" session_result 80
    adapter_session Orv5EESI.dll "+IOrv5EESI -B38400"
    check "$ARCH: unsupported speed: 82, unloaded" session_result 82
    adapter_session Planted.dll "+IPlanted"
    check "$ARCH: a planted library in the current folder is not run: 81" session_result 81
    adapter_session Orv5KKCI.dll "+IOrv5KKCI -L1"
    check "$ARCH: a ready adapter, then no terminal: 52, unloaded" session_result 52
    PTYSHIM_FAIL_WRITES=1 adapter_session Orv5AIRM.dll "+IOrv5AIRM -B19200"
    check "$ARCH: the command byte cannot be written: 80" session_result 80
}

# One whole session per plug-in against the terminal simulator.
adapter_send_cases() {
    local pair model baud
    for pair in Orv5EESI:115200 Orv5AIRM:19200 Orv5KKCI:57600 Orv5FMIR:2400; do
        model=${pair%%:*}
        baud=${pair#*:}
        new_case "send-$model"
        make_data 2
        HOST_LOG=$CASE_DIR/orvw.log
        RC=
        start_sim "send-$model" &&
            run_wine "$HOST_LOG" "$ORVW" "-P$COM" "-B$baud" +V0 "+I$model" DATA.TXT
        stop_sim
        check "$ARCH: orvw.exe +I$model at $baud sends the file" \
            is rc "$RC" 0 -- is status "$(json status)" ok -- is written "$(json written)" 2 -- \
            same_file "$SIM_DIR/DATA.TXT" "$CASE_DIR/DATA.TXT"
    done
    rm -f "$WINEPREFIX/dosdevices/com$COM"
}

# help_lists_only_plugins FILE: the four plug-ins in orvw's --help list,
# and no other library of orvw's folder.
help_lists_only_plugins() {
    local listed
    listed=$(grep -cE '^  Orv5(EESI|AIRM|KKCI|FMIR)  ' "$1")
    is "plug-in lines" "$listed" 4 || return 1
    if grep -qiE '^  (Orv5w32|failing|noinit) ' "$1"; then
        WHY="a library that is no plug-in is listed: $(grep -iE '^  (Orv5w32|failing|noinit) ' "$1" | head -1)"
        return 1
    fi
}

# orvw.exe tells which adapter a plug-in serves, and lists the plug-ins.
adapter_cli_cases() {
    new_case cli
    HOST_LOG=$CASE_DIR/info.log
    run_wine "$HOST_LOG" "$ORVW" --adapter-info=Orv5FMIR
    check "$ARCH: orvw.exe --adapter-info" \
        is rc "$RC" 0 -- is "device name" "$(tr -d '\r' <"$HOST_LOG")" "Fujitsu FMIR-102"
    HOST_LOG=$CASE_DIR/help.log
    run_wine "$HOST_LOG" "$ORVW" --help
    tr -d '\r' <"$HOST_LOG" >"$CASE_DIR/help.txt"
    check "$ARCH: orvw.exe --help lists the four plug-ins, nothing else" \
        help_lists_only_plugins "$CASE_DIR/help.txt"
}

new_case adapters
check "$ARCH: adapter test programs built" adapter_programs_built
if adapter_programs_built; then
    check "$ARCH: COM$COM held for the plug-ins" hold_port
    adapter_speed_cases
    adapter_name_cases
    adapter_result_cases
    release_port
    adapter_send_cases
    adapter_cli_cases
fi
