# The Win32 platform layer on its own (sourced by scripts/test-wine.sh once
# per build; see tests/wine/lib.sh): orv5_win_platform_check.exe checks the
# timer and the pump, the progress dialogs (under a fresh Xvfb), plug-in
# loading, paths and drives, the file layer, and a serial port: COM5, the
# simulator's pty.  Every check that fails prints a FAIL line with its
# source line; the program ends with "OK: 0 failure(s)" and status 0.

new_case platform
start_display
RC=
if start_sim platform; then
    run_wine "$CASE_DIR/check.log" "$BUILD_DIR/bin/orv5_win_platform_check.exe" "$COM"
fi
stop_sim
stop_display
HOST_LOG=$CASE_DIR/check.log
check "$ARCH: platform layer on its own: every check holds" \
    is rc "$RC" 0 -- has_line "$HOST_LOG" '^OK: 0 failure'
