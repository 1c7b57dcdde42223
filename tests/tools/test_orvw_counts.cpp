// test_orvw_counts.cpp - orvw's own reading of a command text, the records
// and bytes it reports for a session, and its JSON line.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "orvw/command_text.h"
#include "orvw/json_out.h"
#include "orvw/transfer_counts.h"

namespace {

class Scratch {
public:
    Scratch()
    {
        char tmpl[] = "/tmp/orvwcount.XXXXXX";
        const char *made = ::mkdtemp(tmpl);
        dir_ = made ? made : "";
    }
    ~Scratch()
    {
        std::error_code ec;
        if (!dir_.empty())
            std::filesystem::remove_all(dir_, ec);
    }
    // Writes bytes into dir/name; the path.
    std::string put(const std::string &name, const std::string &bytes) const
    {
        std::string path = dir_ + "/" + name;
        std::FILE *f = std::fopen(path.c_str(), "wb");
        if (f) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        return path;
    }
    const std::string &dir() const { return dir_; }

private:
    std::string dir_;
};

}   // namespace

// --- the command text -----------------------------------------------------------

TEST(OrvwCommandText, ArgumentsWithBlanksOrTabsAreQuoted)
{
    std::string text;
    append_command_arg(text, "-P2");
    append_command_arg(text, "my dir/DATA.TXT");
    append_command_arg(text, "+T\t");
    append_command_arg(text, "");
    EXPECT_EQ(text, "-P2 \"my dir/DATA.TXT\" \"+T\t\" \"\"");
    // The text splits back into the same arguments.
    auto tokens = split_command_text(text);
    ASSERT_EQ(tokens.size(), 4u);
    EXPECT_EQ(tokens[1], "my dir/DATA.TXT");
    EXPECT_EQ(tokens[2], "+T\t");
}

TEST(OrvwCommandText, PlaceholderWithOrWithoutExtension)
{
    EXPECT_TRUE(is_terminal_name("(file)"));
    EXPECT_TRUE(is_terminal_name("in/(FILE)"));
    EXPECT_TRUE(is_terminal_name("in/(file).TXT"));
    EXPECT_FALSE(is_terminal_name("in/file.TXT"));
    EXPECT_FALSE(is_terminal_name("(file)x"));
}

TEST(OrvwCommandText, FactsOfTheOptions)
{
    CommandTextFacts f = read_command_text("-P1 +R +A +C +F5,3;4 in/DATA.TXT");
    EXPECT_TRUE(f.receive);
    EXPECT_TRUE(f.append);
    EXPECT_TRUE(f.fixed);
    EXPECT_EQ(f.width_count, 3);
    EXPECT_EQ(f.width_sum, 12);
    EXPECT_EQ(f.file, "in/DATA.TXT");
    EXPECT_EQ(f.file_count, 1);
}

// --- records and bytes ------------------------------------------------------------

TEST(OrvwCounts, SentLinesCountALastLineWithoutLineEndButNotCtrlZ)
{
    Scratch s;
    CommandTextFacts f;
    TransferCounts c = count_sent(f, s.put("A.TXT", "one\r\ntwo\r\nthree"));
    EXPECT_EQ(c.records, 3);
    EXPECT_EQ(c.bytes, 15);
    c = count_sent(f, s.put("B.TXT", "one\r\ntwo\r\n\x1a"));
    EXPECT_EQ(c.records, 2);
    // A lone LF is part of a record, not its end.
    c = count_sent(f, s.put("C.TXT", "a\nb\r\n"));
    EXPECT_EQ(c.records, 1);
}

TEST(OrvwCounts, FixedLengthRecordsRoundUpAShortLastOne)
{
    Scratch s;
    CommandTextFacts f = read_command_text("+C +F4 FIX.TXT");
    // Two whole records of 4 + CR LF, and three bytes of a third.
    TransferCounts c = count_sent(f, s.put("FIX.TXT", "abcd\r\nefgh\r\nijk"));
    EXPECT_EQ(c.records, 3);
    // A single stray byte behind the last CR LF is no record.
    c = count_sent(f, s.put("FIX2.TXT", "abcd\r\nefgh\r\n\x1a"));
    EXPECT_EQ(c.records, 2);
    c = count_sent(f, s.put("FIX3.TXT", "abcd\r\nefgh\r\n"));
    EXPECT_EQ(c.records, 2);
}

TEST(OrvwCounts, ReceivedProgramFilesCountWholeLines)
{
    Scratch s;
    TransferBaseline none;
    std::string pd3_line = std::string(128, '0') + "\r\n";
    std::string ex3_line = std::string(130, '0') + "\r\n";
    // Enough lines that counting them without their CR LF would show.
    std::string pd3;
    for (int i = 0; i < 100; ++i)
        pd3 += pd3_line;
    TransferCounts c = count_received(none, s.put("APP.PD3", pd3));
    EXPECT_EQ(c.records, 100);
    EXPECT_EQ(c.bytes, 13000);
    std::string ex3;
    for (int i = 0; i < 100; ++i)
        ex3 += ex3_line;
    c = count_received(none, s.put("APP.EX3", ex3));
    EXPECT_EQ(c.records, 100);
}

TEST(OrvwCounts, AppendCountsOnlyTheNewPartAndAReplacedFileWhole)
{
    Scratch s;
    std::string path = s.put("DATA.TXT", "11111\r\n22222\r\n");
    CommandTextFacts f = read_command_text("+R +A " + path);
    TransferBaseline before = take_baseline(f);
    ASSERT_EQ(before.sizes.count(path), 1u);

    s.put("DATA.TXT", "11111\r\n22222\r\n33333\r\n");
    TransferCounts c = count_received(before, path);
    EXPECT_EQ(c.records, 1);
    EXPECT_EQ(c.bytes, 7);

    // Smaller than before: the file was replaced, and all of it is new.
    s.put("DATA.TXT", "44\r\n");
    c = count_received(before, path);
    EXPECT_EQ(c.records, 1);
    EXPECT_EQ(c.bytes, 4);
}

// --- the JSON line --------------------------------------------------------------------

TEST(OrvwJson, StringsAreEscaped)
{
    JsonLine j;
    json_string(j, "file", "C:\\DATA\\\"x\".TXT");
    json_string(j, "reason", std::string("a\x01") + "b\x1f\t\r\n\x7f" + "\xc3\xa9");
    json_number(j, "records", 3);
    json_null(j, "stored");
    EXPECT_EQ(json_finish(j),
              "{\"file\":\"C:\\\\DATA\\\\\\\"x\\\".TXT\","
              "\"reason\":\"a\\u0001b\\u001f\\t\\r\\n\\u007f\xc3\xa9\","
              "\"records\":3,\"stored\":null}");
}
