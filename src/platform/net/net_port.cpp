// net_port.cpp - the network serial port backend, shared by both
// platforms.
//
// The record holds the socket, whether telnet is spoken, the telnet codec
// and the name as reasons show it.  Reads take what the socket holds,
// pass it through the codec (telnet) and hand out the data bytes; the
// codec's answers to the server go out right after.  A connection that
// ended stays ended: every later read and write fails, so the channel's
// port-gone rule ends the session at once.
//
// With the telnet trace on (net_trace.h) every send and receive on the
// socket is traced as it happens, and the negotiation's outcome as notes.
#include "platform/net/net_port.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/net/net_socket.h"
#include "platform/net/net_trace.h"
#include "platform/net/telnet_codec.h"
#include "platform/os_reason.h"
#include "platform/session_clock.h"

namespace {

// "rfc2217://" + a host of NET_HOST_SIZE + brackets + ":65535".
constexpr size_t SHOWN_NAME_SIZE = 10 + NET_HOST_SIZE + 2 + 6 + 1;

// Raw bytes taken from the socket per read: more than the channel's
// buffer, and telnet only ever shrinks them into data.
constexpr uint32_t RAW_CHUNK = 2048;

// Reads of RAW_CHUNK at most that one purge or wait step takes: 32 KiB,
// more than a server holds for a line at any speed a session uses.
constexpr int DROP_ROUNDS = 16;

// Data bytes escaped per send: at most twice as many go out.
constexpr uint32_t SEND_CHUNK = 512;

// A send that makes no progress for this long is given up, ms.
constexpr uint32_t WRITE_STALL_MS = 5000;

// Longest wait at close for what was sent to reach the server, ms, and
// then for the server's end of the stream.
constexpr uint32_t CLOSE_DRAIN_MS = 2000;

// Poll interval of the bounded waits, ms.
constexpr uint32_t STEP_MS = 5;

// A com port command is at most IAC SB 44 cmd, 4 value bytes doubled,
// IAC SE.
constexpr size_t COMMAND_SIZE = 4 + 8 + 2;

const char *const PREFIX_RFC2217 = "rfc2217://";
const char *const PREFIX_TCP = "tcp://";

struct NetPort {
    net_sock sock;
    bool telnet;          // rfc2217://: the codec reads and writes the stream
    bool gone;            // the connection ended; the reason is kept
    bool server_purged;   // the server's input buffer was purged once
    TelnetCodec codec;
    NetTrace *trace;   // null: no telnet trace
    char name[SHOWN_NAME_SIZE];
};

NetPort &net(PlatPort &port) { return plat_port_state<NetPort>(port); }

const NetPort &net(const PlatPort &port) { return plat_port_state<NetPort>(port); }

bool starts_with_nocase(const char *s, const char *prefix)
{
    for (; *prefix != '\0'; ++s, ++prefix)
        if (std::tolower(static_cast<unsigned char>(*s)) != *prefix)
            return false;
    return true;
}

// Every send on the socket: what went is traced, also when the rest did
// not.  False on failure (reason kept).
bool send_bytes(NetPort &p, const uint8_t *buf, uint32_t len, uint32_t *sent)
{
    bool ok = net_send_all(p.sock, buf, len, WRITE_STALL_MS, p.name, sent);
    net_trace_bytes(p.trace, NetTraceDir::Sent, buf, *sent);
    if (!ok)
        net_trace_note(p.trace, "send failed");
    return ok;
}

// Every receive on the socket (net_recv's result).
int recv_bytes(NetPort &p, uint8_t *buf, uint32_t cap)
{
    int r = net_recv(p.sock, buf, cap, p.name);
    if (r > 0)
        net_trace_bytes(p.trace, NetTraceDir::Received, buf, static_cast<size_t>(r));
    return r;
}

// Sends the codec's waiting answers.  False when the connection failed.
bool send_replies(NetPort &p)
{
    uint8_t out[TELNET_REPLY_MAX];
    size_t n = telnet_take_replies(p.codec, out, sizeof out);
    uint32_t sent = 0;
    if (n == 0 || send_bytes(p, out, static_cast<uint32_t>(n), &sent))
        return true;
    p.gone = true;
    return false;
}

bool send_command(NetPort &p, uint8_t cmd, const uint8_t *value, size_t n)
{
    uint8_t buf[COMMAND_SIZE];
    size_t len = telnet_com_command(cmd, value, n, buf, sizeof buf);
    uint32_t sent = 0;
    if (send_bytes(p, buf, static_cast<uint32_t>(len), &sent))
        return true;
    p.gone = true;
    return false;
}

void note_end(NetPort &p, int r)
{
    p.gone = true;
    if (r == NET_RECV_CLOSED)
        plat_reason_set(p.name, "the server closed the connection");
    net_trace_note(p.trace, r == NET_RECV_CLOSED ? "the server closed the connection"
                                                 : "the connection broke");
}

// Where the negotiation stood before a burst was fed to the codec, so that
// the trace can note what the burst changed.
struct Standing {
    TnOpt us[TELNET_OPTIONS];
    TnOpt him[TELNET_OPTIONS];
    uint32_t malformed;
};

Standing standing(const TelnetCodec &c)
{
    Standing s{};
    for (int i = 0; i < TELNET_OPTIONS; ++i) {
        s.us[i] = c.us[i];
        s.him[i] = c.him[i];
    }
    s.malformed = c.malformed;
    return s;
}

// Option names by the codec's index; characters in place, not pointers,
// so that the table needs no relocation and stays read-only.
constexpr char OPTION_NAMES[TELNET_OPTIONS][20] = {"BINARY", "SUPPRESS-GO-AHEAD",
                                                   "COM-PORT-OPTION"};

// "-- telnet: server WILL BINARY" and the like for every option whose
// state the last burst changed, and subnegotiations it made the codec
// drop.  Allocates nothing.
void note_news(NetPort &p, const Standing &before)
{
    if (p.trace == nullptr)
        return;
    char text[PLAT_REASON_SIZE];
    for (int i = 0; i < TELNET_OPTIONS; ++i) {
        if (p.codec.him[i] != before.him[i] && p.codec.him[i] != TnOpt::Asked) {
            std::snprintf(text, sizeof text, "server %s %s",
                          p.codec.him[i] == TnOpt::On ? "WILL" : "WONT", OPTION_NAMES[i]);
            net_trace_note(p.trace, text);
        }
        if (p.codec.us[i] != before.us[i] && p.codec.us[i] != TnOpt::Asked) {
            std::snprintf(text, sizeof text, "server %s %s",
                          p.codec.us[i] == TnOpt::On ? "DO" : "DONT", OPTION_NAMES[i]);
            net_trace_note(p.trace, text);
        }
    }
    if (p.codec.malformed != before.malformed) {
        std::snprintf(text, sizeof text, "%lu malformed com port subnegotiation(s) dropped",
                      static_cast<unsigned long>(p.codec.malformed - before.malformed));
        net_trace_note(p.trace, text);
    }
}

// Takes a burst read off the socket: on a telnet port through the codec,
// noting in the trace what it changed in the negotiation.  The data bytes
// go to data (room for r), or are dropped when data is null; returns
// their count.
uint32_t take_burst(NetPort &p, const uint8_t *raw, int r, uint8_t *data)
{
    uint32_t n = 0;
    if (!p.telnet) {
        if (data != nullptr)
            std::memcpy(data, raw, static_cast<size_t>(r));
        return static_cast<uint32_t>(r);
    }
    const Standing before = p.trace != nullptr ? standing(p.codec) : Standing{};
    uint8_t dropped;
    for (int i = 0; i < r; ++i)
        if (telnet_feed(p.codec, raw[i], data != nullptr ? &data[n] : &dropped))
            ++n;
    note_news(p, before);
    return n;
}

// Takes what waits on the socket into the codec and drops the data bytes
// (only while opening, configuring and purging, when input is stale).
// False when the connection ended.
bool take_and_drop(NetPort &p)
{
    uint8_t raw[RAW_CHUNK];
    // A server that streams without pause would keep this loop going for
    // ever: what waits now is taken, the rest is left for later reads.
    for (int round = 0;; ++round) {
        int r = round < DROP_ROUNDS ? recv_bytes(p, raw, sizeof raw) : NET_RECV_NOTHING;
        if (r == NET_RECV_NOTHING)
            return send_replies(p);
        if (r < 0) {
            note_end(p, r);
            return false;
        }
        take_burst(p, raw, r, nullptr);   // stale input: its data is dropped
    }
}

// Reads and answers until done(p) or ms have passed.  False when the
// connection ended.
template <typename Done> bool await(NetPort &p, uint32_t ms, Done done)
{
    uint64_t deadline = net_clock_ms() + ms;
    for (;;) {
        if (!take_and_drop(p))
            return false;
        if (done(p))
            return true;
        uint64_t now = net_clock_ms();
        if (now >= deadline)
            return true;
        net_wait_readable(p.sock, static_cast<uint32_t>(deadline - now));
    }
}

bool settled(const NetPort &p)
{
    return p.codec.us[2] != TnOpt::Asked && p.codec.us[0] != TnOpt::Asked &&
           p.codec.him[0] != TnOpt::Asked;
}

bool net_open(PlatPort &port, const char *name)
{
    NetAddress a;
    if (!net_parse_address(name, &a)) {
        plat_reason_set(name,
                        "not a network port address (rfc2217://HOST:PORT or tcp://HOST:PORT;"
                        " an IPv6 HOST in brackets)");
        return false;
    }
    NetPort &p = *new (port.state) NetPort{};
    p.sock = NET_SOCK_NONE;
    p.telnet = a.scheme == NetScheme::Rfc2217;
    bool v6 = std::strchr(a.host, ':') != nullptr;
    std::snprintf(p.name, sizeof p.name, "%s%s%s%s:%s", p.telnet ? PREFIX_RFC2217 : PREFIX_TCP,
                  v6 ? "[" : "", a.host, v6 ? "]" : "", a.port);
    p.trace = net_trace_open(p.name, p.telnet, port.opened_ms);
    if (!net_connect(a.host, a.port, NET_CONNECT_MS, p.name, &p.sock)) {
        net_trace_note(p.trace, plat_reason_text());
        net_trace_close(p.trace);
        return false;
    }
    telnet_init(p.codec, p.telnet);
    if (p.telnet && !(send_replies(p) && await(p, NET_NEGOTIATE_MS, settled))) {
        // The reason names how the connection ended.
        net_close(p.sock);
        net_trace_close(p.trace);
        return false;
    }
    return true;
}

void net_setup_queues(PlatPort &, uint32_t, uint32_t)
{
    // The socket's buffers are the system's, larger than a session asks.
}

bool all_replies(const NetPort &p)
{
    uint32_t v;
    for (uint8_t cmd = tn::CPO_SET_BAUDRATE; cmd <= tn::CPO_SET_STOPSIZE; ++cmd)
        if (!telnet_com_reply(p.codec, cmd, &v))
            return false;
    return true;
}

const char *command_name(uint8_t cmd)
{
    switch (cmd) {
    case tn::CPO_SET_BAUDRATE: return "SET-BAUDRATE";
    case tn::CPO_SET_DATASIZE: return "SET-DATASIZE";
    case tn::CPO_SET_PARITY: return "SET-PARITY";
    default: return "SET-STOPSIZE";
    }
}

// Checks the server's reply to one setting; false with the reason kept.
// The trace notes each reply: "SET-BAUDRATE 19200 acknowledged".
bool check_reply(NetPort &p, uint8_t cmd, uint32_t wanted, const char *what, const char *unit)
{
    uint32_t got = 0;
    char text[PLAT_REASON_SIZE];
    if (!telnet_com_reply(p.codec, cmd, &got)) {
        std::snprintf(text, sizeof text, "the server did not answer %s within %u s",
                      command_name(cmd), static_cast<unsigned>(NET_REPLY_MS / 1000));
    } else if (got != wanted) {
        std::snprintf(text, sizeof text, "the server refused %s %lu%s (it answered %lu)", what,
                      static_cast<unsigned long>(wanted), unit, static_cast<unsigned long>(got));
    } else {
        if (p.trace != nullptr) {
            std::snprintf(text, sizeof text, "%s %lu acknowledged", command_name(cmd),
                          static_cast<unsigned long>(got));
            net_trace_note(p.trace, text);
        }
        return true;
    }
    plat_reason_set(p.name, text);
    net_trace_note(p.trace, text);
    return false;
}

bool net_configure(PlatPort &port, const LineSettings &s)
{
    NetPort &p = net(port);
    if (p.gone)
        return false;
    if (!p.telnet)
        return true;   // the speed and framing are the server's
    if (telnet_com_port(p.codec) != TnOpt::On) {
        const char *note =
            "the server does not offer the com port option; used as a plain"
            " telnet port at the server's line settings";
        plat_reason_set(p.name, note);
        net_trace_note(p.trace, note);
        return true;
    }
    if (s.baud_rate == 0) {
        plat_reason_set(p.name, "0 bit/s is no line speed");
        return false;
    }
    const uint8_t baud[4] = {
        static_cast<uint8_t>(s.baud_rate >> 24), static_cast<uint8_t>(s.baud_rate >> 16),
        static_cast<uint8_t>(s.baud_rate >> 8), static_cast<uint8_t>(s.baud_rate)};
    const uint8_t size = s.eight_data_bits ? 8 : 7;
    const uint8_t parity = s.parity == 1   ? tn::PARITY_ODD
                           : s.parity == 2 ? tn::PARITY_EVEN
                                           : tn::PARITY_NONE;
    const uint8_t stop = s.two_stop_bits ? 2 : 1;
    const uint8_t controls[] = {tn::CTL_NO_FLOW_CONTROL, tn::CTL_DTR_ON, tn::CTL_RTS_ON};
    for (uint8_t cmd = tn::CPO_SET_BAUDRATE; cmd <= tn::CPO_SET_CONTROL; ++cmd)
        telnet_com_forget(p.codec, cmd);
    bool ok = send_command(p, tn::CPO_SET_BAUDRATE, baud, 4) &&
              send_command(p, tn::CPO_SET_DATASIZE, &size, 1) &&
              send_command(p, tn::CPO_SET_PARITY, &parity, 1) &&
              send_command(p, tn::CPO_SET_STOPSIZE, &stop, 1);
    for (uint8_t c : controls)
        ok = ok && send_command(p, tn::CPO_SET_CONTROL, &c, 1);
    // Bytes from the line that come meanwhile are dropped: the session
    // starts on a purged line.
    if (!ok || !await(p, NET_REPLY_MS, all_replies))
        return false;
    return check_reply(p, tn::CPO_SET_BAUDRATE, s.baud_rate, "the speed", " bit/s") &&
           check_reply(p, tn::CPO_SET_DATASIZE, size, "the data size", " bits") &&
           check_reply(p, tn::CPO_SET_PARITY, parity, "parity", "") &&
           check_reply(p, tn::CPO_SET_STOPSIZE, stop, "the stop size", "");
}

bool net_modem_status(PlatPort &, uint32_t *lines)
{
    // No line is reported on: the channel purges the output only while
    // CTS is on, and over the network a purge could reach the server
    // after bytes the session still wants sent.
    *lines = 0;
    return true;
}

void purge(NetPort &p, uint8_t which)
{
    if (!p.gone && p.telnet && telnet_com_port(p.codec) == TnOpt::On)
        send_command(p, tn::CPO_PURGE_DATA, &which, 1);
}

void net_purge_tx(PlatPort &port) { purge(net(port), tn::PURGE_TX); }

void net_purge_rx(PlatPort &port)
{
    NetPort &p = net(port);
    if (p.gone)
        return;
    // What has arrived is discarded as a local driver's queue would be.
    // The server's own buffer is purged the first time only, when the
    // session starts: the channel purges before every frame it writes,
    // and a command with its reply on each frame costs a server that
    // holds small segments back (Nagle) a delayed acknowledgement per
    // frame, some 40 ms, which made a transfer ten times slower.
    if (take_and_drop(p) && !p.server_purged) {
        purge(p, tn::PURGE_RX);
        p.server_purged = true;
    }
}

bool net_write(PlatPort &port, const void *bytes, uint32_t len, uint32_t *written)
{
    NetPort &p = net(port);
    const uint8_t *src = static_cast<const uint8_t *>(bytes);
    uint32_t done = 0;
    bool ok;
    if (p.gone) {
        if (plat_reason_text()[0] == '\0')
            plat_reason_set(p.name, "the connection has ended");
        ok = false;
    } else if (!p.telnet) {
        ok = send_bytes(p, src, len, &done);
    } else {
        ok = send_replies(p);
        uint8_t out[2 * SEND_CHUNK];
        while (ok && done < len) {
            uint32_t take = len - done < SEND_CHUNK ? len - done : SEND_CHUNK;
            size_t consumed = 0;
            size_t n = telnet_escape(p.codec, src + done, take, out, sizeof out, &consumed);
            uint32_t sent = 0;
            ok = send_bytes(p, out, static_cast<uint32_t>(n), &sent);
            if (ok)
                done += static_cast<uint32_t>(consumed);
        }
    }
    if (!ok)
        p.gone = true;
    if (written != nullptr)
        *written = done;
    return ok;
}

bool net_read(PlatPort &port, uint8_t *bytes, uint8_t *errors, uint32_t capacity, uint32_t *count)
{
    *count = 0;
    NetPort &p = net(port);
    if (p.gone)
        return false;   // the reason was kept when it ended
    uint8_t raw[RAW_CHUNK];
    uint32_t want = capacity < RAW_CHUNK ? capacity : RAW_CHUNK;
    int r = recv_bytes(p, raw, want);
    if (r < 0) {
        note_end(p, r);
        return false;
    }
    uint32_t n = take_burst(p, raw, r, bytes);
    std::memset(errors, 0, n);
    *count = n;
    // A failed answer ends the connection for the next read; these bytes
    // are good.
    if (p.telnet)
        send_replies(p);
    return true;
}

intptr_t net_os_handle(const PlatPort &) { return -1; }

intptr_t net_wait_handle(const PlatPort &port) { return net(port).sock; }

bool net_input_ready(PlatPort &port) { return net_input_waiting(net(port).sock); }

bool net_wait_input(PlatPort &port)
{
    NetPort &p = net(port);
    if (p.gone) {
        plat_sleep_ms(NET_WAIT_SLICE_MS);   // the next read reports it
        return false;
    }
    return net_wait_readable(p.sock, NET_WAIT_SLICE_MS);
}

bool net_drain(PlatPort &port)
{
    NetPort &p = net(port);
    if (p.gone)
        return false;
    uint64_t deadline = net_clock_ms() + CLOSE_DRAIN_MS;
    while (net_unsent(p.sock) > 0) {
        if (net_clock_ms() >= deadline)
            return false;
        plat_sleep_ms(STEP_MS);
    }
    return true;
}

bool net_set_lines(PlatPort &port, bool rts, bool dtr)
{
    NetPort &p = net(port);
    if (p.gone || !p.telnet || telnet_com_port(p.codec) != TnOpt::On)
        return false;   // the server's lines are not ours to set
    const uint8_t r = rts ? tn::CTL_RTS_ON : tn::CTL_RTS_OFF;
    const uint8_t d = dtr ? tn::CTL_DTR_ON : tn::CTL_DTR_OFF;
    return send_command(p, tn::CPO_SET_CONTROL, &r, 1) &&
           send_command(p, tn::CPO_SET_CONTROL, &d, 1);
}

void net_close_port(PlatPort &port)
{
    NetPort &p = net(port);
    if (!p.gone)
        net_drain(port);
    net_close(p.sock);
    p.sock = NET_SOCK_NONE;
    net_trace_close(p.trace);
    p.trace = nullptr;
}

}   // namespace

NetScheme net_scheme(const char *name)
{
    if (starts_with_nocase(name, PREFIX_RFC2217))
        return NetScheme::Rfc2217;
    if (starts_with_nocase(name, PREFIX_TCP))
        return NetScheme::Tcp;
    return NetScheme::None;
}

bool net_parse_address(const char *name, NetAddress *out)
{
    std::memset(out, 0, sizeof *out);
    out->scheme = net_scheme(name);
    if (out->scheme == NetScheme::None)
        return false;
    const char *s = name +
                    std::strlen(out->scheme == NetScheme::Rfc2217 ? PREFIX_RFC2217 : PREFIX_TCP);
    const char *host = s;
    const char *host_end;
    const char *colon;
    if (*s == '[') {
        host = s + 1;
        host_end = std::strchr(host, ']');
        if (host_end == nullptr)
            return false;
        for (const char *c = host; c < host_end; ++c)
            if (!std::isxdigit(static_cast<unsigned char>(*c)) && *c != ':' && *c != '.')
                return false;
        if (std::memchr(host, ':', static_cast<size_t>(host_end - host)) == nullptr)
            return false;   // brackets hold an IPv6 literal only
        colon = host_end + 1;
    } else {
        colon = std::strchr(s, ':');
        if (colon == nullptr)
            return false;
        host_end = colon;
        for (const char *c = host; c < host_end; ++c) {
            unsigned char ch = static_cast<unsigned char>(*c);
            if (!std::isalnum(ch) && ch != '-' && ch != '.' && ch != '_')
                return false;
        }
    }
    size_t host_len = static_cast<size_t>(host_end - host);
    if (host_len == 0 || host_len >= NET_HOST_SIZE || *colon != ':')
        return false;
    const char *port = colon + 1;
    size_t digits = std::strlen(port);
    if (digits == 0 || digits > 5)
        return false;
    unsigned long value = 0;
    for (const char *c = port; *c != '\0'; ++c) {
        if (!std::isdigit(static_cast<unsigned char>(*c)))
            return false;
        value = value * 10 + static_cast<unsigned long>(*c - '0');
    }
    if (value == 0 || value > 65535)
        return false;
    std::memcpy(out->host, host, host_len);
    std::snprintf(out->port, sizeof out->port, "%lu", value);
    return true;
}

extern const PortOps NET_PORT_OPS = {
    net_open,        net_setup_queues, net_configure,  net_modem_status, net_purge_tx,
    net_purge_rx,    net_write,        net_read,       net_os_handle,    net_wait_handle,
    net_input_ready, net_wait_input,   net_close_port, net_drain,        net_set_lines,
    nullptr,   // no wait hints: the socket hands over what the server sent
};
