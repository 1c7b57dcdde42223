// telnet_codec.h - the telnet side of a network serial port: option
// negotiation (RFC 854, 855, 856, 858), the com port control option
// (RFC 2217) and the IAC escaping of data, one byte at a time.
//
// Pure: no sockets, no clock, no heap.  The network port feeds every byte
// received into telnet_feed, which hands data bytes back and keeps the
// rest (answers to send, the server's replies to com port commands); it
// escapes the bytes it sends with telnet_escape and builds its com port
// commands with telnet_com_command.  Both platforms share it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tn {

// Telnet commands (RFC 854).
constexpr uint8_t SE = 240;   // end of subnegotiation
constexpr uint8_t SB = 250;   // start of subnegotiation
constexpr uint8_t WILL = 251;
constexpr uint8_t WONT = 252;
constexpr uint8_t DO = 253;
constexpr uint8_t DONT = 254;
constexpr uint8_t IAC = 255;

// Options this client speaks.
constexpr uint8_t OPT_BINARY = 0;      // RFC 856: 8-bit data both ways
constexpr uint8_t OPT_SGA = 3;         // RFC 858: no go-ahead
constexpr uint8_t OPT_COM_PORT = 44;   // RFC 2217: com port control

// Com port commands from the client; the server replies with the same
// code plus CPO_SERVER and the value it now uses.
constexpr uint8_t CPO_SET_BAUDRATE = 1;   // 4 bytes, network order, bit/s
constexpr uint8_t CPO_SET_DATASIZE = 2;   // 1 byte: 5..8
constexpr uint8_t CPO_SET_PARITY = 3;     // 1 byte: 1 none, 2 odd, 3 even
constexpr uint8_t CPO_SET_STOPSIZE = 4;   // 1 byte: 1 one, 2 two
constexpr uint8_t CPO_SET_CONTROL = 5;    // 1 byte: one of CTL_*
constexpr uint8_t CPO_PURGE_DATA = 12;    // 1 byte: one of PURGE_*
constexpr uint8_t CPO_LAST = 12;          // highest command code kept
constexpr uint8_t CPO_SERVER = 100;

constexpr uint8_t PARITY_NONE = 1;
constexpr uint8_t PARITY_ODD = 2;
constexpr uint8_t PARITY_EVEN = 3;

constexpr uint8_t CTL_NO_FLOW_CONTROL = 1;
constexpr uint8_t CTL_DTR_ON = 8;
constexpr uint8_t CTL_DTR_OFF = 9;
constexpr uint8_t CTL_RTS_ON = 11;
constexpr uint8_t CTL_RTS_OFF = 12;

constexpr uint8_t PURGE_RX = 1;   // the server's buffer of bytes from the line
constexpr uint8_t PURGE_TX = 2;   // the server's buffer of bytes for the line

}   // namespace tn

// Longest subnegotiation kept, bytes between IAC SB and IAC SE: the
// longest reply this client reads (option, code, 4-byte speed) with room
// to spare.  A longer one is dropped whole.
constexpr size_t TELNET_SB_MAX = 16;

// Negotiation answers waiting to be sent, bytes: every option request of
// the opening (5 x 3 bytes) and a burst of refusals.  Answers that do not
// fit are dropped: only a peer sending nonsense fills it.
constexpr size_t TELNET_REPLY_MAX = 96;

// The options a codec negotiates, by index: BINARY, SGA, COM_PORT.
constexpr int TELNET_OPTIONS = 3;

// Where one option stands on one side (RFC 1143's states, simplified:
// a request is never withdrawn).
enum class TnOpt : uint8_t { Off, Asked, On, Refused };

struct TelnetCodec {
    uint8_t state;      // receive state (telnet_codec.cpp)
    bool cr_seen;       // last data byte was CR (input while the server
                        // refuses binary: CR NUL is a bare CR)
    bool sb_overflow;   // the subnegotiation being read is too long
    uint8_t sb_len;
    uint8_t sb[TELNET_SB_MAX];
    uint8_t reply_len;
    uint8_t reply[TELNET_REPLY_MAX];
    // Options by index (TELNET_OPTIONS): us = this side performs it, him =
    // the server does.
    TnOpt us[TELNET_OPTIONS];
    TnOpt him[TELNET_OPTIONS];
    // The server's last reply to each com port command, by command code.
    uint16_t cpo_seen;   // bit n: a reply to command n came
    uint32_t cpo_value[tn::CPO_LAST + 1];
    uint32_t malformed;   // subnegotiations dropped as malformed
};

// Starts a codec.  com_port: ask for binary mode and no go-ahead both
// ways and offer the com port option (the opening requests are queued as
// answers to send); false leaves every option off until the server asks.
void telnet_init(TelnetCodec &c, bool com_port);

// One byte received.  True when it is (or completes) a data byte, put in
// *data; false when it was part of a telnet command.
bool telnet_feed(TelnetCodec &c, uint8_t byte, uint8_t *data);

// Moves up to cap bytes of queued answers to out; returns how many.
size_t telnet_take_replies(TelnetCodec &c, uint8_t *out, size_t cap);

// Escapes data for sending: 0xFF doubled, and CR followed by NUL when
// the server refused binary output.  Takes whole bytes only: returns the bytes
// written to dst and sets *consumed to the source bytes they carry.
size_t telnet_escape(const TelnetCodec &c, const uint8_t *src, size_t n, uint8_t *dst, size_t cap,
                     size_t *consumed);

// Builds IAC SB COM-PORT-OPTION cmd value... IAC SE into dst (value bytes
// escaped).  Returns its length, 0 when cap is too small.
size_t telnet_com_command(uint8_t cmd, const uint8_t *value, size_t n, uint8_t *dst, size_t cap);

// Forgets the reply to command cmd, before it is sent again.
void telnet_com_forget(TelnetCodec &c, uint8_t cmd);

// The server's reply to command cmd: true with its value once it came.
bool telnet_com_reply(const TelnetCodec &c, uint8_t cmd, uint32_t *value);

// Where the com port option stands: the server said DO (On), DONT
// (Refused), or not yet (Asked).
TnOpt telnet_com_port(const TelnetCodec &c);
