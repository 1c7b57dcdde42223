# ser2net_lib.sh - a serial device server (ser2net) in front of the terminal
# simulator, for the network-port tests; sourced after e2e_lib.sh.
#
# One ser2net per test script listens on the loopback address with two
# accepters in front of the same device:
#
#   rfc2217://127.0.0.1:$S2N_RFC   telnet with the com-port option (RFC 2217)
#   tcp://127.0.0.1:$S2N_RAW       raw bytes, the line set by the server
#
# The device is a symbolic link, $S2N_LINE, that each case points at the
# pty of a fresh zdxsim (s2n_line).  ser2net opens the device when a client
# connects and closes it when the client leaves, so one server serves every
# case of a script.
#
# A pty has no modem lines, so ser2net runs with the modem-line shim
# preloaded: it answers ser2net's modem-line requests and logs every speed,
# line and write event on the pty to $S2N_LINES (tests/wine/ptyshim.c
# describes the lines).  s2n_mark puts a line of the script's own there, so
# that s2n_events can cut out what one case did.

# The shim preloaded into ser2net.  Unless the caller names one, it is
# built here from its source with the plain compiler: the build's own copy
# carries the sanitizers in the sanitizer build, which ser2net cannot load.
S2N_SHIM_SRC=$(dirname "${BASH_SOURCE[0]}")/../wine/ptyshim.c
S2N_SHIM=${S2N_SHIM:-}
S2N_LINE=$WORK/line
S2N_LINES=$WORK/ser2net-lines.log
S2N_CONF=$WORK/ser2net.yaml
S2N_LOG=$WORK/ser2net.log
S2N_PID=
S2N_RFC=
S2N_RAW=
# Baud rate, framing and modem-line handling of the pty when a client
# opens it; RFC 2217 clients change the first two.
S2N_LINE_SETTINGS=${S2N_LINE_SETTINGS:-19200n81,local}

# s2n_require: ser2net and the shim are there, or the script ends: SKIP
# (status 77, ctest's SKIP_RETURN_CODE) without ser2net, FAIL when the
# shim cannot be built.
s2n_require() {
    if ! command -v ser2net >/dev/null 2>&1; then
        echo "SKIP: ser2net is not installed (scripts/setup-debian.sh installs it); network-port tests not run"
        exit 77
    fi
    if [ -z "$S2N_SHIM" ]; then
        S2N_SHIM=$WORK/ptyshim.so
        if ! cc -O2 -shared -fPIC -o "$S2N_SHIM" "$S2N_SHIM_SRC" -ldl -lpthread >"$WORK/shim.log" 2>&1; then
            echo "FAIL: the modem-line shim does not build: $(head -c 300 "$WORK/shim.log")"
            exit 1
        fi
    fi
    if [ ! -f "$S2N_SHIM" ]; then
        echo "FAIL: the modem-line shim $S2N_SHIM is missing"
        exit 1
    fi
}

# port_in_use PORT: some socket on this machine is bound to TCP PORT.
port_in_use() {
    local hex
    hex=$(printf '%04X' "$1")
    awk -v p=":$hex" 'NR > 1 && substr($2, length($2) - 4) == p { found = 1 } END { exit !found }' \
        /proc/net/tcp /proc/net/tcp6 2>/dev/null
}

# listening PORT: a socket listens on TCP PORT of 127.0.0.1.
listening() {
    local hex
    hex=$(printf '0100007F:%04X' "$1")
    awk -v a="$hex" 'NR > 1 && $2 == a && $4 == "0A" { found = 1 } END { exit !found }' /proc/net/tcp
}

# free_port: a TCP port nobody uses now, from the range above the
# ephemeral ports that outgoing connections take.
free_port() {
    local p i
    for i in $(seq 200); do
        p=$((20000 + RANDOM % 12000))
        port_in_use "$p" || { echo "$p"; return 0; }
    done
    return 1
}

# s2n_config: the configuration for the two accepters on $S2N_RFC and
# $S2N_RAW, as README.md recommends for a cradle: nodelay and chardelay:
# false send each answer at once (else the server waits a few ms after
# each byte from the tty for more, and a small segment may wait for the
# acknowledgement of the one before); kickolduser lets a client that
# lost its connection in again at once (the old one may not have been
# seen to go yet).
s2n_config() {
    cat >"$S2N_CONF" <<EOF
%YAML 1.1
---
connection: &cradle-rfc2217
  accepter: telnet(rfc2217),tcp(nodelay),127.0.0.1,$S2N_RFC
  connector: serialdev,$S2N_LINE,$S2N_LINE_SETTINGS
  options:
    kickolduser: true
    chardelay: false
    mdns: false

connection: &cradle-raw
  accepter: tcp(nodelay),127.0.0.1,$S2N_RAW
  connector: serialdev,$S2N_LINE,$S2N_LINE_SETTINGS
  options:
    kickolduser: true
    chardelay: false
    mdns: false
EOF
}

# s2n_start [same]: ser2net in the foreground (-n -d: no daemon, its log on
# stdout instead of syslog; -u: no UUCP lock files), with the shim.  New
# free ports unless "same" is given (a restart on the ports the clients
# know).  Sets S2N_PID; 1 when it did not come up.
s2n_start() {
    local try i
    for try in 1 2 3 4 5; do
        if [ "${1:-}" != same ] || [ -z "$S2N_RFC" ]; then
            S2N_RFC=$(free_port) && S2N_RAW=$(free_port) || return 1
            [ "$S2N_RFC" != "$S2N_RAW" ] || continue
        fi
        s2n_config
        PTYSHIM_LOG=$S2N_LINES LD_PRELOAD=$S2N_SHIM \
            ser2net -n -d -u -c "$S2N_CONF" -P "$WORK/ser2net.pid" >>"$S2N_LOG" 2>&1 </dev/null &
        S2N_PID=$!
        BG_PIDS+=("$S2N_PID")
        for i in $(seq 200); do
            listening "$S2N_RFC" && listening "$S2N_RAW" && return 0
            kill -0 "$S2N_PID" 2>/dev/null || break
            sleep 0.05
        done
        # A port taken meanwhile (or, on a restart, not yet free again).
        kill "$S2N_PID" 2>/dev/null || true
        wait "$S2N_PID" 2>/dev/null || true
        [ "${1:-}" = same ] && sleep 0.5
    done
    echo "ser2net did not start: $(tail -c 400 "$S2N_LOG")"
    return 1
}

# s2n_stop: ser2net ends (SIGTERM; SIGKILL after 5 s).
s2n_stop() {
    local i
    [ -n "$S2N_PID" ] || return 0
    kill -TERM "$S2N_PID" 2>/dev/null || true
    for i in $(seq 100); do
        kill -0 "$S2N_PID" 2>/dev/null || break
        sleep 0.05
    done
    kill -KILL "$S2N_PID" 2>/dev/null || true
    wait "$S2N_PID" 2>/dev/null || true
    S2N_PID=
}

# s2n_line PTY: the server's device now leads to PTY (for the next client).
s2n_line() {
    ln -sfn "$1" "$S2N_LINE.new"
    mv -T "$S2N_LINE.new" "$S2N_LINE"
}

# s2n_mark CASE: a line "mark CASE" in the shim's log.
s2n_mark() {
    echo "0 0 mark $1" >>"$S2N_LINES"
}

# s2n_events CASE: the shim's lines (without time and descriptor) logged
# after "mark CASE" and before the next mark.
s2n_events() {
    awk -v m="$1" '$3 == "mark" { on = ($4 == m); next } on { $1 = ""; $2 = ""; sub(/^  /, ""); print }' \
        "$S2N_LINES" 2>/dev/null
}

# s2n_written CASE: the bytes ser2net wrote to the pty during CASE, in hex
# without blanks (each write shows at most its first 64 bytes).
s2n_written() {
    s2n_events "$1" | awk '$1 == "write" { printf "%s", $2 }'
}

# trace_bytes FILE DIR: the bytes of direction DIR (TX or RX) in an orvw
# byte trace, in lower-case hex without blanks.
trace_bytes() {
    awk -v d="$2" '$2 == d { for (i = 3; i <= NF && substr($i, 1, 1) != "|"; i++) printf "%s", tolower(substr($i, 1, 2)) }' \
        "$1" 2>/dev/null
}

# net_sim CASE URL [zdxsim options]: a terminal on a fresh pty behind the
# server; PTY becomes URL, so e2e_lib's send runs orvw against the server.
net_sim() {
    local case=$1 url=$2
    shift 2
    s2n_mark "$case"
    start_sim "$case" "$@" || return 1
    SIM_PTY=$PTY
    s2n_line "$PTY"
    PTY=$url
}
