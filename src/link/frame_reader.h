// frame_reader.h - reads the DLE grammar of the link, one byte at a time.
//
// Both directions read the terminal's bytes with it: control messages (DLE,
// code, two station bytes) and frames (DLE SOH or DLE STX, a body in which
// a DLE takes the next byte as data, DLE ETX, two check bytes).  It is pure:
// no I/O, no clock, no heap; the stored bytes of a frame go into a buffer
// the caller owns.  It decides nothing about the exchange.  What it takes
// after a DLE is the caller's choice for each wait (FrameRules), so that
// each protocol state can accept what it expects; everything else after a
// DLE, a second DLE included, sends it back to hunting for a DLE.
//
// Fixed rules, whatever the caller chose:
// - inside a stored frame's body DLE ENQ abandons the frame (a break-off):
//   the enquiry's two station bytes follow as a message;
// - a frame that is passed over (FrameRules::skipped) ends at DLE ETX or at
//   DLE and any control code of a message, with the two bytes after it.
#pragma once

#include <cstdint>

#include "link/wire.h"

// The codes that can follow a DLE, as bits of a set.
enum FrameCodeBit : uint16_t {
    FC_SOH = 1u << 0,
    FC_STX = 1u << 1,
    FC_ETX = 1u << 2,
    FC_EOT = 1u << 3,
    FC_ENQ = 1u << 4,
    FC_ACK = 1u << 5,
    FC_NAK = 1u << 6,
    FC_WACK = 1u << 7,
};

// The bit of a control code; 0 for a byte that is none.
uint16_t frame_code_bit(uint8_t code);

// Stored bytes of a frame: body, terminator and the two check bytes.
constexpr uint32_t FRAME_CHECK_BYTES = 2;

// What the reader takes after a DLE (sets of FrameCodeBit).  An opening in
// frames is read and stored; one in skipped is passed over; a code in
// messages is followed by two station bytes; anything else ends in hunting.
struct FrameRules {
    uint16_t frames;      // FC_SOH, FC_STX: openings whose frames are stored
    uint16_t skipped;     // openings whose frames are passed over, unstored
    uint16_t messages;    // codes read as control messages
    uint16_t addressed;   // messages whose station bytes must be ours: the
                          // first byte that differs ends them at once
    // Stored bytes a header (SOH) or data (STX) frame will have, when the
    // caller knows it; 0 when not.  Only bytes_due uses it.
    uint16_t expected_soh;
    uint16_t expected_stx;
};

enum class FrameEventKind : uint8_t {
    None,           // the byte was taken; nothing is complete
    Stray,          // a byte outside any frame or message, or the byte after
                    // a DLE that is not taken here (the reader hunts again)
    Message,        // a complete control message: code, station
    OtherStation,   // an addressed message whose station byte differed; it
                    // ended at that byte
    Frame,          // a complete stored frame: opening, bytes, check
    Skipped,        // a frame passed over has ended
    BreakOff,       // DLE ENQ inside a frame's body abandoned it; the
                    // enquiry's station bytes are read next
};

// Four bytes, so that handing one back per byte costs nothing; a frame's
// stored bytes are read with frame_reader_frame.
struct FrameEvent {
    FrameEventKind kind;
    uint8_t code;         // Message, OtherStation: the control code;
                          // Frame, Skipped, BreakOff: the opening (SOH, STX);
                          // Stray: the byte
    uint8_t station[2];   // Message: its station bytes, high byte first
};

// The last complete frame: its stored bytes (body, terminator, check) in
// the caller's buffer, valid until the next frame opens.
struct FrameView {
    const uint8_t *bytes;
    uint32_t length;
    bool overflow;      // bytes past the buffer's size were dropped
    FrameCheck check;   // FRAME_GOOD when the length and check value hold
};

// Where the reader stands: which byte it expects next.
enum class FramePos : uint8_t {
    Hunt,           // a DLE
    AfterDle,       // the code after a DLE
    Body,           // a stored frame's body
    BodyAfterDle,   // the byte after a DLE inside that body
    Check,          // the check bytes behind the terminator
    MessageTail,    // a control message's station bytes
    SkipBody,       // a passed-over frame's body
    SkipAfterDle,   // the byte after a DLE inside it
    SkipTail,       // the two bytes that end it
};

struct FrameReader {
    FrameRules rules;
    uint8_t station[2];    // ours, high byte first: addressed messages must carry it
    uint8_t *store;        // the caller's buffer for a stored frame
    uint32_t store_size;   // bytes it holds; later bytes set overflow
    uint32_t length;       // bytes stored of the frame in progress
    bool overflow;
    FrameCheck check;   // of the last complete frame
    FramePos pos;
    uint8_t opening;   // SOH or STX of the frame in progress
    uint8_t code;      // the control code of the message in progress
    uint8_t tail;      // station, check or skipped bytes read after a code
    uint8_t tail_bytes[2];
};

// Sets the reader up to hunt for a DLE.  store may be null when no frame
// is stored (store_size 0).
void frame_reader_init(FrameReader &r, const FrameRules &rules, const uint8_t station[2],
                       uint8_t *store, uint32_t store_size);

// Drops whatever is in progress and hunts for a DLE again.
void frame_reader_reset(FrameReader &r);

// What the reader takes after the next DLE; the unit in progress goes on.
void frame_reader_set_rules(FrameReader &r, const FrameRules &rules);

// Every byte but a plain one inside a stored frame's body.
FrameEvent frame_reader_feed_unit(FrameReader &r, uint8_t byte);

// Reads one byte.  A frame's body makes up most of the bytes on the line:
// its plain bytes are stored here, without a call.
inline FrameEvent frame_reader_feed(FrameReader &r, uint8_t byte)
{
    if (r.pos == FramePos::Body && byte != cDLE && r.length < r.store_size) {
        r.store[r.length++] = byte;
        return FrameEvent{FrameEventKind::None, 0, {0, 0}};
    }
    return frame_reader_feed_unit(r, byte);
}

inline FramePos frame_reader_pos(const FrameReader &r) { return r.pos; }

// After a Frame event: that frame.
inline FrameView frame_reader_frame(const FrameReader &r)
{
    return FrameView{r.store, r.length, r.overflow, r.check};
}

// At least how many bytes must still arrive before the frame or message in
// progress is complete: the station or check bytes that remain, or, inside
// a frame whose stored size the rules give, the bytes still to be stored
// and the DLE of the terminator (doubled DLEs only add to it).  0 when no
// unit is in progress, right after a DLE, or when the length is not known.
uint32_t frame_reader_bytes_due(const FrameReader &r);
