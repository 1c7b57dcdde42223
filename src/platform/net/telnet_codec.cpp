// telnet_codec.cpp - telnet negotiation, com port replies and IAC escaping.
#include "platform/net/telnet_codec.h"

#include <cstring>

namespace {

// Receive states.
enum : uint8_t {
    ST_DATA,
    ST_IAC,    // IAC seen
    ST_WILL,   // IAC WILL seen: the option follows
    ST_WONT,
    ST_DO,
    ST_DONT,
    ST_SB,       // inside IAC SB ... IAC SE
    ST_SB_IAC,   // IAC seen inside a subnegotiation
};

constexpr uint8_t CR = 0x0D;

// Index of an option this client speaks, or -1.
int option_index(uint8_t opt)
{
    switch (opt) {
    case tn::OPT_BINARY: return 0;
    case tn::OPT_SGA: return 1;
    case tn::OPT_COM_PORT: return 2;
    default: return -1;
    }
}

void queue(TelnetCodec &c, uint8_t verb, uint8_t opt)
{
    if (c.reply_len + 3u > TELNET_REPLY_MAX)
        return;   // see TELNET_REPLY_MAX
    c.reply[c.reply_len++] = tn::IAC;
    c.reply[c.reply_len++] = verb;
    c.reply[c.reply_len++] = opt;
}

// The server offers (WILL) or stops (WONT) an option on its side.  It may
// perform binary and no-go-ahead; anything else (echo, above all, which
// would send our own bytes back as data) is refused.
void on_will(TelnetCodec &c, uint8_t opt)
{
    int i = option_index(opt);
    if (i < 0 || opt == tn::OPT_COM_PORT) {
        queue(c, tn::DONT, opt);
        return;
    }
    if (c.him[i] == TnOpt::On)
        return;
    if (c.him[i] != TnOpt::Asked)
        queue(c, tn::DO, opt);
    c.him[i] = TnOpt::On;
}

void on_wont(TelnetCodec &c, uint8_t opt)
{
    int i = option_index(opt);
    if (i < 0)
        return;   // off already: nothing to confirm
    if (c.him[i] == TnOpt::On) {
        c.him[i] = TnOpt::Off;
        queue(c, tn::DONT, opt);
    } else if (c.him[i] == TnOpt::Asked) {
        c.him[i] = TnOpt::Refused;
    }
}

// The server asks (DO) or forbids (DONT) an option on this side.
void on_do(TelnetCodec &c, uint8_t opt)
{
    int i = option_index(opt);
    if (i < 0) {
        queue(c, tn::WONT, opt);
        return;
    }
    if (c.us[i] == TnOpt::On)
        return;
    if (c.us[i] != TnOpt::Asked)
        queue(c, tn::WILL, opt);
    c.us[i] = TnOpt::On;
}

void on_dont(TelnetCodec &c, uint8_t opt)
{
    int i = option_index(opt);
    if (i < 0)
        return;
    if (c.us[i] == TnOpt::On) {
        c.us[i] = TnOpt::Off;
        queue(c, tn::WONT, opt);
    } else if (c.us[i] == TnOpt::Asked) {
        c.us[i] = TnOpt::Refused;
    }
}

// Length of the value of a server's reply to command cmd, or 0 for a
// command whose reply this client does not read.
size_t reply_value_size(uint8_t cmd)
{
    switch (cmd) {
    case tn::CPO_SET_BAUDRATE: return 4;
    case tn::CPO_SET_DATASIZE:
    case tn::CPO_SET_PARITY:
    case tn::CPO_SET_STOPSIZE:
    case tn::CPO_SET_CONTROL:
    case tn::CPO_PURGE_DATA: return 1;
    default: return 0;
    }
}

// A complete subnegotiation sits in c.sb.
void end_subnegotiation(TelnetCodec &c)
{
    if (c.sb_len == 0 || c.sb[0] != tn::OPT_COM_PORT)
        return;   // another option's: not ours to read
    if (c.sb_overflow || c.sb_len < 2) {
        ++c.malformed;
        return;
    }
    uint8_t code = c.sb[1];
    if (code <= tn::CPO_SERVER)
        return;   // a request from the server (signature, ...): not answered
    uint8_t cmd = static_cast<uint8_t>(code - tn::CPO_SERVER);
    size_t size = cmd <= tn::CPO_LAST ? reply_value_size(cmd) : 0;
    if (size == 0)
        return;   // a notification (line or modem state) or a reply not read
    if (c.sb_len != 2 + size) {
        ++c.malformed;
        return;
    }
    uint32_t value = 0;
    for (size_t k = 0; k < size; ++k)
        value = value << 8 | c.sb[2 + k];
    c.cpo_value[cmd] = value;
    c.cpo_seen = static_cast<uint16_t>(c.cpo_seen | 1u << cmd);
}

void sb_append(TelnetCodec &c, uint8_t byte)
{
    if (c.sb_len < TELNET_SB_MAX)
        c.sb[c.sb_len++] = byte;
    else
        c.sb_overflow = true;
}

// The byte after an IAC outside a subnegotiation.
void after_iac(TelnetCodec &c, uint8_t byte)
{
    switch (byte) {
    case tn::WILL: c.state = ST_WILL; break;
    case tn::WONT: c.state = ST_WONT; break;
    case tn::DO: c.state = ST_DO; break;
    case tn::DONT: c.state = ST_DONT; break;
    case tn::SB:
        c.state = ST_SB;
        c.sb_len = 0;
        c.sb_overflow = false;
        break;
    default:
        // NOP, go-ahead, data mark, break, a stray SE ...: nothing to do.
        c.state = ST_DATA;
        break;
    }
}

}   // namespace

void telnet_init(TelnetCodec &c, bool com_port)
{
    std::memset(&c, 0, sizeof c);
    c.state = ST_DATA;
    for (int i = 0; i < TELNET_OPTIONS; ++i)
        c.us[i] = c.him[i] = TnOpt::Off;
    if (!com_port)
        return;
    queue(c, tn::WILL, tn::OPT_BINARY);
    queue(c, tn::DO, tn::OPT_BINARY);
    queue(c, tn::WILL, tn::OPT_SGA);
    queue(c, tn::DO, tn::OPT_SGA);
    queue(c, tn::WILL, tn::OPT_COM_PORT);
    c.us[0] = c.us[1] = c.us[2] = TnOpt::Asked;
    c.him[0] = c.him[1] = TnOpt::Asked;
}

bool telnet_feed(TelnetCodec &c, uint8_t byte, uint8_t *data)
{
    switch (c.state) {
    case ST_DATA:
        if (byte == tn::IAC) {
            c.state = ST_IAC;
            return false;
        }
        if (c.him[0] == TnOpt::Off || c.him[0] == TnOpt::Refused) {
            // Network virtual terminal input: CR NUL stands for a bare CR.
            bool after_cr = c.cr_seen;
            c.cr_seen = byte == CR;
            if (after_cr && byte == 0)
                return false;
        }
        *data = byte;
        return true;
    case ST_IAC:
        if (byte == tn::IAC) {
            c.state = ST_DATA;
            c.cr_seen = false;
            *data = byte;
            return true;
        }
        after_iac(c, byte);
        return false;
    case ST_WILL: on_will(c, byte); break;
    case ST_WONT: on_wont(c, byte); break;
    case ST_DO: on_do(c, byte); break;
    case ST_DONT: on_dont(c, byte); break;
    case ST_SB:
        if (byte == tn::IAC)
            c.state = ST_SB_IAC;
        else
            sb_append(c, byte);
        return false;
    case ST_SB_IAC:
        if (byte == tn::SE) {
            end_subnegotiation(c);
            c.state = ST_DATA;
        } else if (byte == tn::IAC) {
            sb_append(c, byte);
            c.state = ST_SB;
        } else {
            // IAC and a command inside a subnegotiation: the peer lost its
            // place.  The subnegotiation is dropped and the command taken.
            if (c.sb_len > 0 && c.sb[0] == tn::OPT_COM_PORT)
                ++c.malformed;
            after_iac(c, byte);
        }
        return false;
    default: c.state = ST_DATA; return false;
    }
    c.state = ST_DATA;
    return false;
}

size_t telnet_take_replies(TelnetCodec &c, uint8_t *out, size_t cap)
{
    size_t n = c.reply_len < cap ? c.reply_len : cap;
    std::memcpy(out, c.reply, n);
    std::memmove(c.reply, c.reply + n, c.reply_len - n);
    c.reply_len = static_cast<uint8_t>(c.reply_len - n);
    return n;
}

size_t telnet_escape(const TelnetCodec &c, const uint8_t *src, size_t n, uint8_t *dst, size_t cap,
                     size_t *consumed)
{
    // While binary output is still being asked for, the server is taken
    // to agree: a CR NUL it would pass on as two bytes does more harm than
    // a bare CR in the rare server that refuses.
    bool binary = c.us[0] == TnOpt::On || c.us[0] == TnOpt::Asked;
    size_t out = 0;
    size_t i = 0;
    for (; i < n; ++i) {
        uint8_t b = src[i];
        bool twice = b == tn::IAC || (b == CR && !binary);
        if (out + (twice ? 2 : 1) > cap)
            break;
        dst[out++] = b;
        if (twice)
            dst[out++] = b == tn::IAC ? tn::IAC : 0;
    }
    *consumed = i;
    return out;
}

size_t telnet_com_command(uint8_t cmd, const uint8_t *value, size_t n, uint8_t *dst, size_t cap)
{
    size_t need = 4 + 2;
    for (size_t i = 0; i < n; ++i)
        need += value[i] == tn::IAC ? 2 : 1;
    if (need > cap)
        return 0;
    size_t out = 0;
    dst[out++] = tn::IAC;
    dst[out++] = tn::SB;
    dst[out++] = tn::OPT_COM_PORT;
    dst[out++] = cmd;
    for (size_t i = 0; i < n; ++i) {
        dst[out++] = value[i];
        if (value[i] == tn::IAC)
            dst[out++] = tn::IAC;
    }
    dst[out++] = tn::IAC;
    dst[out++] = tn::SE;
    return out;
}

void telnet_com_forget(TelnetCodec &c, uint8_t cmd)
{
    if (cmd <= tn::CPO_LAST)
        c.cpo_seen = static_cast<uint16_t>(c.cpo_seen & ~(1u << cmd));
}

bool telnet_com_reply(const TelnetCodec &c, uint8_t cmd, uint32_t *value)
{
    if (cmd > tn::CPO_LAST || (c.cpo_seen & 1u << cmd) == 0)
        return false;
    *value = c.cpo_value[cmd];
    return true;
}

TnOpt telnet_com_port(const TelnetCodec &c) { return c.us[2]; }
