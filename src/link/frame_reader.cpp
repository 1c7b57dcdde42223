// frame_reader.cpp - reads the DLE grammar of the link, one byte at a time.
#include "link/frame_reader.h"

// Station bytes after a control code; check bytes after a terminator.
constexpr uint8_t TAIL_BYTES = 2;

// The control codes that end a passed-over frame besides its terminator.
constexpr uint16_t SKIP_ENDS = FC_ETX | FC_EOT | FC_ENQ | FC_ACK | FC_NAK | FC_WACK;

uint16_t frame_code_bit(uint8_t code)
{
    switch (code) {
    case cSOH: return FC_SOH;
    case cSTX: return FC_STX;
    case cETX: return FC_ETX;
    case cEOT: return FC_EOT;
    case cENQ: return FC_ENQ;
    case cACK: return FC_ACK;
    case cNAK: return FC_NAK;
    case cWACK: return FC_WACK;
    default: return 0;
    }
}

void frame_reader_init(FrameReader &r, const FrameRules &rules, const uint8_t station[2],
                       uint8_t *store, uint32_t store_size)
{
    r.rules = rules;
    r.station[0] = station[0];
    r.station[1] = station[1];
    r.store = store;
    r.store_size = store != nullptr ? store_size : 0;
    frame_reader_reset(r);
}

void frame_reader_reset(FrameReader &r)
{
    r.length = 0;
    r.overflow = false;
    r.check = FRAME_BAD_LENGTH;
    r.pos = FramePos::Hunt;
    r.opening = 0;
    r.code = 0;
    r.tail = 0;
}

void frame_reader_set_rules(FrameReader &r, const FrameRules &rules) { r.rules = rules; }

static FrameEvent event(FrameEventKind kind, uint8_t code)
{
    return FrameEvent{kind, code, {0, 0}};
}

static FrameEvent nothing() { return event(FrameEventKind::None, 0); }

static void store_byte(FrameReader &r, uint8_t c)
{
    if (r.length < r.store_size)
        r.store[r.length++] = c;
    else
        r.overflow = true;
}

static void start_message(FrameReader &r, uint8_t code)
{
    r.code = code;
    r.tail = 0;
    r.pos = FramePos::MessageTail;
}

static FrameEvent after_dle(FrameReader &r, uint8_t c)
{
    const uint16_t bit = frame_code_bit(c);
    if (bit & r.rules.frames) {
        r.opening = c;
        r.length = 0;
        r.overflow = false;
        r.pos = FramePos::Body;
        return nothing();
    }
    if (bit & r.rules.skipped) {
        r.opening = c;
        r.pos = FramePos::SkipBody;
        return nothing();
    }
    if (bit & r.rules.messages) {
        start_message(r, c);
        return nothing();
    }
    r.pos = FramePos::Hunt;
    return event(FrameEventKind::Stray, c);
}

// The byte after a DLE in a body is stored whatever it is (a doubled DLE
// yields one); the terminator leads to the check bytes, an ENQ abandons
// the frame for the terminal's enquiry.
static FrameEvent body_after_dle(FrameReader &r, uint8_t c)
{
    store_byte(r, c);
    if (c == ETXstr.bytes[0]) {
        r.tail = 0;
        r.pos = FramePos::Check;
        return nothing();
    }
    if (c == cENQ) {
        start_message(r, cENQ);
        return event(FrameEventKind::BreakOff, r.opening);
    }
    r.pos = FramePos::Body;
    return nothing();
}

static FrameEvent check_byte(FrameReader &r, uint8_t c)
{
    store_byte(r, c);
    if (++r.tail < TAIL_BYTES)
        return nothing();
    r.pos = FramePos::Hunt;
    r.check = frame_check(r.store, static_cast<int>(r.length), r.overflow,
                          static_cast<int>(FRAME_CHECK_BYTES));
    return event(FrameEventKind::Frame, r.opening);
}

static FrameEvent message_byte(FrameReader &r, uint8_t c)
{
    if ((frame_code_bit(r.code) & r.rules.addressed) && c != r.station[r.tail]) {
        r.pos = FramePos::Hunt;
        return event(FrameEventKind::OtherStation, r.code);
    }
    r.tail_bytes[r.tail] = c;
    if (++r.tail < TAIL_BYTES)
        return nothing();
    r.pos = FramePos::Hunt;
    FrameEvent e = event(FrameEventKind::Message, r.code);
    e.station[0] = r.tail_bytes[0];
    e.station[1] = r.tail_bytes[1];
    return e;
}

FrameEvent frame_reader_feed_unit(FrameReader &r, uint8_t c)
{
    switch (r.pos) {
    case FramePos::Hunt:
        if (c == cDLE) {
            r.pos = FramePos::AfterDle;
            return nothing();
        }
        return event(FrameEventKind::Stray, c);
    case FramePos::AfterDle: return after_dle(r, c);
    case FramePos::Body:
        if (c == cDLE)
            r.pos = FramePos::BodyAfterDle;
        else
            store_byte(r, c);
        return nothing();
    case FramePos::BodyAfterDle: return body_after_dle(r, c);
    case FramePos::Check: return check_byte(r, c);
    case FramePos::MessageTail: return message_byte(r, c);
    case FramePos::SkipBody:
        if (c == cDLE)
            r.pos = FramePos::SkipAfterDle;
        return nothing();
    case FramePos::SkipAfterDle:
        if (frame_code_bit(c) & SKIP_ENDS) {
            r.tail = 0;
            r.pos = FramePos::SkipTail;
        } else {
            r.pos = FramePos::SkipBody;
        }
        return nothing();
    case FramePos::SkipTail:
        if (++r.tail < TAIL_BYTES)
            return nothing();
        r.pos = FramePos::Hunt;
        return event(FrameEventKind::Skipped, r.opening);
    }
    frame_reader_reset(r);   // a position no byte leads to
    return nothing();
}

// Stored bytes still to come of a frame whose size the rules give; 0 when
// not given or already passed.
static uint32_t stored_bytes_left(const FrameReader &r)
{
    const uint32_t expected = r.opening == cSOH   ? r.rules.expected_soh
                              : r.opening == cSTX ? r.rules.expected_stx
                                                  : 0;
    // The terminator and the check bytes are always still to come here.
    if (expected < r.length + 1 + FRAME_CHECK_BYTES)
        return 0;
    return expected - r.length;
}

uint32_t frame_reader_bytes_due(const FrameReader &r)
{
    switch (r.pos) {
    case FramePos::Check:
    case FramePos::MessageTail:
    case FramePos::SkipTail: return TAIL_BYTES - r.tail;
    case FramePos::Body: {
        uint32_t left = stored_bytes_left(r);
        return left > 0 ? left + 1 : 0;   // and the DLE before the terminator
    }
    case FramePos::BodyAfterDle: return stored_bytes_left(r);
    default: return 0;
    }
}
