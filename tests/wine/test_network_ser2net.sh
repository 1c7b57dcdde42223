# Network ports under Wine (sourced by scripts/test-wine.sh once per build;
# see tests/wine/lib.sh): orvw.exe -P7 reaches the terminal simulator
# through ser2net on the loopback address because ORV5_COM7 holds an
# rfc2217:// URL; a file goes each way and arrives as sent.  The server and
# its harness are those of the native tests (tests/e2e/ser2net_lib.sh).

NET_COM=7

# net_wine_orvw ARGS...: orvw.exe -P$NET_COM with ORV5_COM$NET_COM naming
# the server's RFC 2217 accepter in its environment; HOST_LOG its output,
# RC its status.
net_wine_orvw() {
    HOST_LOG=$CASE_DIR/orvw.log
    export "ORV5_COM$NET_COM=rfc2217://127.0.0.1:$S2N_RFC"
    run_wine "$HOST_LOG" "$ORVW" "-P$NET_COM" "$@"
    unset "ORV5_COM$NET_COM"
}

if ! command -v ser2net >/dev/null 2>&1; then
    skip "$ARCH: network ports through ser2net" "ser2net is not installed (scripts/setup-debian.sh installs it)"
elif ! grep -aq 'rfc2217://' "$DLL"; then
    skip "$ARCH: network ports through ser2net" "this build of Orv5w32.dll has no network ports"
else
    WORK=$WINE_OUT/work/$ARCH/net
    mkdir -p "$WORK"
    # ser2net is a native program: the 64-bit shim gives its pty modem lines.
    S2N_SHIM=$SHIM/lib/x86_64-linux-gnu/ptyshim.so
    # The server opens the tty at 9600 bit/s: 19200 there comes from the
    # session, over RFC 2217.
    S2N_LINE_SETTINGS=9600n81,local
    . "$ROOT/tests/e2e/ser2net_lib.sh"
    if ! s2n_start; then
        fail "$ARCH: ser2net starts" "$(tail -c 300 "$S2N_LOG")"
    else
        # orvw.exe sends a data file through the server.
        new_case s2n-send; make_data 6
        net_sim s2n-send "rfc2217://127.0.0.1:$S2N_RFC" && net_wine_orvw -B19200 +V0 DATA.TXT
        stop_sim
        check "$ARCH: network: orvw.exe -P$NET_COM sends through ORV5_COM$NET_COM=rfc2217://..., exit 0" \
            is rc "$RC" 0 -- is status "$(json status)" ok -- is written "$(json written)" 6 -- \
            same_file "$SIM_DIR/DATA.TXT" "$CASE_DIR/DATA.TXT"
        check "$ARCH: network: the session set 19200 bit/s at the server's tty" \
            is "changes from 9600 to 19200" "$(s2n_events s2n-send | grep -c '^speed 9600 19200$' || true)" 1

        # orvw.exe receives a data file through the server.
        new_case s2n-recv
        net_sim s2n-recv "rfc2217://127.0.0.1:$S2N_RFC" --send-records 5 --widths 5,3 \
            --send-name DATA.TXT --reply-timeout 700 --retries 2 &&
            net_wine_orvw -B19200 +R +V0 DATA.TXT
        stop_sim
        check "$ARCH: network: orvw.exe -P$NET_COM +R receives through ORV5_COM$NET_COM, exit 0, byte-identical" \
            is rc "$RC" 0 -- is status "$(json status)" ok -- \
            same_file "$CASE_DIR/DATA.TXT" "$SIM_DIR/DATA.TXT"
        s2n_stop
    fi
fi
