// Reading field widths from a data file's .FLD file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "format/fld_reader.h"
#include "runtime/settings.h"
#include "session/complete.h"
#include "session/options.h"

namespace {

class FieldFile : public ::testing::Test {
protected:
    std::string dir;

    void SetUp() override
    {
        char tmpl[] = "/tmp/orv5fld.XXXXXX";
        dir = ::mkdtemp(tmpl) ? tmpl : "/tmp";
        put("DATA.TXT", "x\r\n");
        put("DATA.DAT", "x\r\n");
        put("DATA.CSV", "x\r\n");
    }
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    SessionSettings s{};
    void put(const std::string &name, const std::string &content)
    {
        std::ofstream(dir + "/" + name, std::ios::binary) << content;
    }
    // Widths read for data_file with fld as DATA.FLD; -code on failure.
    std::vector<int> widths(const std::string &fld, const char *data_file = "DATA.TXT")
    {
        put("DATA.FLD", fld);
        return read_for(data_file);
    }
    std::vector<int> read_for(const char *data_file)
    {
        reset_settings(s);
        std::string arg = dir + "/" + data_file;
        const char *p = arg.c_str();
        EXPECT_EQ(set_file_arg(s, &p), 0);
        int r = read_field_file(s);
        if (r != 0)
            return {-r};
        return std::vector<int>(s.send.ddigits, s.send.ddigits + s.send.ditems);
    }
};

using W = std::vector<int>;
const W BAD{-8};

}   // namespace

TEST_F(FieldFile, ListWithoutSectionAppliesToAnyFile)
{
    EXPECT_EQ(widths("FIELDS 3,5\n"), (W{3, 5}));
    EXPECT_EQ(widths("* comment\n\n  info line\n\tFIELD 1, 2 ,3\n"), (W{1, 2, 3}));
    EXPECT_EQ(widths("FIELD ,1 2 3\n"), (W{1, 2, 3}));
    EXPECT_EQ(widths("fields2 2\n"), (W{2, 2}));
    EXPECT_EQ(widths("FIELD 3 * comment, 9\n"), W{3});
    EXPECT_EQ(widths("FIELD 254\n"), W{254});
}

TEST_F(FieldFile, EmptyListsAndZeroWidthsAreRefused)
{
    // Either would announce a layout (width 000, or 00 fields) that no
    // receiver accepts.
    for (const char *f :
         {"FIELD 0\n", "FIELD\n", "FIELDS\n", "FIELDS 3 0 4\n", "FILE DATA.TXT\nFIELD * none\n"})
        EXPECT_EQ(widths(f), BAD) << f;
}

TEST_F(FieldFile, InvalidListsGiveEight)
{
    for (const char *f : {"FIELD 1,,2\n", "FIELD 1,2,\n", "FIELD 255\n", "FIELD 9999999999\n",
                          "FIELD 3x\n", "FIELD ,\n", "FIELD 1,*\n", "FIELDX 3\n",
                          "FIELD 3\r4\n",   // a lone CR is no line end
                          "FIELD 3",        // last line without its line end
                          "", "* nothing here\n"})
        EXPECT_EQ(widths(f), BAD) << f;
}

TEST_F(FieldFile, SixteenWidthsAtMost)
{
    std::string sixteen = "FIELD";
    for (int i = 1; i <= 16; ++i)
        sixteen += " " + std::to_string(i);
    EXPECT_EQ(widths(sixteen + "\n").size(), 16u);
    EXPECT_EQ(widths(sixteen + " 17\n"), BAD);
    EXPECT_EQ(s.send.ditems, DITEMS_MAX);   // nothing stored past the table
}

TEST_F(FieldFile, SectionsSelectTheDataFile)
{
    const std::string fld = "FILE DATA.TXT\nFIELD 4\nFILE DATA.DAT\nFIELD 6 7\n";
    EXPECT_EQ(widths(fld, "DATA.TXT"), W{4});
    EXPECT_EQ(widths(fld, "DATA.DAT"), (W{6, 7}));
    EXPECT_EQ(widths(fld, "DATA.CSV"), BAD);
    EXPECT_EQ(widths("file data.txt\nfields 2 2\n"), (W{2, 2}));
    EXPECT_EQ(widths("FILE   DATA.TXT   * ours\nFIELD 1\n"), W{1});
    EXPECT_EQ(widths("FILE DATA.TXT X\nFIELD 4\n"), BAD);   // names another file
    EXPECT_EQ(widths("FILE DATA.TXTX\nFIELD 4\n"), BAD);
    EXPECT_EQ(widths("FILE DATA.TXT\nFILE DATA.DAT\nFIELD 4\n"), BAD);   // section without list
    // Another file's invalid list is skipped, not judged.
    EXPECT_EQ(widths("FILE DATA.DAT\nFIELD 999\nFILE DATA.TXT\nFIELD 2\n"), W{2});
}

TEST_F(FieldFile, LineEndsAndLongLines)
{
    EXPECT_EQ(widths("FILE DATA.TXT\r\nFIELD 4 5\r\n"), (W{4, 5}));
    // A line of exactly 255 characters keeps its line end...
    std::string full = "FIELD 5" + std::string(FLD_LINE_MAX - 7, ' ');
    EXPECT_EQ(widths(full + "\r\n"), W{5});
    EXPECT_EQ(widths(full + "\n"), W{5});
    // ... a longer one is split, its rest read as the next line.
    EXPECT_EQ(widths("*" + std::string(FLD_LINE_MAX - 1, 'c') + "FIELD 6\n"), W{6});
    EXPECT_EQ(widths("*" + std::string(FLD_LINE_MAX - 1, 'c') + "\rFIELD 6\n"), BAD);
}

TEST_F(FieldFile, ReadsBackWhatTheReceiverWrites)
{
    EXPECT_EQ(widths("* created by the transfer utility\r\n*   notice\r\nfile\tDATA.TXT\r\n"
                     "date\t2024-01-02  3:04:06\r\nsize\t17\r\nrecords\t3\r\n"
                     "fields\t4 10 2\r\n"),
              (W{4, 10, 2}));
    EXPECT_EQ(widths("file\tDATA.TXT\nrecord\t1\nfield\t7\n"), W{7});
}

TEST_F(FieldFile, MissingFiles)
{
    EXPECT_EQ(read_for("DATA.TXT"), BAD);     // no DATA.FLD yet
    EXPECT_EQ(read_for("NONE.TXT"), W{-1});   // the data file itself
    put("lower.txt", "x\n");
    put("lower.fld", "FIELD 9\n");
    EXPECT_EQ(read_for("lower.txt"), W{9});
}

// The reader on its own: paths and name given by the caller.
TEST_F(FieldFile, ReaderTakesTheFirstPathThatOpens)
{
    put("A.FLD", "FIELDS 1 2\n");
    put("B.FLD", "FIELDS 7\n");
    const std::string a = dir + "/A.FLD", b = dir + "/B.FLD", none = dir + "/NONE.FLD";
    int32_t ditems = 0;
    int32_t ddigits[DITEMS_MAX] = {};

    EXPECT_EQ(fld_read_widths(a.c_str(), b.c_str(), "DATA", ".TXT", &ditems, ddigits), 0);
    EXPECT_EQ((W(ddigits, ddigits + ditems)), (W{1, 2}));

    ditems = 0;
    EXPECT_EQ(fld_read_widths(none.c_str(), b.c_str(), "DATA", ".TXT", &ditems, ddigits), 0);
    EXPECT_EQ((W(ddigits, ddigits + ditems)), W{7});

    ditems = 0;
    EXPECT_EQ(fld_read_widths(nullptr, b.c_str(), "DATA", ".TXT", &ditems, ddigits), 0);
    EXPECT_EQ(ditems, 1);

    ditems = 0;
    EXPECT_EQ(fld_read_widths(none.c_str(), nullptr, "DATA", ".TXT", &ditems, ddigits), 8);
    EXPECT_EQ(fld_read_widths(nullptr, nullptr, "DATA", ".TXT", &ditems, ddigits), 8);
    EXPECT_EQ(ditems, 0);
}

TEST_F(FieldFile, ReaderMatchesSectionsByTheEightThreeName)
{
    put("A.FLD", "FILE data.txt\nFIELD 4\nFILE LONGERNAME.TXT\nFIELD 5\n");
    const std::string a = dir + "/A.FLD";
    int32_t ditems = 0;
    int32_t ddigits[DITEMS_MAX] = {};
    EXPECT_EQ(fld_read_widths(a.c_str(), nullptr, "Data", ".txt", &ditems, ddigits), 0);
    EXPECT_EQ((W(ddigits, ddigits + ditems)), W{4});
    // A name longer than 8.3 names no section, even one written for it.
    ditems = 0;
    EXPECT_EQ(fld_read_widths(a.c_str(), nullptr, "LONGERNAME", ".TXT", &ditems, ddigits), 8);
    EXPECT_EQ(ditems, 0);
}
