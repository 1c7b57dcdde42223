// test_packet_fields.cpp - the name, count and width fields of a received
// packet.
#include <gtest/gtest.h>

#include <cstring>

#include "link/packet_fields.h"

namespace {

// The 12-byte name field of text, space-filled.
struct NameField {
    explicit NameField(const char *text)
    {
        std::memset(bytes, ' ', sizeof bytes);
        std::memcpy(bytes, text, std::strlen(text));
    }
    uint8_t bytes[FNAME_FIELD];
};

// Room beyond the parts' sizes, so that a parser that overran them is
// seen by its result instead of corrupting the test.
struct Parts {
    char name[FNAME_BASE_SIZE + 8];
    char ext[FNAME_EXT_SIZE + 8];
};

}   // namespace

TEST(PacketFields, EightThreeNamesAreSplitIntoBaseAndExtension)
{
    Parts p;
    EXPECT_EQ(get_fname(NameField("DATA.TXT").bytes, p.name, p.ext), NameFieldCheck::Valid);
    EXPECT_STREQ(p.name, "DATA");
    EXPECT_STREQ(p.ext, ".TXT");
    EXPECT_EQ(get_fname(NameField("ABCDEFGH.PD3").bytes, p.name, p.ext), NameFieldCheck::Valid);
    EXPECT_STREQ(p.name, "ABCDEFGH");
    EXPECT_STREQ(p.ext, ".PD3");
    EXPECT_EQ(get_fname(NameField("NOEXT").bytes, p.name, p.ext), NameFieldCheck::Valid);
    EXPECT_STREQ(p.ext, "");
}

TEST(PacketFields, NamesLongerThanEightThreeAreRefused)
{
    Parts p;
    EXPECT_EQ(get_fname(NameField("ABCDEFGHI").bytes, p.name, p.ext), NameFieldCheck::Invalid);
    EXPECT_EQ(get_fname(NameField("ABCDEFGHI.TX").bytes, p.name, p.ext), NameFieldCheck::Invalid);
    EXPECT_EQ(get_fname(NameField("DATA.TEXT").bytes, p.name, p.ext), NameFieldCheck::Invalid);
    EXPECT_EQ(get_fname(NameField("DA TA.TXT").bytes, p.name, p.ext), NameFieldCheck::Invalid);
}

TEST(PacketFields, CountsAndWidthsStayInTheirRanges)
{
    EXPECT_EQ(get_serial_no(reinterpret_cast<const uint8_t *>("32767")), 32767);
    EXPECT_EQ(get_serial_no(reinterpret_cast<const uint8_t *>("32768")), -1);
    EXPECT_EQ(get_serial_no(reinterpret_cast<const uint8_t *>("0012a")), -1);
    EXPECT_EQ(get_ddigits(reinterpret_cast<const uint8_t *>("254"), 3), 254);
    EXPECT_EQ(get_ddigits(reinterpret_cast<const uint8_t *>("255"), 3), -1);
    EXPECT_EQ(get_ddigits(reinterpret_cast<const uint8_t *>("16"), 0), -1);
}
