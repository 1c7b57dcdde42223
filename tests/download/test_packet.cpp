// Building header and data packets from the file being sent.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "download/packet.h"
#include "link/wire.h"
#include "runtime/settings.h"

using Bytes = std::vector<uint8_t>;

namespace {

class Packet : public ::testing::Test {
protected:
    void SetUp() override { reset_settings(s); }
    void TearDown() override
    {
        if (file.fp)
            std::fclose(file.fp);
    }
    int header() { return make_hd_text(s, station, records_total, buf); }
    // The next data packet's built length, 0 when it failed (status says why).
    int next_data()
    {
        DataPacket p = make_dt_text(s, station, ++serial_no, file, buf);
        status = p.status;
        return p.length;
    }
    PacketBuild next_status()
    {
        next_data();
        return status;
    }
    PacketBuild status = PacketBuild::Built;

    void data_file(const char *base, std::vector<int> widths)
    {
        std::strcpy(s.file.file_name, base);
        std::strcpy(s.file.file_ext, ".TXT");
        s.file.file_type = FT_DATA;
        s.send.ditems = static_cast<int>(widths.size());
        int sum = 0;
        for (size_t i = 0; i < widths.size(); ++i) {
            s.send.ddigits[i] = widths[i];
            sum += widths[i];
        }
        s.send.record_length = sum;
    }

    void program_file(const char *base, const char *ext, int type, int length)
    {
        std::strcpy(s.file.file_name, base);
        std::strcpy(s.file.file_ext, ext);
        s.file.file_type = type;
        s.send.ditems = 0;
        s.send.record_length = length;
    }

    void contents(const std::string &bytes)
    {
        file.fp = std::tmpfile();
        std::fwrite(bytes.data(), 1, bytes.size(), file.fp);
        std::rewind(file.fp);
    }

    // Content of the built header or data packet: the bytes between the
    // opening pair and the terminator, after checking the envelope.
    std::string content(int n, uint8_t opening)
    {
        if (n <= 5)
            return "<not built>";
        EXPECT_EQ(buf[0], cDLE);
        EXPECT_EQ(buf[1], opening);
        EXPECT_EQ(buf[n - 3], cETX);
        EXPECT_EQ(crc16(buf + 2, static_cast<size_t>(n - 2)), 0) << "check bytes";
        return std::string(buf + 2, buf + n - 3);
    }

    // Serial number and record of the next data packet.
    std::string data_record()
    {
        std::string c = content(next_data(), cSTX);
        return c.size() < 2 ? "" : c.substr(2);
    }

    SessionSettings s{};
    SendFile file{};
    uint8_t station[2] = {0, 0};
    int32_t records_total = 0;
    int32_t serial_no = 0;
    uint8_t buf[FRAME_BUF_SIZE];
};

}   // namespace

TEST_F(Packet, DataFileHeaderAndRecordCarryTheLayout)
{
    data_file("DATA", {3, 2});
    contents("ABCDE\r\n");
    records_total = 1;
    station[0] = 0x10;
    station[1] = 0x01;
    int n = header();
    EXPECT_EQ(content(n, cSOH), std::string("\x10\x01") + "DATA.TXT    00001" + "02003002");
    EXPECT_EQ(data_record(), "00001ABCDE");
    EXPECT_EQ(Bytes(buf + 2, buf + 4), (Bytes{0x10, 0x01}));
}

TEST_F(Packet, ProgramHeaderIsTheKnownWireFrame)
{
    program_file("TEST", ".PD3", FT_PD3, 128);
    int n = header();
    uint8_t wire[FRAME_BUF_SIZE];
    int w = stuff_frame(buf, n, wire);
    const Bytes expected = {0x10, 0x01, 0x00, 0x00, 0x54, 0x45, 0x53, 0x54, 0x2E,
                            0x50, 0x44, 0x33, 0x20, 0x20, 0x20, 0x20, 0x30, 0x30,
                            0x30, 0x30, 0x30, 0x10, 0x03, 0x11, 0x16};
    EXPECT_EQ(Bytes(wire, wire + w), expected);
}

TEST_F(Packet, HeaderNotBuiltForValuesOutOfRange)
{
    data_file("ABCDEFGH", {3});
    records_total = 32767;   // the largest count, full-length name
    EXPECT_EQ(content(header(), cSOH).substr(2, 17), "ABCDEFGH.TXT32767");
    records_total = 32768;
    EXPECT_EQ(header(), 0);
    records_total = 1;
    s.send.ddigits[0] = 1000;
    EXPECT_EQ(header(), 0);
}

TEST_F(Packet, DataLinesArePaddedWithSpacesOrCut)
{
    data_file("D", {4, 2});
    contents("AB\r\n\r\nABCDEFGHIJ\r\nX\ny\r\n");
    EXPECT_EQ(data_record(), "00001AB    ");
    EXPECT_EQ(data_record(), "00002      ");    // empty line
    EXPECT_EQ(data_record(), "00003ABCDEF");    // tail not sent
    EXPECT_EQ(data_record(), "00004X\ny   ");   // lone LF is data
    EXPECT_EQ(data_record(), "00005      ");    // past the last line
}

TEST_F(Packet, ProgramLinesArePaddedWithZeros)
{
    program_file("P", ".EX3", FT_EX3, 130);
    contents("HELLO\r\n" + std::string(140, 'z') + "\r\nNEXT\x1A");
    EXPECT_EQ(data_record(), "00001HELLO" + std::string(125, '0'));
    EXPECT_EQ(data_record(), "00002" + std::string(130, 'z'));
    EXPECT_EQ(data_record(), "00003NEXT" + std::string(126, '0'));
}

TEST_F(Packet, FixedRecordsGoOutByteForByteUntilAFaultyOne)
{
    data_file("F", {2, 1});
    s.send.fixed_records = 1;
    contents(
        "A\nB\r\nC\x1A"
        "D\r\nEF");
    EXPECT_EQ(data_record(), "00001A\nB");
    EXPECT_EQ(data_record(),
              "00002C\x1A"
              "D");
    EXPECT_EQ(next_status(), PacketBuild::FixedFault);   // short final record
    EXPECT_EQ(file.fixed_read_error, 1);
    std::fclose(file.fp);
    serial_no = 0;

    contents("ABC\n\nDEF\r\n");   // not followed by CR LF
    EXPECT_EQ(next_status(), PacketBuild::FixedFault);
}

TEST_F(Packet, FixedRecordsOptionReadsProgramFilesByLines)
{
    program_file("P", ".PD3", FT_PD3, 128);
    s.send.fixed_records = 1;
    contents("SHORT\r\n");
    EXPECT_EQ(data_record(), "00001SHORT" + std::string(123, '0'));
}

TEST_F(Packet, DataPacketFailsWithoutAReadableRecord)
{
    data_file("D", {3});
    contents("ABC\r\n");
    // Widths that do not add up to the record length are not copied past it.
    s.send.record_length = 3;
    s.send.ddigits[0] = 4;
    EXPECT_EQ(next_status(), PacketBuild::ReadFailed);
}
