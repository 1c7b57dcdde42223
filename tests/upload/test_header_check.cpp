// The receiving side's checks of header and data packets, and device names.
#include <gtest/gtest.h>

#include "format/dos_name.h"
#include "orv5w32.h"
#include "session/options.h"
#include "upload/header_check.h"
#include "upload/rx_helpers.h"

using namespace rxtest;

namespace {

class HeaderCheck : public ::testing::Test {
protected:
    SessionSettings s = settings_for("/data/", "DATA.TXT");
    ReceivedHeader h;
    HeaderVerdict check(const Bytes &b)
    {
        return check_header(b.data(), static_cast<int>(b.size()), STATION, s, h);
    }
};

TEST_F(HeaderCheck, DataHeaderAnnouncesRecordsAndLayout)
{
    ASSERT_EQ(check(header("DATA.TXT", "00003", {"005", "003"})), HeaderVerdict::Accepted);
    EXPECT_EQ(h.records_announced, 3);
    EXPECT_EQ(h.file_type, FT_DATA);
    EXPECT_EQ(h.ditems, 2);
    EXPECT_EQ(h.ddigits[0], 5);
    EXPECT_EQ(h.ddigits[1], 3);
    EXPECT_EQ(h.record_length, 8);
    EXPECT_FALSE(h.append);
    EXPECT_STREQ(h.name, "DATA");
    EXPECT_STREQ(h.ext, ".TXT");
    EXPECT_STREQ(h.dest_base, "DATA.TXT");
}

TEST_F(HeaderCheck, WidthAndCountLimits)
{
    EXPECT_EQ(check(header("DATA.TXT", "00000", {"254"})),
              HeaderVerdict::Accepted);   // 1 + 254 = 255
    EXPECT_EQ(check(header("DATA.TXT", "32767", {"010"})), HeaderVerdict::Accepted);
    EXPECT_EQ(h.records_announced, 32767);
    EXPECT_EQ(check(header("DATA.TXT", "00001", {"127", "128"})),
              HeaderVerdict::BadContent);   // 257
    EXPECT_EQ(check(header("DATA.TXT", "00001", {"000"})), HeaderVerdict::BadContent);
    EXPECT_EQ(check(header("DATA.TXT", "00001", {"255"})), HeaderVerdict::BadContent);
    EXPECT_EQ(check(header("DATA.TXT", "00001", {"01x"})), HeaderVerdict::BadContent);
    EXPECT_EQ(check(header("DATA.TXT", "32768", {"010"})), HeaderVerdict::BadContent);
    EXPECT_EQ(check(header("DATA.TXT", "0001A", {"010"})), HeaderVerdict::BadContent);
    std::vector<std::string> seventeen(17, "001");
    EXPECT_EQ(check(header("DATA.TXT", "00001", seventeen)), HeaderVerdict::BadContent);
    Bytes none = header("DATA.TXT", "00001", {"005"});
    none[20] = '0';   // field count 00 before one width
    EXPECT_EQ(check(none), HeaderVerdict::BadContent);
}

TEST_F(HeaderCheck, LengthFaultsAskForTheHeaderAgain)
{
    Bytes b = header("DATA.TXT", "00001", {"005", "003"});
    b.insert(b.end() - 3, '7');   // one byte more than two widths
    EXPECT_EQ(check(b), HeaderVerdict::LengthDisagrees);
    b = header("DATA.TXT", "00001", {"005", "003"});
    b.erase(b.end() - 4);   // one byte short
    EXPECT_EQ(check(b), HeaderVerdict::LengthDisagrees);
    EXPECT_EQ(check(Bytes(b.begin(), b.begin() + 21)), HeaderVerdict::TooShort);
    // A data file's header needs its field count.
    EXPECT_EQ(check(header("DATA.TXT", "00001", {}, false)), HeaderVerdict::LengthDisagrees);
    s = settings_for("", "PROG.PD3");
    Bytes prog = header("PROG.PD3", "00002", {}, false);
    EXPECT_EQ(check(prog), HeaderVerdict::Accepted);
    prog.insert(prog.end() - 3, '0');
    EXPECT_EQ(check(prog), HeaderVerdict::LengthDisagrees);
}

TEST_F(HeaderCheck, AnotherStationsHeaderIsNotOurs)
{
    Bytes b = header("DATA.TXT", "00001", {"005"});
    b[1] = 0x35;
    EXPECT_EQ(check(b), HeaderVerdict::OtherStation);
}

TEST_F(HeaderCheck, TerminalNameTakenForFileInAnyCase)
{
    for (const char *arg : {"(file)", "(FILE)"}) {
        s = settings_for("/data/", arg);
        ASSERT_EQ(check(header("data.txt", "00001", {"005"})), HeaderVerdict::Accepted) << arg;
        EXPECT_STREQ(h.name, "DATA");
        EXPECT_STREQ(h.ext, ".TXT");
        EXPECT_STREQ(h.dest_base, "DATA.TXT");
    }
}

TEST_F(HeaderCheck, DestinationKeepsTheUsersSpelling)
{
    s = settings_for("", "data.txt");
    ASSERT_EQ(check(header("OTHER.TXT", "00001", {"005"})), HeaderVerdict::Accepted);
    EXPECT_STREQ(h.name, "DATA");            // name_buf: upper case
    EXPECT_STREQ(h.dest_base, "data.txt");   // created as spelled
}

TEST_F(HeaderCheck, NameRules)
{
    EXPECT_EQ(check(header("ABC TXT", "00001", {"005"})), HeaderVerdict::BadContent);
    EXPECT_EQ(check(header("ABCDEFGHI", "00001", {"005"})), HeaderVerdict::BadContent);
    EXPECT_EQ(check(header(".TXT", "00001", {"005"})), HeaderVerdict::BadContent);
    // A bare directory as the argument: every header is refused.
    s = settings_for("/data/", "");
    EXPECT_EQ(check(header("DATA.TXT", "00001", {"005"})), HeaderVerdict::BadContent);
    // Kind mismatch, and the name check before it.
    s = settings_for("", "X.PD3");
    EXPECT_EQ(check(header("Y.TXT", "00001", {"005"})), HeaderVerdict::WrongKind);
    s.receive.name_check = 1;
    EXPECT_EQ(check(header("Y.TXT", "00001", {"005"})), HeaderVerdict::NameMismatch);
    EXPECT_EQ(check(header("x.pd3", "00001", {}, false)),
              HeaderVerdict::Accepted);   // same name, any case
    EXPECT_EQ(h.file_type, FT_PD3);
    EXPECT_EQ(h.record_length, 128);
}

TEST_F(HeaderCheck, NameCheckComparesTheExtensionToo)
{
    s.receive.name_check = 1;
    EXPECT_EQ(check(header("DATA.DAT", "00001", {"005"})), HeaderVerdict::NameMismatch);
    EXPECT_EQ(check(header("DATA", "00001", {"005"})), HeaderVerdict::NameMismatch);
    EXPECT_EQ(check(header("data.txt", "00001", {"005"})), HeaderVerdict::Accepted);
    // Without +N any data file lands under the argument's name.
    s.receive.name_check = 0;
    EXPECT_EQ(check(header("OTHER.DAT", "00001", {"005"})), HeaderVerdict::Accepted);
    EXPECT_STREQ(h.dest_base, "DATA.TXT");
}

TEST_F(HeaderCheck, DeviceNamesFromTheTerminalAreRefused)
{
    s = settings_for("/data/", "(file)");
    for (const char *name : {"CON", "con.txt", "Nul.dat", "COM1.TXT", "lpt9", "AUX", "PRN.X"})
        EXPECT_EQ(check(header(name, "00001", {"005"})), HeaderVerdict::BadContent) << name;
    for (const char *name : {"CONS.TXT", "COM0.TXT", "LPT.TXT", "NULL"})
        EXPECT_EQ(check(header(name, "00001", {"005"})), HeaderVerdict::Accepted) << name;
}

TEST_F(HeaderCheck, AppendModeOnlyForDataFiles)
{
    s.receive.append_flag = 1;
    ASSERT_EQ(check(header("DATA.TXT", "00001", {"005"})), HeaderVerdict::Accepted);
    EXPECT_TRUE(h.append);
    s = settings_for("", "(file)");
    s.receive.append_flag = 1;
    ASSERT_EQ(check(header("P.EX3", "00001", {}, false)), HeaderVerdict::Accepted);
    EXPECT_FALSE(h.append);
    EXPECT_EQ(h.record_length, 130);
    EXPECT_EQ(s.receive.append_flag, 1);   // the settings stay as they were
}

TEST_F(HeaderCheck, TerminatorRole)
{
    Bytes b = header("DATA.TXT", "00002", {"005"});
    ASSERT_EQ(check(b), HeaderVerdict::Accepted);
    EXPECT_TRUE(header_terminator_ok(b.data(), static_cast<int>(b.size()), h));
    b[b.size() - 3] = 0x17;
    EXPECT_FALSE(header_terminator_ok(b.data(), static_cast<int>(b.size()), h));
}

// Both sides of every length limit of the terminal's header.
TEST_F(HeaderCheck, EachLengthLimitOnBothSides)
{
    ASSERT_EQ(check(header("ABCDEFGH.TXT", "00001", {"005"})),
              HeaderVerdict::Accepted);   // base 8, extension 3: the whole field
    EXPECT_STREQ(h.name, "DATA");         // stored under the argument's name
    EXPECT_EQ(check(header("ABCDEFGHI.TX", "00001", {"005"})),
              HeaderVerdict::BadContent);   // base 9
    EXPECT_EQ(check(header("ABCDEFGH", "00001", {"005"})), HeaderVerdict::Accepted);
    EXPECT_EQ(check(header("AB.CDE", "00001", {"005"})), HeaderVerdict::Accepted);
    EXPECT_EQ(check(header("AB.CDEF", "00001", {"005"})),
              HeaderVerdict::BadContent);   // extension 4

    // The terminal's name becomes the destination: all of it is kept.
    s = settings_for("/data/", "(file)");
    ASSERT_EQ(check(header("abcdefgh.txt", "00001", {"005"})), HeaderVerdict::Accepted);
    EXPECT_STREQ(h.name, "ABCDEFGH");
    EXPECT_STREQ(h.ext, ".TXT");
    EXPECT_STREQ(h.dest_base, "ABCDEFGH.TXT");
    EXPECT_EQ(check(header("abcdefghi.tx", "00001", {"005"})), HeaderVerdict::BadContent);

    // Fields and widths: 16 fields pass, 17 do not; fields plus widths 255
    // pass, 256 do not.
    std::vector<std::string> sixteen(16, "001");
    ASSERT_EQ(check(header("DATA.TXT", "00001", sixteen)), HeaderVerdict::Accepted);
    EXPECT_EQ(h.ditems, 16);
    EXPECT_EQ(h.record_length, 16);
    EXPECT_EQ(check(header("DATA.TXT", "00001", {"252", "001"})),
              HeaderVerdict::Accepted);   // 2 + 253
    EXPECT_EQ(h.record_length, 253);
    EXPECT_EQ(check(header("DATA.TXT", "00001", {"253", "001"})),
              HeaderVerdict::BadContent);   // 2 + 254
    EXPECT_EQ(check(header("DATA.TXT", "00001", {"001"})), HeaderVerdict::Accepted);
}

TEST(PacketFields, NameFieldLimits)
{
    char name[FNAME_BASE_SIZE], ext[FNAME_EXT_SIZE];
    auto parse = [&](const char *field) {
        return get_fname(reinterpret_cast<const uint8_t *>(field), name, ext);
    };
    EXPECT_EQ(parse("ABCDEFGH.TXT"), NameFieldCheck::Valid);
    EXPECT_STREQ(name, "ABCDEFGH");
    EXPECT_STREQ(ext, ".TXT");
    EXPECT_EQ(parse("ABCDEFGHI.TX"), NameFieldCheck::Invalid);
    EXPECT_EQ(parse("ABCDEFGHI   "), NameFieldCheck::Invalid);
    EXPECT_EQ(parse("ABCDEFGH    "), NameFieldCheck::Valid);
    EXPECT_EQ(parse("AB.CDE      "), NameFieldCheck::Valid);
    EXPECT_STREQ(ext, ".CDE");
    EXPECT_EQ(parse("AB.CDEF     "), NameFieldCheck::Invalid);
}

TEST(PacketFields, NumberLimits)
{
    auto digits = [](const char *text) { return reinterpret_cast<const uint8_t *>(text); };
    EXPECT_EQ(get_serial_no(digits("32767")), 32767);
    EXPECT_EQ(get_serial_no(digits("32768")), -1);
    EXPECT_EQ(get_serial_no(digits("00000")), 0);
    EXPECT_EQ(get_ddigits(digits("254"), 3), 254);
    EXPECT_EQ(get_ddigits(digits("255"), 3), -1);
}

class DataCheck : public HeaderCheck {
protected:
    void SetUp() override
    {
        ASSERT_EQ(check(header("DATA.TXT", "00003", {"005", "003"})), HeaderVerdict::Accepted);
    }
    DataVerdict verdict(const Bytes &b, int accepted)
    {
        return check_data_packet(b.data(), static_cast<int>(b.size()), h, accepted);
    }
};

TEST_F(DataCheck, SerialNumbers)
{
    EXPECT_EQ(verdict(data_packet("00001", "ABCDEXYZ"), 0), DataVerdict::New);
    EXPECT_EQ(verdict(data_packet("00002", "ABCDEXYZ"), 1), DataVerdict::New);
    EXPECT_EQ(verdict(data_packet("00001", "ABCDEXYZ"), 1), DataVerdict::Repeat);
    EXPECT_EQ(verdict(data_packet("00003", "ABCDEXYZ"), 1), DataVerdict::Reject);   // one skipped
    // Not digits: taken as the next block.
    EXPECT_EQ(verdict(data_packet("0x0?1", "ABCDEXYZ"), 2), DataVerdict::New);
    // Nothing was accepted yet, so nothing can be repeated.
    EXPECT_EQ(verdict(data_packet("00000", "ABCDEXYZ"), 0), DataVerdict::Reject);
    // No more records than announced.
    EXPECT_EQ(verdict(data_packet("ZZZZZ", "ABCDEXYZ"), 3), DataVerdict::Reject);
}

TEST_F(DataCheck, LengthAndTerminator)
{
    EXPECT_EQ(verdict(data_packet("00001", "ABCDEXY"), 0), DataVerdict::Reject);
    EXPECT_EQ(verdict(data_packet("00001", "ABCDEXYZ0"), 0), DataVerdict::Reject);
    Bytes b = data_packet("00001", "ABCDEXYZ");
    b[b.size() - 3] = 0x17;
    EXPECT_EQ(verdict(b, 0), DataVerdict::Reject);
    EXPECT_EQ(verdict(Bytes{STATION[0], STATION[1], '0'}, 0), DataVerdict::Reject);
}

// The size the receiver announces to its frame reader is the size the
// data check accepts, for a data file and a program file.
TEST_F(DataCheck, AnnouncedSizeIsTheSizeAccepted)
{
    const Bytes good = data_packet("00001", "ABCDEXYZ");
    EXPECT_EQ(data_packet_length(h), static_cast<int>(good.size()));
    s = settings_for("", "PROG.PD3");
    ASSERT_EQ(check(header("PROG.PD3", "00001", {}, false)), HeaderVerdict::Accepted);
    const Bytes prog = data_packet("00001", std::string(128, 'p'));
    EXPECT_EQ(verdict(prog, 0), DataVerdict::New);
    EXPECT_EQ(data_packet_length(h), static_cast<int>(prog.size()));
}

TEST(DosDevice, NamesThatReachADevice)
{
    for (const char *n : {"CON", "prn", "Aux", "NUL", "COM1", "com9", "LPT1", "lpt5", "CON  "})
        EXPECT_TRUE(is_dos_device_name(n)) << n;
    for (const char *n : {"CONX", "CO", "COM", "COM0", "LPT0", "COMA", "NULL", "", "XCON"})
        EXPECT_FALSE(is_dos_device_name(n)) << n;
}

TEST(DosDevice, RefusedAsTheFileArgument)
{
    char name[16], ext[8];
    std::strcpy(name, "con");
    std::strcpy(ext, ".txt");
    EXPECT_EQ(check_dos_name(name, ext), ORV5_E_FILE_NAME);
    std::strcpy(name, "Com3");
    std::strcpy(ext, "");
    EXPECT_EQ(check_dos_name(name, ext), ORV5_E_FILE_NAME);
    std::strcpy(name, "console");
    std::strcpy(ext, ".txt");
    EXPECT_EQ(check_dos_name(name, ext), 0);
}

}   // namespace
