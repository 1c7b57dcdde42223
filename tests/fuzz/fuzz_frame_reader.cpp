// fuzz_frame_reader.cpp - the frame reader on any bytes, with frames and
// control messages built as the link sends them mixed in.
//
// Input: four rule bytes (frames, skipped, messages, addressed: sets of
// FrameCodeBit), the station (two bytes), the buffer size (one byte, times
// 4, at most the receive limit + 1) and the expected size of a header and
// of a data frame (one byte each, times 2).  Then items, each led by a tag
// byte whose low two bits choose:
//   0  garbage: a length byte and that many bytes
//   1  a frame: opening SOH or STX (tag bit 2), a length byte and its body,
//      built and stuffed with link/wire
//   2  a control message: its code byte, then ours (tag bit 2) or the next
//      two bytes as its station
//   3  new rules: four bytes as at the start
// The buffer lies in a block of its exact size, so a write past it is
// caught.
//
// Invariants, for every byte: an event's stored bytes lie in the buffer
// and a good check means a check value that holds; bytes_due never promises
// more bytes than the unit in progress still takes to complete (a frame
// only when it has the size the rules announced).  Oracle:
// a built item that starts while the reader hunts is read back whole - a
// frame whose opening the rules store comes out as that frame at its last
// byte, with its body, terminator and check, good (or with the overflow
// mark when the buffer is too small); one they pass over ends at its last
// byte; a message they take ends at its last byte with its code and
// station, or, when it is addressed to another station, at the first byte
// that differs.
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "link/frame_reader.h"
#include "link/wire.h"
#include "wire_frames.h"

using namespace fuzz;

namespace {

FrameRules rules_of(Input &in)
{
    FrameRules r{};
    r.frames = in.byte();
    r.skipped = in.byte();
    r.messages = in.byte();
    r.addressed = in.byte();
    return r;
}

struct Checker {
    FrameReader r;
    const uint8_t *store;
    uint32_t store_size;
    size_t index = 0;          // bytes fed so far
    size_t earliest_end = 0;   // no unit may complete before this index

    uint32_t expected_of(uint8_t opening) const
    {
        return opening == cSOH ? r.rules.expected_soh : r.rules.expected_stx;
    }

    FrameEvent feed(uint8_t b)
    {
        FrameEvent e = frame_reader_feed(r, b);
        const size_t at = index++;
        const FrameView f = frame_reader_frame(r);
        switch (e.kind) {
        case FrameEventKind::Frame:
            require(f.bytes == store && f.length <= store_size, "frame outside the buffer");
            require(f.overflow || f.length >= FRAME_CHECK_BYTES + 1 || f.check != FRAME_GOOD,
                    "short frame called good");
            if (f.check == FRAME_GOOD)
                require(!f.overflow && crc16(f.bytes, f.length) == 0,
                        "check called good that fails");
            // The count inside a body holds only for a frame of the size
            // the rules announced.
            if (expected_of(e.code) != 0 && (f.overflow || f.length != expected_of(e.code))) {
                earliest_end = 0;
                break;
            }
            [[fallthrough]];
        case FrameEventKind::Message:
        case FrameEventKind::Skipped:
            require(at >= earliest_end, "unit completed before the bytes it was said to be due",
                    std::to_string(at) + " < " + std::to_string(earliest_end));
            earliest_end = 0;
            break;
        case FrameEventKind::None: break;
        default:   // the unit in progress was abandoned or none began
            earliest_end = 0;
            break;
        }
        const uint32_t due = frame_reader_bytes_due(r);
        if (due > 0 && index + due - 1 > earliest_end)
            earliest_end = index + due - 1;
        return e;
    }
};

Bytes take(Input &in, size_t n)
{
    size_t got = 0;
    const uint8_t *p = in.take(n, &got);
    return Bytes(p, p + got);
}

void frame_item(Checker &c, Input &in, uint8_t tag)
{
    const uint8_t opening = tag & 4 ? cSTX : cSOH;
    Bytes body = take(in, in.byte());
    const Bytes wire = wire_frames::wire_frame(opening, body);
    const Bytes stored = wire_frames::stored_of(body);
    require(!wire.empty(), "frame not stuffed");
    const bool hunting = frame_reader_pos(c.r) == FramePos::Hunt;
    const uint16_t bit = frame_code_bit(opening);
    const bool kept = (c.r.rules.frames & bit) != 0;
    const bool passed_over = !kept && (c.r.rules.skipped & bit) != 0;
    for (size_t i = 0; i < wire.size(); ++i) {
        FrameEvent e = c.feed(wire[i]);
        if (!hunting || !(kept || passed_over))
            continue;
        const bool last = i + 1 == wire.size();
        if (!last) {
            require(e.kind == FrameEventKind::None, "event inside a frame",
                    std::to_string(static_cast<int>(e.kind)) + " at " + std::to_string(i));
            continue;
        }
        if (passed_over) {
            require(e.kind == FrameEventKind::Skipped && e.code == opening,
                    "passed-over frame not ended");
            continue;
        }
        require(e.kind == FrameEventKind::Frame && e.code == opening, "frame not read back");
        const FrameView f = frame_reader_frame(c.r);
        if (stored.size() <= c.store_size) {
            require(!f.overflow && f.check == FRAME_GOOD, "built frame not good");
            require(f.length == stored.size() &&
                        std::memcmp(f.bytes, stored.data(), stored.size()) == 0,
                    "frame read back differs");
        } else {
            require(f.overflow && f.length == c.store_size && f.check == FRAME_BAD_LENGTH,
                    "overlong frame not marked");
            require(c.store_size == 0 || std::memcmp(f.bytes, stored.data(), c.store_size) == 0,
                    "kept part differs");
        }
    }
}

void message_item(Checker &c, Input &in, uint8_t tag)
{
    const uint8_t code = in.byte();
    uint8_t station[2] = {c.r.station[0], c.r.station[1]};
    if (!(tag & 4)) {
        station[0] = in.byte();
        station[1] = in.byte();
    }
    const Bytes msg = {cDLE, code, station[0], station[1]};
    const bool hunting = frame_reader_pos(c.r) == FramePos::Hunt;
    const uint16_t bit = frame_code_bit(code);
    const bool taken = bit != 0 && !((c.r.rules.frames | c.r.rules.skipped) & bit) &&
                       (c.r.rules.messages & bit);
    const bool addressed = (c.r.rules.addressed & bit) != 0;
    // Where an addressed message for another station ends.
    size_t other_at = 0;
    if (addressed && station[0] != c.r.station[0])
        other_at = 2;
    else if (addressed && station[1] != c.r.station[1])
        other_at = 3;
    for (size_t i = 0; i < msg.size(); ++i) {
        FrameEvent e = c.feed(msg[i]);
        if (!hunting || !taken)
            continue;
        if (other_at != 0 && i == other_at) {
            require(e.kind == FrameEventKind::OtherStation && e.code == code,
                    "other station not seen");
            return;   // the rest is read while hunting
        }
        if (i + 1 < msg.size()) {
            require(e.kind == FrameEventKind::None, "event inside a message");
            continue;
        }
        require(e.kind == FrameEventKind::Message && e.code == code && e.station[0] == station[0] &&
                    e.station[1] == station[1],
                "message not read back");
    }
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Input in(data, size);
    FrameRules rules = rules_of(in);
    const uint8_t station[2] = {in.byte(), in.byte()};
    uint32_t store_size = static_cast<uint32_t>(in.byte()) * 4;
    if (store_size > RCV_LIMIT + 1)
        store_size = RCV_LIMIT + 1;
    rules.expected_soh = static_cast<uint16_t>(in.byte() * 2);
    rules.expected_stx = static_cast<uint16_t>(in.byte() * 2);
    // A block of exactly the buffer's size (at least one byte to point at).
    std::unique_ptr<uint8_t[]> store(new uint8_t[store_size ? store_size : 1]);

    Checker c;
    c.store = store.get();
    c.store_size = store_size;
    frame_reader_init(c.r, rules, station, store.get(), store_size);
    while (in.left() > 0) {
        const uint8_t tag = in.byte();
        switch (tag & 3) {
        case 0:
            for (uint8_t b : take(in, in.byte()))
                c.feed(b);
            break;
        case 1: frame_item(c, in, tag); break;
        case 2: message_item(c, in, tag); break;
        default: {
            FrameRules next = rules_of(in);
            next.expected_soh = rules.expected_soh;
            next.expected_stx = rules.expected_stx;
            frame_reader_set_rules(c.r, next);
            break;
        }
        }
    }
    return 0;
}
