# The progress window under a fresh Xvfb per case (sourced by
# scripts/test-wine.sh once per build; see tests/wine/lib.sh): counter
# style, bar style, a click on Abort.  Screenshots go to build/artifacts/.

# x_window_position: where the X server has the progress window, "X,Y".
x_window_position() {
    local wid
    wid=$(xdotool search --onlyvisible --name '^ZDX-Ir  Sending$' 2>/dev/null | head -1)
    [ -n "$wid" ] && xdotool getwindowgeometry "$wid" | sed -n 's/^ *Position: \([0-9-]*,[0-9-]*\).*/\1/p'
}

# counter_counts_up: the first sample shows 00000 / 00000, later ones count
# up to 00008 / 00008 through some count between, and every sample shows a
# counter.
counter_counts_up() {
    local first
    first=$(grep -m1 '^window' "$HOST_LOG")
    if [[ $first != *'counter="00000 / 00000"'* ]]; then
        WHY="first sample: $first"
        return 1
    fi
    if ! grep -qE 'counter="0000[1-7] / 00008"' "$HOST_LOG"; then
        WHY="no count between 00001 and 00007"
        return 1
    fi
    if ! grep -q 'counter="00008 / 00008"' "$HOST_LOG"; then
        WHY="never 00008 / 00008"
        return 1
    fi
    if grep '^window' "$HOST_LOG" | grep -vqE 'counter="[0-9]{5} / [0-9]{5}"'; then
        WHY="a sample without a counter"
        return 1
    fi
}

# Counter style at 1200 bit/s, placed at (100, 50).  The terminal thinks
# 200 ms before each answer, so every count, the last one too, stays up for
# several of the host's 50 ms samples.
new_case gui-counter; make_data 8
start_display
XGEOM=
if start_sim gui-counter --baud 1200 --answer-delay 200; then
    host_bg watch 50 "-P$COM -B1200 -X100 -Y50 DATA.TXT"
    wait_for 'counter="0000[3-7] / 00008"' && shot counter
    XGEOM=$(x_window_position)
    host_wait
fi
stop_sim
keep counter
stop_display
check "$ARCH: counter window: session 0" is rc "$RC" 0 -- is written "$(json written)" 8
check "$ARCH: counter window: title, name, position (100, 50)" \
    has_line "$HOST_LOG" '^window title="ZDX-Ir  Sending" x=100 y=50 name="DATA.TXT"'
check "$ARCH: counter window: starts at 00000 / 00000, counts up to 00008 / 00008" \
    counter_counts_up
check "$ARCH: counter window: screenshot" nonempty "$ARTIFACTS/wine-$ARCH-counter.png"
check "$ARCH: counter window: the X server has it at (100, 50) too" \
    is "X position" "$XGEOM" 100,50

# Bar style: the filled part of the bar grows with the records.
new_case gui-bar; make_data 8
start_display
if start_sim gui-bar --baud 1200 --answer-delay 200; then
    host_bg watch 50 "-P$COM -B1200 +V2 DATA.TXT"
    wait_for 'bar=[1-9][0-9]*/' && sleep 0.5 && shot bar
    host_wait
fi
stop_sim
keep bar
stop_display
check "$ARCH: bar window: session 0" is rc "$RC" 0 -- is written "$(json written)" 8
check "$ARCH: bar window: title and name, no counter" \
    has_line "$HOST_LOG" '^window title="ZDX-Ir  Sending" .* name="DATA.TXT" counter="-"'
check "$ARCH: bar window: the bar fills record by record" bar_fills 8
check "$ARCH: bar window: screenshot" nonempty "$ARTIFACTS/wine-$ARCH-bar.png"

# A mouse click on Abort while the terminal is silent ends the session.
new_case gui-abort; make_data 5
start_display
if start_sim gui-abort --silent-from 2; then
    host_bg watch 100 "-P$COM DATA.TXT"
    if wait_for '^button ' && wait_for 'counter="00001 / 00005"'; then
        shot abort
        # The button's centre relative to the window, both as Win32 reports
        # them; the click goes to the window the X server finds.
        win=$(grep -m1 '^window ' "$HOST_LOG")
        but=$(grep -m1 '^button ' "$HOST_LOG")
        bx=$(( $(field x "$but") - $(field x "$win") ))
        by=$(( $(field y "$but") - $(field y "$win") ))
        wid=$(xdotool search --onlyvisible --name '^ZDX-Ir  Sending$' 2>/dev/null | head -1)
        [ -n "$wid" ] && xdotool mousemove --window "$wid" "$bx" "$by" click 1
    fi
    host_wait
fi
stop_sim
keep abort
stop_display
check "$ARCH: Abort button click ends the session with 90" is rc "$RC" 90
check "$ARCH: Abort button click: the terminal was told EOT" is eot_seen "$(json eot_seen)" true
