// The frame reader: control messages, frames, break-offs, passed-over
// frames and the bytes still due.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/frame_reader.h"
#include "link/wire.h"
#include "wire_frames.h"

namespace {

using wire_frames::Bytes;
using wire_frames::stored_of;
using wire_frames::wire_frame;

const uint8_t OUR_STATION[2] = {0x02, 0x10};

// What the receiver takes while it waits for a data frame.
const FrameRules DATA_PHASE = {FC_STX,          0, FC_ENQ | FC_EOT | FC_ACK | FC_NAK | FC_WACK,
                               FC_ENQ | FC_EOT, 0, 0};
// What the sender takes while it waits for the answer to a frame.
const FrameRules ANSWERS = {0,
                            FC_SOH | FC_STX,
                            FC_EOT | FC_ENQ | FC_ACK | FC_NAK | FC_WACK,
                            FC_EOT | FC_ACK | FC_NAK | FC_WACK,
                            0,
                            0};

// One event as text, so that a sequence compares in one line.
std::string text_of(const FrameEvent &e, const FrameReader &r)
{
    const FrameView f = frame_reader_frame(r);
    char buf[64];
    switch (e.kind) {
    case FrameEventKind::Message:
        std::snprintf(buf, sizeof buf, "msg %02X %02X%02X", e.code, e.station[0], e.station[1]);
        return buf;
    case FrameEventKind::OtherStation:
        std::snprintf(buf, sizeof buf, "other %02X", e.code);
        return buf;
    case FrameEventKind::Frame:
        std::snprintf(buf, sizeof buf, "frame %02X %u%s%s", e.code, f.length,
                      f.overflow ? " over" : "",
                      f.check == FRAME_GOOD        ? " good"
                      : f.check == FRAME_BAD_CHECK ? " bad-check"
                                                   : " bad-length");
        return buf;
    case FrameEventKind::Skipped:
        std::snprintf(buf, sizeof buf, "skipped %02X", e.code);
        return buf;
    case FrameEventKind::BreakOff: std::snprintf(buf, sizeof buf, "break %02X", e.code); return buf;
    default: return "";
    }
}

struct Heard {
    std::vector<std::string> events;   // every event but None and Stray
    int strays = 0;
    Bytes last_frame;   // the stored bytes of the last frame
};

Heard feed(FrameReader &r, const Bytes &bytes)
{
    Heard run;
    for (uint8_t b : bytes) {
        FrameEvent e = frame_reader_feed(r, b);
        if (e.kind == FrameEventKind::Stray)
            ++run.strays;
        else if (e.kind != FrameEventKind::None)
            run.events.push_back(text_of(e, r));
        if (e.kind == FrameEventKind::Frame) {
            const FrameView f = frame_reader_frame(r);
            run.last_frame.assign(f.bytes, f.bytes + f.length);
        }
    }
    return run;
}

using Events = std::vector<std::string>;

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct Reader {
    uint8_t store[64 + 8];
    FrameReader r;
    explicit Reader(const FrameRules &rules, uint32_t size = 64)
    {
        std::memset(store, 0xEE, sizeof store);
        frame_reader_init(r, rules, OUR_STATION, store, size);
    }
};

}   // namespace

TEST(FrameReader, ControlMessagesCarryTheirCodeAndStation)
{
    Reader rd(DATA_PHASE);
    Heard run = feed(rd.r,
                     {0x10, 0x06, 0x77, 0x88, 0x10, 0x05, 0x02, 0x10, 0x10, 0x04, 0x02, 0x10});
    // ACK is not addressed here: any station; ENQ and EOT are, and name ours.
    EXPECT_EQ(run.events, (Events{"msg 06 7788", "msg 05 0210", "msg 04 0210"}));
    EXPECT_EQ(run.strays, 0);
}

TEST(FrameReader, AnAddressedMessageEndsAtTheFirstByteOfAnotherStation)
{
    Reader rd(DATA_PHASE);
    // The differing first byte ends the EOT at once: the DLE right after it
    // starts a new message instead of being taken as its second byte.
    Heard run = feed(rd.r, {0x10, 0x04, 0x03, 0x10, 0x05, 0x02, 0x10});
    EXPECT_EQ(run.events, (Events{"other 04", "msg 05 0210"}));
    // The second byte differing ends it there as well.
    run = feed(rd.r, {0x10, 0x04, 0x02, 0x11, 0x10, 0x04, 0x02, 0x10});
    EXPECT_EQ(run.events, (Events{"other 04", "msg 04 0210"}));
}

TEST(FrameReader, ACodeNotTakenHereAndADoubledDleSendItBackToHunting)
{
    Reader rd(DATA_PHASE);
    // SOH is no frame in this phase; DLE DLE is no message; the third DLE
    // starts one.
    Heard run = feed(
        rd.r, {0x10, 0x01, 0x10, 0x10, 0x06, 0x02, 0x11, 0x10, 0x10, 0x10, 0x15, 0x00, 0x00});
    EXPECT_EQ(run.events, (Events{"msg 15 0000"}));
    // SOH; the second DLE; ACK and its station read while hunting; the
    // second DLE of the next pair.
    EXPECT_EQ(run.strays, 6);
    EXPECT_EQ(frame_reader_pos(rd.r), FramePos::Hunt);
}

TEST(FrameReader, AFrameIsStoredWithItsDoubledDlesCollapsed)
{
    const Bytes body = {0x02, 0x10, '0', '0', '0', '0', '1', 'A', 0x10, 0x10, 'Z'};
    Reader rd(DATA_PHASE);
    Heard run = feed(rd.r, cat({{0x33, 0x44}, wire_frame(cSTX, body)}));
    EXPECT_EQ(run.events, (Events{"frame 02 14 good"}));
    EXPECT_EQ(run.last_frame, stored_of(body));
    EXPECT_EQ(run.strays, 2);
}

TEST(FrameReader, CheckBytesAreTakenAsTheyComeEvenWhenOneIsADle)
{
    // Find a body whose check has a 0x10 byte: it goes on the wire single.
    Bytes body = {0x02, 0x10, 'x'};
    for (int v = 0; v < 256; ++v) {
        body[2] = static_cast<uint8_t>(v);
        Bytes s = stored_of(body);
        if (s[s.size() - 2] == cDLE || s[s.size() - 1] == cDLE)
            break;
    }
    Bytes s = stored_of(body);
    ASSERT_TRUE(s[s.size() - 2] == cDLE || s[s.size() - 1] == cDLE);
    Reader rd(DATA_PHASE);
    Heard run = feed(rd.r, cat({wire_frame(cSTX, body), {0x10, 0x04, 0x02, 0x10}}));
    EXPECT_EQ(run.events, (Events{"frame 02 6 good", "msg 04 0210"}));
}

TEST(FrameReader, ACorruptedFrameIsReportedWithABadCheck)
{
    Bytes w = wire_frame(cSTX, {0x02, 0x10, 'a', 'b', 'c'});
    w[6] ^= 0x01;
    Reader rd(DATA_PHASE);
    EXPECT_EQ(feed(rd.r, w).events, (Events{"frame 02 8 bad-check"}));
    // An empty body is a frame; a buffer too small for it gives a bad
    // length, not a crash.
    Reader rd2(DATA_PHASE);
    EXPECT_EQ(feed(rd2.r, wire_frame(cSTX, {})).events, (Events{"frame 02 3 good"}));
    Reader rd3(DATA_PHASE, 2);
    EXPECT_EQ(feed(rd3.r, wire_frame(cSTX, {})).events, (Events{"frame 02 2 over bad-length"}));
}

TEST(FrameReader, AFrameLongerThanTheBufferIsMarkedAndNothingIsWrittenPastIt)
{
    Bytes body(20, 'q');
    Reader exact(DATA_PHASE, 23);   // body, terminator and check fill it exactly
    EXPECT_EQ(feed(exact.r, wire_frame(cSTX, body)).events, (Events{"frame 02 23 good"}));
    Reader small(DATA_PHASE, 22);
    EXPECT_EQ(feed(small.r, wire_frame(cSTX, body)).events,
              (Events{"frame 02 22 over bad-length"}));
    for (size_t i = 22; i < sizeof small.store; ++i)
        EXPECT_EQ(small.store[i], 0xEE) << i;
    // The next frame starts afresh.
    EXPECT_EQ(feed(small.r, wire_frame(cSTX, {1, 2})).events, (Events{"frame 02 5 good"}));
}

TEST(FrameReader, AnEnquiryInsideABodyBreaksTheFrameOff)
{
    Reader rd(DATA_PHASE);
    // The enquiry names our station: break-off, then the enquiry.
    Heard run = feed(rd.r, {0x10, 0x02, 'a', 'b', 0x10, 0x05, 0x02, 0x10});
    EXPECT_EQ(run.events, (Events{"break 02", "msg 05 0210"}));
    // Another station's: the break-off, then the enquiry ends unheard.
    run = feed(rd.r, {0x10, 0x02, 'a', 0x10, 0x05, 0x09, 0x10, 0x02, 'z', 0x10, 0x03});
    EXPECT_EQ(run.events, (Events{"break 02", "other 05"}));
    EXPECT_EQ(frame_reader_pos(rd.r), FramePos::Check);
    // Other codes after a DLE in a body are data: the DLE goes, the code
    // is stored.
    Reader rd2(DATA_PHASE);
    Bytes body = {0x02, 0x10, 0x04, 0x06};
    Bytes wire = {0x10, 0x02, 0x02, 0x10, 0x10, 0x10, 0x04, 0x10, 0x06};
    Bytes s = stored_of(body);
    wire.insert(wire.end(), {0x10, 0x03, s[s.size() - 2], s[s.size() - 1]});
    Heard heard = feed(rd2.r, wire);
    EXPECT_EQ(heard.events, (Events{"frame 02 7 good"}));
    EXPECT_EQ(heard.last_frame, s);
}

TEST(FrameReader, APassedOverFrameEndsAtItsTerminatorOrAControlCode)
{
    Reader rd(ANSWERS);
    // A frame holding answer-like bytes and a doubled DLE, then an ACK.
    Heard run = feed(rd.r, {0x10, 0x02, 0x02, 0x10, 0x10, 0x06, 0x02, 0x10, 0x10, 0x10, 0x03, 0x06,
                            0x15, 0x10, 0x06, 0x02, 0x10});
    EXPECT_EQ(run.events, (Events{"skipped 02", "msg 06 0210"}));
    // DLE ACK inside it ends it with the two bytes after: they are no answer.
    run = feed(rd.r, {0x10, 0x01, 'h', 0x10, 0x06, 0x02, 0x10, 0x10, 0x15, 0x02, 0x10});
    EXPECT_EQ(run.events, (Events{"skipped 01", "msg 15 0210"}));
    EXPECT_EQ(run.strays, 0);
}

TEST(FrameReader, RulesChangedBetweenMessagesApplyAfterTheNextDle)
{
    Reader rd(FrameRules{0, 0, FC_ENQ, 0, 0, 0});
    EXPECT_EQ(feed(rd.r, {0x10, 0x06, 0x10, 0x05, 0x01, 0x02}).events, (Events{"msg 05 0102"}));
    frame_reader_set_rules(rd.r, DATA_PHASE);
    EXPECT_EQ(feed(rd.r, {0x10, 0x06, 0x01, 0x02}).events, (Events{"msg 06 0102"}));
    frame_reader_reset(rd.r);
    EXPECT_EQ(frame_reader_pos(rd.r), FramePos::Hunt);
}

TEST(FrameReader, BytesDueCountTheStationAndCheckBytesLeft)
{
    Reader rd(DATA_PHASE);
    const Bytes msg = {0x10, 0x15, 0x00, 0x00};
    const uint32_t due_after[] = {0, 2, 1, 0};   // after the DLE the code is not known yet
    for (size_t i = 0; i < msg.size(); ++i) {
        frame_reader_feed(rd.r, msg[i]);
        EXPECT_EQ(frame_reader_bytes_due(rd.r), due_after[i]) << i;
    }
    // A frame whose size is not known: nothing until its terminator.
    Bytes w = wire_frame(cSTX, {0x02, 0x10, 'a'});
    for (size_t i = 0; i + 3 < w.size(); ++i) {
        frame_reader_feed(rd.r, w[i]);
        EXPECT_EQ(frame_reader_bytes_due(rd.r), 0u) << i;
    }
    frame_reader_feed(rd.r, w[w.size() - 3]);   // the terminator
    EXPECT_EQ(frame_reader_bytes_due(rd.r), 2u);
    frame_reader_feed(rd.r, w[w.size() - 2]);
    EXPECT_EQ(frame_reader_bytes_due(rd.r), 1u);
}

TEST(FrameReader, BytesDueOfAFrameOfKnownSizeAreTheWireBytesLeft)
{
    const Bytes body = {0x02, 0x11, '0', '0', '0', '0', '7', 'a', 'b', 'c'};
    FrameRules rules = DATA_PHASE;
    rules.expected_stx = static_cast<uint16_t>(body.size() + 3);
    Reader rd(rules);
    Bytes w = wire_frame(cSTX, body);
    ASSERT_EQ(w.size(), body.size() + 6);   // no DLE in it
    frame_reader_feed(rd.r, w[0]);
    EXPECT_EQ(frame_reader_bytes_due(rd.r), 0u);   // only a DLE so far
    for (size_t i = 1; i < w.size(); ++i) {
        frame_reader_feed(rd.r, w[i]);
        EXPECT_EQ(frame_reader_bytes_due(rd.r), w.size() - 1 - i) << i;
    }
}

TEST(FrameReader, BytesDueNeverPromiseMoreThanTheFrameBrings)
{
    // Doubled DLEs only add bytes; a frame longer than announced stops the
    // count instead of letting it run below zero.
    const Bytes body = {0x02, 0x10, 0x10, 0x10, 'a', 0x10};
    FrameRules rules = DATA_PHASE;
    rules.expected_stx = static_cast<uint16_t>(body.size() + 3);
    Bytes w = wire_frame(cSTX, body);
    Reader rd(rules);
    for (size_t i = 0; i < w.size(); ++i) {
        frame_reader_feed(rd.r, w[i]);
        EXPECT_LE(frame_reader_bytes_due(rd.r), w.size() - 1 - i) << i;
    }
    rules.expected_stx = 5;   // shorter than this frame
    Reader shorter(rules);
    Bytes longer = wire_frame(cSTX, Bytes(12, 'x'));
    for (size_t i = 0; i + 3 < longer.size(); ++i) {
        frame_reader_feed(shorter.r, longer[i]);
        EXPECT_LE(frame_reader_bytes_due(shorter.r), longer.size() - 1 - i) << i;
    }
}
