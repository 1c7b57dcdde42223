// The byte-at-a-time receiver of frames and control messages.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "link/frame_rx.h"
#include "link/packet_fields.h"
#include "link/wire.h"

using Bytes = std::vector<uint8_t>;

namespace {

class FrameRxTest : public ::testing::Test {
protected:
    void SetUp() override { frame_rx_reset(&rx); }

    // Feeds bytes; returns the events other than FRX_NONE in order.
    std::vector<int> feed(const Bytes &bytes)
    {
        std::vector<int> events;
        for (uint8_t b : bytes) {
            int e = frame_rx_feed(&rx, b);
            if (e != FRX_NONE)
                events.push_back(e);
        }
        return events;
    }

    FrameRx rx;
};

// The wire form of a frame: opening, body with the given content, check.
Bytes wire_frame(uint8_t opening, const Bytes &content)
{
    uint8_t built[FRAME_BUF_SIZE];
    uint8_t *p = built;
    *p++ = cDLE;
    *p++ = opening;
    std::memcpy(p, content.data(), content.size());
    p += content.size();
    *p++ = cETX;
    uint16_t crc = crc16(built + 2, static_cast<size_t>(p - built - 2));
    *p++ = static_cast<uint8_t>(crc & 0xFF);
    *p++ = static_cast<uint8_t>(crc >> 8);
    uint8_t out[FRAME_BUF_SIZE];
    int n = stuff_frame(built, static_cast<int>(p - built), out);
    return Bytes(out, out + n);
}

}  // namespace

TEST_F(FrameRxTest, FrameWithDoubledDlesIsStoredUndoubled)
{
    const Bytes content = {0x02, 0x10, 'T', 0x10, 0x03, 'X'};
    Bytes wire = wire_frame(cSTX, content);
    Bytes noise = {0x41, 0x03, 0xFF};
    noise.insert(noise.end(), wire.begin(), wire.end());
    EXPECT_EQ(feed(noise), std::vector<int>{FRX_FRAME});
    EXPECT_EQ(rx.kind, cSTX);
    EXPECT_FALSE(rx.over);
    ASSERT_EQ(rx.len, static_cast<int>(content.size()) + 3);
    EXPECT_EQ(Bytes(rx.text, rx.text + content.size()), content);
    EXPECT_EQ(frame_check(rx.text, rx.len, rx.over, 2), FRAME_GOOD);
    rx.text[2] ^= 0x01;
    EXPECT_EQ(frame_check(rx.text, rx.len, rx.over, 2), FRAME_BAD_CHECK);

    // A header frame right behind it is received as well.
    EXPECT_EQ(feed(wire_frame(cSOH, {0x00, 0x00, 'A'})), std::vector<int>{FRX_FRAME});
    EXPECT_EQ(rx.kind, cSOH);
    EXPECT_EQ(rx.len, 6);
}

TEST_F(FrameRxTest, ControlMessagesReportCodeAndStation)
{
    EXPECT_EQ(feed({0x10, 0x06, 0x12, 0x34}), std::vector<int>{FRX_CTRL});
    EXPECT_EQ(rx.code, cACK);
    EXPECT_EQ(rx.station[0], 0x12);
    EXPECT_EQ(rx.station[1], 0x34);
    EXPECT_FALSE(rx.abandoned);
    // DLE DLE and an unknown code return to hunting.
    EXPECT_TRUE(feed({0x10, 0x10, 0x06, 0x00, 0x00, 0x10, 0x41, 0x06, 0x00, 0x00}).empty());
    EXPECT_EQ(feed({0x10, 0x04, 0x10, 0x10}), std::vector<int>{FRX_CTRL});
    EXPECT_EQ(rx.code, cEOT);
    EXPECT_EQ(rx.station[1], 0x10);
}

TEST_F(FrameRxTest, EnquiryInsideABodyAbandonsTheFrame)
{
    EXPECT_EQ(feed({0x10, 0x02, 0x00, 0x00, '0', 0x10, 0x05, 0xAB, 0xCD}),
              std::vector<int>{FRX_CTRL});
    EXPECT_EQ(rx.code, cENQ);
    EXPECT_TRUE(rx.abandoned);
    EXPECT_EQ(rx.station[0], 0xAB);
    EXPECT_EQ(rx.station[1], 0xCD);
}

TEST_F(FrameRxTest, OverlongBodyIsCutAndMarked)
{
    // More than the wire buffers of the sending side hold: written out here.
    Bytes wire = {0x10, 0x02};
    wire.insert(wire.end(), RCV_LIMIT + 50, 'A');
    wire.insert(wire.end(), {0x10, 0x03, 0x00, 0x00});
    EXPECT_EQ(feed(wire), std::vector<int>{FRX_FRAME});
    EXPECT_TRUE(rx.over);
    EXPECT_EQ(rx.len, RCV_LIMIT + 1);
    EXPECT_EQ(frame_check(rx.text, rx.len, rx.over, 2), FRAME_BAD_LENGTH);
    // The next frame starts clean.
    EXPECT_EQ(feed(wire_frame(cSTX, {'B'})), std::vector<int>{FRX_FRAME});
    EXPECT_FALSE(rx.over);
    EXPECT_EQ(rx.len, 4);
}

// Field parsers of a received packet.
static const uint8_t *u(const char *s) { return reinterpret_cast<const uint8_t *>(s); }

TEST(PacketFields, NumbersAreDigitsWithinTheirLimits)
{
    EXPECT_EQ(get_serial_no(u("00000")), 0);
    EXPECT_EQ(get_serial_no(u("32767")), 32767);
    EXPECT_EQ(get_serial_no(u("32768")), -1);
    EXPECT_EQ(get_serial_no(u("0001A")), -1);
    EXPECT_EQ(get_ddigits(u("16"), 2), 16);
    EXPECT_EQ(get_ddigits(u("254"), 3), 254);
    EXPECT_EQ(get_ddigits(u("255"), 3), -1);
    EXPECT_EQ(get_ddigits(u("1"), 0), -1);
}

static int fname(const char *field, std::string *name = nullptr, std::string *ext = nullptr)
{
    char n[FNAME_BASE_SIZE], e[FNAME_EXT_SIZE];
    int r = get_fname(u(field), n, e);
    if (name)
        *name = n;
    if (ext)
        *ext = e;
    return r;
}

TEST(PacketFields, FileNameFieldIsAPaddedEightDotThreeName)
{
    std::string n, e;
    EXPECT_EQ(fname("ABC.TXT     ", &n, &e), 0);
    EXPECT_EQ(n, "ABC");
    EXPECT_EQ(e, ".TXT");
    EXPECT_EQ(fname("data.txt    ", &n, &e), 0);   // copied as they are
    EXPECT_EQ(n + e, "data.txt");
    EXPECT_EQ(fname("ABCDEFGH.TXT", &n, &e), 0);
    EXPECT_EQ(fname("A~B.-{}     "), 0);

    EXPECT_EQ(fname("ABC TXT     "), 70);
    EXPECT_EQ(fname("ABCDEFGHI   "), 70);
    EXPECT_EQ(fname("AB.CDEF     "), 70);
    EXPECT_EQ(fname(".TXT        "), 70);
    EXPECT_EQ(fname("ABC X       "), 70);
    EXPECT_EQ(fname("-AB         "), 70);
    EXPECT_EQ(fname("A*B         "), 70);
}
