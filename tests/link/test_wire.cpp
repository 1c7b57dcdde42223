// Wire format: CRC-16, field writers, DLE transparency, control messages,
// the line reader and the check of received frames.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "download/line_reader.h"
#include "link/wire.h"

using Bytes = std::vector<uint8_t>;

TEST(Wire, CrcMatchesTheKnownCheckValuesAndTable)
{
    const uint8_t *digits = reinterpret_cast<const uint8_t *>("123456789abc");
    EXPECT_EQ(crc16(digits, 9), 0xBB3D);
    EXPECT_EQ(crc16(digits + 9, 3), 0x9738);
    EXPECT_EQ(crc16_update(crc16(digits, 4), digits + 4, 5), 0xBB3D);
    // From 0 a single byte b gives table entry b.
    const uint8_t one_two[2] = {1, 2};
    EXPECT_EQ(crc16(one_two, 1), 0xC0C1);
    EXPECT_EQ(crc16(one_two + 1, 1), 0xC181);
}

// The header frame of TEST.PD3 announcing no records, as built before
// stuffing: DLE SOH, station, name, count, ETX, check.
static Bytes built_pd3_header(uint8_t hi, uint8_t lo)
{
    uint8_t buf[FRAME_BUF_SIZE];
    uint8_t *p = put_seq(put_seq(buf, DLEstr), SOHstr);
    *p++ = hi;
    *p++ = lo;
    p = put_number(put_text(p, "TEST.PD3", 12), 0, 5);
    p = put_seq(p, ETXstr);
    uint16_t crc = crc16(buf + 2, static_cast<size_t>(p - buf - 2));
    *p++ = static_cast<uint8_t>(crc & 0xFF);
    *p++ = static_cast<uint8_t>(crc >> 8);
    return Bytes(buf, p);
}

static Bytes stuffed(const Bytes &built)
{
    uint8_t out[FRAME_BUF_SIZE];
    int n = stuff_frame(built.data(), static_cast<int>(built.size()), out);
    return Bytes(out, out + (n > 0 ? n : 0));
}

TEST(Wire, HeaderFrameGoesOutByteExact)
{
    const Bytes expected = {0x10, 0x01, 0x00, 0x00, 0x54, 0x45, 0x53, 0x54, 0x2E,
                            0x50, 0x44, 0x33, 0x20, 0x20, 0x20, 0x20, 0x30, 0x30,
                            0x30, 0x30, 0x30, 0x10, 0x03, 0x11, 0x16};
    EXPECT_EQ(stuffed(built_pd3_header(0, 0)), expected);
}

TEST(Wire, StationDleIsDoubledOnTheWireButCheckedOnce)
{
    Bytes built = built_pd3_header(0x02, 0x10);
    Bytes wire = stuffed(built);
    // One DLE more than the built form for the terminator, one for the station.
    ASSERT_EQ(wire.size(), built.size() + 2);
    EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 6), (Bytes{0x10, 0x01, 0x02, 0x10, 0x10, 0x54}));
    EXPECT_EQ(Bytes(wire.end() - 4, wire.end()), (Bytes{0x10, 0x03, 0xAC, 0x37}));
    // The receiver's view: body, terminator and check give a zero CRC.
    EXPECT_EQ(frame_check(built.data() + 2, static_cast<int>(built.size()) - 2, false, 2),
              FRAME_GOOD);
}

TEST(Wire, FrameCheckRefusesOverflowAndShortFramesWhateverTheirCrc)
{
    Bytes built = built_pd3_header(0, 0);
    const uint8_t *stored = built.data() + 2;
    const int length = static_cast<int>(built.size()) - 2;
    ASSERT_EQ(frame_check(stored, length, false, 2), FRAME_GOOD);
    // The receiver kept only the first bytes of a longer frame: that they
    // happen to check is no reason to take them.
    EXPECT_EQ(frame_check(stored, length, true, 2), FRAME_BAD_LENGTH);
    // Nothing but the check bytes, or less.
    static const uint8_t zeros[3] = {0, 0, 0};
    EXPECT_EQ(frame_check(zeros, 2, false, 2), FRAME_BAD_LENGTH);
    EXPECT_EQ(frame_check(zeros, 3, false, 2), FRAME_GOOD);
    Bytes spoiled(stored, stored + length);
    spoiled[3] ^= 0x01;
    EXPECT_EQ(frame_check(spoiled.data(), length, false, 2), FRAME_BAD_CHECK);
}

TEST(Wire, StuffingRefusesFramesTooShortOrTooLong)
{
    uint8_t out[FRAME_BUF_SIZE];
    static uint8_t dles[FRAME_BUF_SIZE];
    std::memset(dles, cDLE, sizeof dles);
    EXPECT_EQ(stuff_frame(dles, 4, out), 0);
    // Every content byte doubled no longer fits the wire buffer.
    EXPECT_EQ(stuff_frame(dles, 500, out), 0);
}

TEST(Wire, ControlMessageCarriesTheStation)
{
    uint8_t msg[CTRL_MSG_LEN];
    const uint8_t zero[2] = {0, 0};
    make_ctrl_msg(msg, cACK, zero);
    EXPECT_EQ(Bytes(msg, msg + 4), (Bytes{0x10, 0x06, 0x00, 0x00}));
}

TEST(Wire, FieldWritersPadCutAndRefuse)
{
    uint8_t buf[8];
    EXPECT_EQ(put_text(buf, "AB", 5), buf + 5);
    EXPECT_EQ(std::string(buf, buf + 5), "AB   ");
    put_text(buf, "ABCDEFG", 3);
    EXPECT_EQ(std::string(buf, buf + 3), "ABC");

    EXPECT_EQ(put_number(buf, 7, 5), buf + 5);
    EXPECT_EQ(std::string(buf, buf + 5), "00007");
    std::memset(buf, 0xAA, sizeof buf);
    EXPECT_EQ(put_number(buf, 40000, 5), nullptr);
    EXPECT_EQ(put_number(buf, -1, 5), nullptr);
    EXPECT_EQ(put_number(buf, 1, 6), nullptr);
    // Too many digits for the field: refused, not cut to "10".
    EXPECT_EQ(put_number(buf, 100, 2), nullptr);
    EXPECT_EQ(Bytes(buf, buf + 8), Bytes(8, 0xAA));
}

// A temporary file holding bytes, positioned at its start.
static FILE *file_of(const std::string &bytes)
{
    FILE *fp = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), fp);
    std::rewind(fp);
    return fp;
}

// The next line's stored characters, or "<eof>".
static std::string next_line(FILE *fp, int capacity = 64, int *len_out = nullptr)
{
    char buf[64];
    int len = -99;
    if (read_line(buf, capacity, fp, &len) == nullptr)
        return "<eof>";
    if (len_out)
        *len_out = len;
    return std::string(buf, static_cast<size_t>(len < capacity ? len : capacity));
}

TEST(Wire, ReadLineEndsOnlyAtCrLfAndDropsAFinalCtrlZ)
{
    FILE *fp = file_of("AB\nC\r\n\r\nX\rY\r\r\nlast");
    EXPECT_EQ(next_line(fp), "AB\nC");
    EXPECT_EQ(next_line(fp), "");
    EXPECT_EQ(next_line(fp), "X\rY\r");   // lone CR is data
    EXPECT_EQ(next_line(fp), "last");     // final line without CR LF
    EXPECT_EQ(next_line(fp), "<eof>");
    std::fclose(fp);

    fp = file_of("CD\x1A");   // a final Ctrl-Z is dropped
    EXPECT_EQ(next_line(fp), "CD");
    std::fclose(fp);
    fp = file_of("AB\r\n\x1A");   // Ctrl-Z alone: end of file at once
    EXPECT_EQ(next_line(fp), "AB");
    EXPECT_EQ(next_line(fp), "<eof>");
    std::fclose(fp);
}

TEST(Wire, ReadLineCutsAtCapacityAndConsumesTheRest)
{
    FILE *fp = file_of("ABCDEFG\r\nH\r\n");
    int len = 0;
    EXPECT_EQ(next_line(fp, 3, &len), "ABC");
    EXPECT_EQ(len, 7);
    EXPECT_EQ(next_line(fp, 3), "H");
    // Counting without storage.
    std::rewind(fp);
    int lines = 0;
    while (read_line(nullptr, 0, fp, &len) != nullptr)
        ++lines;
    EXPECT_EQ(lines, 2);
    std::fclose(fp);
}
