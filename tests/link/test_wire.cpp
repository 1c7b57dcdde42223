// Wire format: CRC-16, field writers, DLE transparency, control messages,
// the line reader and the check of received frames.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "link/wire.h"

using Bytes = std::vector<uint8_t>;

static uint16_t crc_of(const char *text)
{
    return crc16(reinterpret_cast<const uint8_t *>(text), std::strlen(text));
}

TEST(Wire, CrcMatchesTheKnownCheckValuesAndTable)
{
    EXPECT_EQ(crc_of("123456789"), 0xBB3D);
    EXPECT_EQ(crc_of("abc"), 0x9738);
    EXPECT_EQ(crc_of(""), 0x0000);
    // From 0 a single byte b gives table entry b.
    const uint8_t one = 1, two = 2;
    EXPECT_EQ(crc16(&one, 1), 0xC0C1);
    EXPECT_EQ(crc16(&two, 1), 0xC181);
    // Continuing a running value equals one pass.
    const uint8_t *d = reinterpret_cast<const uint8_t *>("123456789");
    EXPECT_EQ(crc16_update(crc16(d, 4), d + 4, 5), 0xBB3D);
}

// Builds the header frame of TEST.PD3 announcing no records, as it is laid
// out before stuffing: DLE SOH, station, name, count, ETX, check.
static Bytes built_pd3_header(uint8_t hi, uint8_t lo)
{
    uint8_t buf[FRAME_BUF_SIZE];
    uint8_t *p = put_seq(buf, DLEstr);
    p = put_seq(p, SOHstr);
    const uint8_t *span = p;
    *p++ = hi;
    *p++ = lo;
    p = put_text(p, "TEST.PD3", 12);
    p = put_number(p, 0, 5);
    p = put_seq(p, ETXstr);
    uint16_t crc = crc16(span, static_cast<size_t>(p - span));
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
    const Bytes expected = {0x10, 0x01, 0x00, 0x00, 0x54, 0x45, 0x53, 0x54, 0x2E, 0x50,
                            0x44, 0x33, 0x20, 0x20, 0x20, 0x20, 0x30, 0x30, 0x30, 0x30,
                            0x30, 0x10, 0x03, 0x11, 0x16};
    EXPECT_EQ(stuffed(built_pd3_header(0, 0)), expected);
}

TEST(Wire, StationDleIsDoubledOnTheWireButCheckedOnce)
{
    Bytes built = built_pd3_header(0x02, 0x10);
    Bytes wire = stuffed(built);
    // One DLE more than the built form for the terminator, one for the station.
    ASSERT_EQ(wire.size(), built.size() + 2);
    const Bytes start = {0x10, 0x01, 0x02, 0x10, 0x10, 0x54};
    EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 6), start);
    // Check value 0x37AC, low byte first, behind DLE ETX.
    const Bytes tail = {0x10, 0x03, 0xAC, 0x37};
    EXPECT_EQ(Bytes(wire.end() - 4, wire.end()), tail);
    // The receiver's view: body, terminator and check give a zero CRC.
    EXPECT_EQ(frame_check(built.data() + 2, static_cast<int>(built.size()) - 2, false, 2),
              FRAME_GOOD);
}

TEST(Wire, StuffingRefusesFramesTooShortOrTooLong)
{
    uint8_t out[FRAME_BUF_SIZE];
    const uint8_t tiny[4] = {0x10, 0x02, 0x03, 0x00};
    EXPECT_EQ(stuff_frame(tiny, 4, out), 0);
    // Every content byte a DLE: doubled it no longer fits the wire buffer.
    static uint8_t big[FRAME_BUF_SIZE];
    std::memset(big, cDLE, sizeof big);
    EXPECT_EQ(stuff_frame(big, 500, out), 0);
}

TEST(Wire, ControlMessageCarriesTheStation)
{
    uint8_t msg[CTRL_MSG_LEN];
    const uint8_t zero[2] = {0, 0};
    make_ctrl_msg(msg, cACK, zero);
    EXPECT_EQ(Bytes(msg, msg + 4), (Bytes{0x10, 0x06, 0x00, 0x00}));
    const uint8_t st[2] = {0x12, 0x34};
    make_ctrl_msg(msg, cEOT, st);
    EXPECT_EQ(Bytes(msg, msg + 4), (Bytes{0x10, 0x04, 0x12, 0x34}));
}

TEST(Wire, SequencesAreTheDocumentedBytes)
{
    EXPECT_EQ(ETBstr.len, 1);
    EXPECT_EQ(ETBstr.bytes[0], 0x03);   // same as ETX, not ASCII ETB
    EXPECT_EQ(SEPstr.len, 0);
    uint8_t buf[2] = {0xAA, 0xAA};
    EXPECT_EQ(put_seq(buf, SEPstr), buf);
    EXPECT_EQ(buf[0], 0xAA);
}

TEST(Wire, PutTextPadsAndCuts)
{
    uint8_t buf[8];
    std::memset(buf, 0xAA, sizeof buf);
    EXPECT_EQ(put_text(buf, "AB", 5), buf + 5);
    EXPECT_EQ(std::string(buf, buf + 5), "AB   ");
    EXPECT_EQ(buf[5], 0xAA);
    EXPECT_EQ(put_text(buf, "ABCDEFG", 3), buf + 3);
    EXPECT_EQ(std::string(buf, buf + 3), "ABC");
}

TEST(Wire, PutNumberWritesZeroFilledDigitsOrNothing)
{
    uint8_t buf[8];
    std::memset(buf, 0xAA, sizeof buf);
    EXPECT_EQ(put_number(buf, 7, 5), buf + 5);
    EXPECT_EQ(std::string(buf, buf + 5), "00007");
    EXPECT_EQ(put_number(buf, 32767, 5), buf + 5);
    EXPECT_EQ(std::string(buf, buf + 5), "32767");
    EXPECT_EQ(put_number(buf, 16, 2), buf + 2);
    EXPECT_EQ(std::string(buf, buf + 2), "16");

    std::memset(buf, 0xAA, sizeof buf);
    EXPECT_EQ(put_number(buf, 40000, 5), nullptr);
    EXPECT_EQ(put_number(buf, -1, 5), nullptr);
    EXPECT_EQ(put_number(buf, 1, 0), nullptr);
    EXPECT_EQ(put_number(buf, 1, 6), nullptr);
    // Too many digits for the field: refused, not cut to "10".
    EXPECT_EQ(put_number(buf, 100, 2), nullptr);
    for (uint8_t b : buf)
        EXPECT_EQ(b, 0xAA);
}

TEST(Wire, FrameCheckSortsLengthAndCheckFaults)
{
    uint8_t good[] = {'a', 'b', 'c', 0x03, 0, 0};
    uint16_t crc = crc16(good, 4);
    good[4] = static_cast<uint8_t>(crc & 0xFF);
    good[5] = static_cast<uint8_t>(crc >> 8);
    EXPECT_EQ(frame_check(good, 6, false, 2), FRAME_GOOD);
    EXPECT_EQ(frame_check(good, 6, true, 2), FRAME_BAD_LENGTH);
    EXPECT_EQ(frame_check(good, 2, false, 2), FRAME_BAD_LENGTH);
    good[1] ^= 0x01;
    EXPECT_EQ(frame_check(good, 6, false, 2), FRAME_BAD_CHECK);
}

// A temporary file holding bytes, positioned at its start.
static FILE *file_of(const std::string &bytes)
{
    FILE *fp = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), fp);
    std::rewind(fp);
    return fp;
}

struct Line {
    bool got;
    std::string text;   // the stored characters, at most the capacity
    int len;
};

static Line next_line(FILE *fp, int capacity = 64)
{
    char buf[64];
    int len = -99;
    char *r = read_line(buf, capacity, fp, &len);
    int keep = len < capacity ? len : capacity;
    return {r != nullptr, r ? std::string(buf, static_cast<size_t>(keep)) : "", len};
}

TEST(Wire, ReadLineEndsOnlyAtCrLf)
{
    FILE *fp = file_of("AB\nC\r\n\r\nX\rY\r\r\nlast");
    Line l = next_line(fp);
    EXPECT_TRUE(l.got);
    EXPECT_EQ(l.text, "AB\nC");
    l = next_line(fp);   // empty line
    EXPECT_TRUE(l.got);
    EXPECT_EQ(l.len, 0);
    l = next_line(fp);   // lone CR is data; CR CR LF keeps the first CR
    EXPECT_EQ(l.text, "X\rY\r");
    l = next_line(fp);   // final line without CR LF
    EXPECT_TRUE(l.got);
    EXPECT_EQ(l.text, "last");
    EXPECT_FALSE(next_line(fp).got);
    std::fclose(fp);
}

TEST(Wire, ReadLineDropsAFinalCtrlZ)
{
    FILE *fp = file_of("AB\r\nCD\x1A");
    EXPECT_EQ(next_line(fp).text, "AB");
    Line l = next_line(fp);
    EXPECT_TRUE(l.got);
    EXPECT_EQ(l.len, 2);
    EXPECT_EQ(l.text, "CD");
    std::fclose(fp);

    fp = file_of("AB\r\n\x1A");   // Ctrl-Z alone: end of file at once
    EXPECT_TRUE(next_line(fp).got);
    EXPECT_FALSE(next_line(fp).got);
    std::fclose(fp);
}

TEST(Wire, ReadLineCutsAtCapacityAndConsumesTheRest)
{
    FILE *fp = file_of("ABCDEFG\r\nH\r\n");
    Line l = next_line(fp, 3);
    EXPECT_EQ(l.len, 7);
    EXPECT_EQ(l.text, "ABC");
    EXPECT_EQ(next_line(fp, 3).text, "H");
    // Counting without storage.
    std::rewind(fp);
    int len = -1, lines = 0;
    while (read_line(nullptr, 0, fp, &len) != nullptr)
        ++lines;
    EXPECT_EQ(lines, 2);
    EXPECT_TRUE(std::feof(fp));
    std::fclose(fp);
}
