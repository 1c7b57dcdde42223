// The command-text parser, grouped by option.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "runtime/settings.h"
#include "session/argv.h"
#include "session/complete.h"
#include "session/options.h"

namespace {

SessionSettings S;
ArgVector args;

// Options only: every token parsed, first error kept, no completion step.
int opts(const std::string &text)
{
    reset_settings(S);
    build_argv(args, "orvw.exe", text.c_str());
    int first = 0;
    for (int i = 1; i < args.count; ++i) {
        int r = parse_token(S, args.vector[i]);
        if (first == 0)
            first = r;
    }
    return first;
}

// The whole parse as a session runs it, completion step included.
int run(const std::string &text)
{
    reset_settings(S);
    build_argv(args, "orvw.exe", text.c_str());
    int r = parse_args(S, args.count, args.vector);
    return r != 0 ? r : complete_settings(S);
}

std::string sep()
{
    return std::string(S.receive.tsep_str, static_cast<size_t>(S.receive.tsep_len));
}

struct TempDir {
    std::string dir;
    TempDir()
    {
        char tmpl[] = "/tmp/orv5opt.XXXXXX";
        dir = ::mkdtemp(tmpl) ? tmpl : "/tmp";
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::string put(const std::string &name, const std::string &content)
    {
        std::ofstream(dir + "/" + name, std::ios::binary) << content;
        return dir + "/" + name;
    }
};

}   // namespace

TEST(OptionFlags, SignSetsOrClears)
{
    EXPECT_EQ(opts("+R +A +C +N"), 0);
    EXPECT_EQ(S.receive_mode, 1);
    EXPECT_EQ(S.receive.append_flag, 1);
    EXPECT_EQ(S.send.fixed_records, 1);
    EXPECT_EQ(S.receive.name_check, 1);
    EXPECT_EQ(opts("+r -R"), 0);
    EXPECT_EQ(S.receive_mode, 0);
    EXPECT_EQ(opts("\"+R -A\""), 0);   // several options in one quoted token
    EXPECT_EQ(S.receive_mode, 1);
    EXPECT_EQ(opts("-RX"), 9);
    EXPECT_FALSE(S.file.file_given);   // the stray characters are not a file name
}

TEST(OptionPort, NumberBelow100)
{
    EXPECT_EQ(opts("-P2"), 0);
    EXPECT_EQ(S.line.port_index, 1);
    EXPECT_EQ(opts("-P0"), 0);
    EXPECT_EQ(S.line.port_index, -1);
    EXPECT_EQ(opts("-p100"), 9);
    EXPECT_EQ(opts("-P"), 9);
    EXPECT_EQ(opts("-P2x"), 9);
    EXPECT_EQ(opts("-P99999999999999999999"), 9);
}

TEST(OptionBaud, OnlyListedSpeeds)
{
    for (const char *t : {"-B19200", "-b19200", "-Bx19200", "\"-B 19200\"", "-B+19200"}) {
        EXPECT_EQ(opts(t), 0) << t;
        EXPECT_EQ(S.line.baud_rate, 19200u) << t;
    }
    EXPECT_EQ(opts("-B256000"), 0);
    EXPECT_EQ(opts("-B300"), 0);
    for (const char *t :
         {"-B19201", "-B", "-B19200x", "-B-9600", "-Bxy9600", "-B99999999999999999999"})
        EXPECT_EQ(opts(t), 9) << t;
}

TEST(OptionNumbers, TimeoutTurnaroundStation)
{
    EXPECT_EQ(opts("-L0"), 0);
    EXPECT_EQ(S.exchange.timeout_s, 0);
    EXPECT_EQ(opts("-L0 -L"), 0);
    EXPECT_EQ(S.exchange.timeout_s, 30);
    EXPECT_EQ(opts("-L65535"), 0);
    EXPECT_EQ(opts("-L65536"), 9);
    EXPECT_EQ(opts("-Lx"), 9);

    EXPECT_EQ(opts("-!"), 0);
    EXPECT_EQ(S.exchange.turnaround_delay, 2);
    EXPECT_EQ(opts("-!20"), 0);
    EXPECT_EQ(S.exchange.turnaround_delay, 20);
    EXPECT_EQ(opts("-!99999999999"), 9);   // would not fit the millisecond count

    EXPECT_EQ(opts("-#513"), 0);
    EXPECT_EQ(S.exchange.station_id[0], 2);
    EXPECT_EQ(S.exchange.station_id[1], 1);
    EXPECT_EQ(opts("-#513 -#"), 0);
    EXPECT_EQ(S.exchange.station_id[0] | S.exchange.station_id[1], 0);
    EXPECT_EQ(opts("-#65536"), 9);
}

TEST(OptionFields, WidthList)
{
    EXPECT_EQ(opts("+F5,10;3 -F007"), 0);
    ASSERT_EQ(S.send.ditems, 4);
    EXPECT_EQ(S.send.ddigits[1], 10);
    EXPECT_EQ(S.send.ddigits[3], 7);
    EXPECT_EQ(opts("+F5,"), 9);
    EXPECT_EQ(opts("+F"), 9);
    EXPECT_EQ(opts("+F5x"), 9);
    EXPECT_EQ(opts("+F5,,6"), 9);
    EXPECT_EQ(opts("+F0"), 4);
    EXPECT_EQ(opts("+F255"), 4);
    EXPECT_EQ(opts("+F254"), 0);
    EXPECT_EQ(opts("+F1,2,3,4,5,6,7,8 +F1,2,3,4,5,6,7,8"), 0);
    EXPECT_EQ(opts("+F1,2,3,4,5,6,7,8 +F1,2,3,4,5,6,7,8,9"), 5);
    EXPECT_EQ(S.send.ditems, DITEMS_MAX);
}

TEST(OptionSeparator, QuotedCharAndEscapes)
{
    EXPECT_EQ(opts("+T'|'"), 0);
    EXPECT_EQ(sep(), "|");
    EXPECT_EQ(S.receive.tsep_flag, 1);
    EXPECT_EQ(opts("+T\\t"), 0);
    EXPECT_EQ(sep(), "\t");
    EXPECT_EQ(opts("+T\\x2C\\X20"), 0);
    EXPECT_EQ(sep(), ", ");
    EXPECT_EQ(opts("\"+T \""), 0);   // a quoted blank
    EXPECT_EQ(sep(), " ");
    EXPECT_EQ(opts("+T\\101\\777\\0"), 0);   // octal, taken modulo 256
    EXPECT_EQ(sep(), std::string("A\xFF\0", 3));
    EXPECT_EQ(opts("+T\\x414"), 0);   // two hex digits at most: "A" then "4"
    EXPECT_EQ(sep(), "A4");
    EXPECT_EQ(opts("+T\\x4g\\x"), 0);   // hex stops at a non-hex digit; none gives 0
    EXPECT_EQ(sep(), std::string("\x04g\0", 3));
    EXPECT_EQ(opts("+T\\q\\\\\\"), 0);   // other escapes and a final backslash: literal
    EXPECT_EQ(sep(), "q\\\\");
    EXPECT_EQ(opts("+T\\B\\F\\N\\R"), 0);
    EXPECT_EQ(sep(), "\b\f\n\r");
}

TEST(OptionSeparator, LengthLimitAndClearing)
{
    EXPECT_EQ(opts("+T" + std::string(32, ';')), 0);
    EXPECT_EQ(S.receive.tsep_len, 32);
    EXPECT_EQ(opts("+T" + std::string(33, ';')), 9);
    EXPECT_EQ(opts("+T, +T"), 0);
    EXPECT_EQ(S.receive.tsep_flag, 0);
    EXPECT_EQ(opts("+T, -T"), 0);
    EXPECT_EQ(S.receive.tsep_flag, 0);
    EXPECT_EQ(opts("-T,"), 9);
}

TEST(OptionWindow, StyleAndPosition)
{
    EXPECT_EQ(opts("+V2"), 0);
    EXPECT_EQ(S.display.dialog_mode, 2);
    for (const char *t : {"+V", "+V1", "+V7", "+V7abc"}) {
        EXPECT_EQ(opts(std::string("-V ") + t), 0) << t;
        EXPECT_EQ(S.display.dialog_mode, 1) << t;
    }
    EXPECT_EQ(opts("+V0"), 0);
    EXPECT_EQ(S.display.dialog_mode, 0);
    EXPECT_EQ(opts("-V2"), 9);

    EXPECT_EQ(opts("-X-50 -Y100"), 0);
    EXPECT_EQ(S.display.win_x, -50);
    EXPECT_EQ(S.display.win_y, 100);
    EXPECT_EQ(S.display.win_pos_flags, WIN_X_GIVEN | WIN_Y_GIVEN);
    EXPECT_EQ(opts("-X5 -Y5 -X"), 0);
    EXPECT_EQ(S.display.win_pos_flags, WIN_Y_GIVEN);
    for (const char *t : {"-X70000", "-X-65536", "-X-", "-X5a", "-X+5"})
        EXPECT_EQ(opts(t), 9) << t;
    EXPECT_EQ(opts("-X-65535"), 0);
}

TEST(OptionAdapter, PathTakesTheRestOfTheToken)
{
    EXPECT_EQ(opts("\"+I/opt/ir plug/esi.so\""), 0);
    EXPECT_STREQ(S.line.adapter_path, "/opt/ir plug/esi.so");
    EXPECT_EQ(opts("+Ia.so -Ianything"), 0);
    EXPECT_STREQ(S.line.adapter_path, "");
    EXPECT_EQ(opts("+I" + std::string(PATH_SIZE - 1, 'p')), 0);
    EXPECT_EQ(opts("+I" + std::string(PATH_SIZE, 'p')), 9);   // refused, not cut
    EXPECT_STREQ(S.line.adapter_path, "");
}

TEST(OptionCharacters, UnknownAndStray)
{
    EXPECT_EQ(opts("-%"), 99);
    EXPECT_EQ(opts("-5"), 99);
    EXPECT_EQ(opts("-"), 99);
    EXPECT_EQ(opts("-%x"), 9);
    EXPECT_EQ(opts("-Q"), 9);
    EXPECT_EQ(opts("-?"), 0);
    EXPECT_EQ(opts("-?x"), 9);
    // Control characters and bytes above 0x7E between items are skipped.
    EXPECT_EQ(opts("\"\x01\x7F\xC4-R\""), 0);
    EXPECT_EQ(S.receive_mode, 0);
}

TEST(OptionErrors, FirstErrorWinsAndParsingGoesOn)
{
    EXPECT_EQ(opts("-Q -%"), 9);
    EXPECT_EQ(opts("-% -Q"), 99);
    EXPECT_EQ(opts("TOOLONGNAME.TXT -P100 +F0"), 2);
    EXPECT_EQ(opts("-Q -P5"), 9);
    EXPECT_EQ(S.line.port_index, 4);
    EXPECT_EQ(run("-% +F0"), 99);   // no completion step after an error
}

TEST(FileArgument, SplitAndEightThreeRule)
{
    EXPECT_EQ(opts("/data/in/data.txt"), 0);
    EXPECT_STREQ(S.file.file_dir, "/data/in/");
    EXPECT_STREQ(S.file.file_name, "DATA");
    EXPECT_STREQ(S.file.file_ext, ".TXT");
    EXPECT_STREQ(S.file.file_spelled, "data.txt");
    EXPECT_EQ(S.file.file_given, 1);
    EXPECT_EQ(S.file.file_type, FT_DATA);

    for (const char *t : {"A-B.TXT", "X", "~{}#$%&'.()^", "@`_!.A-Z", "DATA.", "\"AB  .T  \""})
        EXPECT_EQ(opts(t), 0) << t;
    for (const char *t :
         {"TOOLONGNAME.TXT", "A.B.C", "DATA.TEXT", ".TXT", "A*.TXT", "A+B", "A;B", "A=B", "A[B]",
          "A<B", "\"A B\"", "\"DAT\tA\"", "A\xE4", "A\\B.TXT", "DATA.TXT OTHER.TXT"})
        EXPECT_EQ(opts(t), 2) << t;
    EXPECT_EQ(opts("-AB.TXT"), 9);
    EXPECT_EQ(opts("/data/in/"), 0);   // a bare directory is no file name
    EXPECT_EQ(S.file.file_given, 0);
    EXPECT_EQ(opts("/data/ X.TXT"), 0);   // ... and leaves room for one
}

TEST(FileArgument, ProgramKindsAndReceiveName)
{
    const char *kinds[] = {"D.PD", "prog.pd3", "P.Ex3", "P.FN3"};
    for (int kind = FT_DATA; kind <= FT_FN3; ++kind) {
        EXPECT_EQ(opts(kinds[kind]), 0);
        EXPECT_EQ(S.file.file_type, kind) << kinds[kind];
    }
    EXPECT_EQ(run("+R /recv/(file)"), 0);
    EXPECT_STREQ(S.file.file_name, "(FILE)");
    EXPECT_EQ(run("+R"), 0);
}

TEST(FileArgument, OverlongPartsGiveTwoNotAnOverflow)
{
    std::string dir(PART_SIZE, 'd');
    EXPECT_EQ(opts("/" + dir + "/A.TXT"), 2);
    EXPECT_EQ(opts(std::string(PART_SIZE + 10, 'n')), 2);
    EXPECT_EQ(opts("/x." + std::string(PART_SIZE, 'e')), 2);
    EXPECT_EQ(opts("/" + std::string(PART_SIZE - 1, 'd') + "/A"), 2);
    EXPECT_EQ(opts(std::string(PATH_SIZE - 6, 'd') + "/A.TXT"), 2);   // whole path too long
    EXPECT_EQ(opts("/" + std::string(200, 'd') + "/A.TXT"), 0);
}

TEST(CheckDosName, UpperCasesOnlyValidNames)
{
    char name[16] = "data", ext[8] = ".txt";
    EXPECT_EQ(check_dos_name(name, ext), 0);
    EXPECT_STREQ(name, "DATA");
    EXPECT_STREQ(ext, ".TXT");
    char bad[16] = "a b", none[4] = "";
    EXPECT_EQ(check_dos_name(bad, none), 2);
    EXPECT_STREQ(bad, "a b");
    // Names that cannot come from a command text but can from a header.
    for (const char *n : {"", " A", "-A", "A\"B"}) {
        char buf[8];
        std::strcpy(buf, n);
        EXPECT_EQ(check_dos_name(buf, none), 2) << n;
    }
    char noext[8] = "TXT";
    EXPECT_EQ(check_dos_name(name, noext), 2);
}

TEST(Completion, CrossChecksBeforeAnyPortOpens)
{
    TempDir t;
    std::string data = t.put("data.txt", "12345678\r\n");
    t.put("data.FLD", "FIELDS 3,5\r\n");
    std::string prog = t.put("prog.pd3", "x");
    std::string bare = t.put("nofld.txt", "x");

    EXPECT_EQ(run("-R"), 1);                  // sending needs a file
    EXPECT_EQ(run("-R " + t.dir + "/"), 1);   // a directory is no file
    EXPECT_EQ(run(prog + " +F10"), 7);
    EXPECT_EQ(run(t.dir + "/data.fld"), 8);
    EXPECT_EQ(run(bare), 8);
    EXPECT_EQ(run(t.dir + "/missing.txt"), 1);
    EXPECT_EQ(run(t.dir + "/missing.txt +F5"), 1);
    std::filesystem::create_directory(t.dir + "/sub.txt");
    EXPECT_EQ(run(t.dir + "/sub.txt +F5"), 1);   // a directory named like a file

    EXPECT_EQ(run(data), 0);
    EXPECT_EQ(S.send.ditems, 2);
    EXPECT_EQ(S.send.record_length, 8);
    EXPECT_EQ(run(data + " +F200,60"), 6);   // 260 + 2 > 255
    EXPECT_EQ(run(data + " +F200,54"), 6);   // 254 + 2 = 256: the fields count too
    EXPECT_EQ(run(data + " +F200,53"), 0);   // 253 + 2 = 255
    EXPECT_EQ(S.send.record_length, 253);
    EXPECT_EQ(S.send.ddigits_sum, 253);
    EXPECT_EQ(run(prog), 0);
    EXPECT_EQ(S.send.record_length, 128);
}

// The parse alone: what the command text says, checked without any file.
int parse_only(const std::string &text)
{
    reset_settings(S);
    build_argv(args, "orvw.exe", text.c_str());
    return parse_args(S, args.count, args.vector);
}

TEST(Completion, ParsingReadsNoFile)
{
    TempDir t;
    std::string data = t.put("data.txt", "12345678\r\n");
    t.put("data.FLD", "FIELDS 3,5\r\n");

    // The .FLD file is there, but only the completion step reads it.
    EXPECT_EQ(parse_only(data), 0);
    EXPECT_EQ(S.send.ditems, 0);
    EXPECT_EQ(complete_settings(S), 0);
    EXPECT_EQ(S.send.ditems, 2);
    EXPECT_EQ(S.send.record_length, 8);

    // Missing files are the completion step's to report ...
    EXPECT_EQ(parse_only(t.dir + "/missing.txt"), 0);
    EXPECT_EQ(complete_settings(S), 1);
    // ... while what the text alone settles is refused by the parse, and
    // before a missing file.
    EXPECT_EQ(parse_only(t.dir + "/missing.txt +F200,60"), 6);
    EXPECT_EQ(parse_only(t.dir + "/missing.fld"), 8);
    EXPECT_EQ(parse_only(t.dir + "/missing.pd3 +F10"), 7);
    EXPECT_EQ(parse_only(t.dir + "/missing.pd3"), 0);
    EXPECT_EQ(S.send.record_length, 128);
    EXPECT_EQ(parse_only(t.dir + "/missing.txt +F200,53"), 0);
    EXPECT_EQ(S.send.record_length, 253);
}

TEST(Completion, FilesAreOpenedByTheirSpelling)
{
    TempDir t;
    t.put("Mixed.Dat", "ab\r\n");
    t.put("Mixed.fld", "field 2\n");
    t.put("other.ex3", "x");
    EXPECT_EQ(run(t.dir + "/Mixed.Dat"), 0);
    EXPECT_STREQ(S.file.file_name, "MIXED");
    EXPECT_EQ(S.send.ddigits[0], 2);
    EXPECT_EQ(run(t.dir + "/other.ex3"), 0);
    EXPECT_EQ(S.send.record_length, 130);
    EXPECT_EQ(run(t.dir + "/OTHER.EX3"), 1);   // no such spelling on this system
}

// Both sides of every length limit of the command text.
TEST(LengthLimits, NamePartsOfTheFileArgument)
{
    EXPECT_EQ(opts("ABCDEFGH.TXT"), 0);   // base 8, extension 3, whole 12
    EXPECT_STREQ(S.file.file_name, "ABCDEFGH");
    EXPECT_STREQ(S.file.file_ext, ".TXT");
    EXPECT_EQ(opts("ABCDEFGHI.TXT"), 2);   // base 9
    EXPECT_EQ(opts("ABCDEFGHI.TX"), 2);    // base 9, whole 12
    EXPECT_EQ(opts("ABCDEFGH.TEXT"), 2);   // extension 4, whole 13
    EXPECT_EQ(opts("A.TEXT"), 2);
    EXPECT_EQ(opts("ABCDEFGH"), 0);   // no extension
    EXPECT_EQ(opts("ABCDEFGHI"), 2);
    EXPECT_EQ(opts("abcdefgh.txt"), 0);   // the limits count characters, in any case
    EXPECT_EQ(opts("abcdefghi.txt"), 2);
    // The destination of a reception obeys the same rule.
    EXPECT_EQ(run("+R /in/ABCDEFGH.TXT"), 0);
    EXPECT_EQ(run("+R /in/ABCDEFGHI.TXT"), 2);
    EXPECT_EQ(run("+R /in/ABCDEFGH.TEXT"), 2);

    char base8[16] = "ABCDEFGH", base9[16] = "ABCDEFGHI", ext3[8] = ".ABC", ext4[8] = ".ABCD";
    EXPECT_EQ(check_dos_name(base8, ext3), 0);
    EXPECT_EQ(check_dos_name(base9, ext3), 2);
    EXPECT_EQ(check_dos_name(base8, ext4), 2);
}

TEST(LengthLimits, RecordOfTheFieldWidths)
{
    TempDir t;
    std::string data = t.put("data.txt", "x\r\n");
    // Fields plus widths: 255 passes, 256 is a record too long.
    EXPECT_EQ(run(data + " +F200,53"), 0);
    EXPECT_EQ(run(data + " +F200,54"), 6);
    EXPECT_EQ(run(data + " +F254"), 0);   // one field: 1 + 254
    std::string fifteen = " +F15,15,15,15,15,15,15,15,15,15,15,15,15,15,15";
    EXPECT_EQ(run(data + fifteen + ",14"), 0);   // 16 fields: 16 + 239 = 255
    EXPECT_EQ(S.send.ditems, 16);
    EXPECT_EQ(S.send.record_length, 239);
    EXPECT_EQ(run(data + fifteen + ",15"), 6);    // 16 + 240 = 256
    EXPECT_EQ(run(data + fifteen + ",1,1"), 5);   // 17 fields
    EXPECT_EQ(opts("+F1"), 0);                    // the narrowest width ...
    EXPECT_EQ(opts("+F0"), 4);                    // ... and below it
}
