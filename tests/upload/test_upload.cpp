// Receiving a file from a scripted terminal on the simulated line.
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "sim_session.h"
#include "upload/rx_terminal.h"

using namespace simtest;

namespace {

using rxterm::data_body;
using rxterm::frame;
using rxterm::header_body;
using rxterm::Terminal;

class Upload : public SimSession {
protected:
    Terminal term;

    // A data file of records of widths 5 and 3.
    void data_file(const std::string &name, const std::vector<std::string> &records)
    {
        term.script = rxterm::data_file_script(records, name);
    }
    int receive(const std::string &options, const std::string &dest)
    {
        term.install();
        return exec("-V " + options + " +R " + tmp.path(dest));
    }
    std::string read(const std::string &name)
    {
        std::ifstream f(tmp.path(name), std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }
    bool exists(const std::string &name) { return std::filesystem::exists(tmp.path(name)); }
    size_t files_in_folder()
    {
        size_t n = 0;
        for (auto &e : std::filesystem::directory_iterator(tmp.dir())) {
            (void)e;
            ++n;
        }
        return n;
    }
    int count_answers(Kind k)
    {
        int n = 0;
        for (const Bytes &a : term.answers)
            n += kind_of(a.data(), a.size()) == k;
        return n;
    }
};

}   // namespace

// --- whole receptions ---------------------------------------------------------------

TEST_F(Upload, DataFileIsWrittenAsLinesWithItsFieldFile)
{
    data_file("DATA.TXT", {"ABCDEXYZ", "12345678", "abcde\x10yz"});
    EXPECT_EQ(receive("", "(file)"), 0);
    EXPECT_EQ(read("DATA.TXT"), "ABCDEXYZ\r\n12345678\r\nabcde\x10yz\r\n");
    EXPECT_STREQ(name, "DATA.TXT");
    const std::string fld = read("DATA.FLD");
    EXPECT_NE(fld.find("file\tDATA.TXT\r\n"), std::string::npos) << fld;
    EXPECT_NE(fld.find("size\t30\r\n"), std::string::npos) << fld;
    EXPECT_NE(fld.find("records\t3\r\n"), std::string::npos) << fld;
    EXPECT_NE(fld.find("fields\t5 3\r\n"), std::string::npos) << fld;
    EXPECT_EQ(count_answers(Kind::Ack), 6);   // enquiry, header, 3 records, EOT
    EXPECT_EQ(count_answers(Kind::Nak), 0);
    EXPECT_EQ(files_in_folder(), 2u);   // no temporary file left
}

TEST_F(Upload, SeparatorsAndTheDestinationName)
{
    data_file("OTHER.TXT", {"ABCDEXYZ"});
    EXPECT_EQ(receive("+T',' ", "mine.txt"), 0);
    EXPECT_EQ(read("mine.txt"), "ABCDE,XYZ\r\n");
    EXPECT_STREQ(name, "MINE.TXT");
}

TEST_F(Upload, ProgramFileAndEmptyFile)
{
    term.script = {msg(0x05), frame(0x01, header_body("X.PD3", 1, "")),
                   frame(0x02, data_body(1, std::string(128, 'p'))), msg(0x04)};
    EXPECT_EQ(receive("", "(file)"), 0);
    EXPECT_EQ(read("X.PD3"), std::string(128, 'p') + "\r\n");
    EXPECT_FALSE(exists("X.FLD"));

    sim::reset();
    term = Terminal();
    term.script = {msg(0x05), frame(0x01, header_body("E.TXT", 0, "01010")), msg(0x04)};
    EXPECT_EQ(receive("", "(file)"), 0);
    EXPECT_EQ(read("E.TXT"), "");
    EXPECT_NE(read("E.FLD").find("record\t0\r\n"), std::string::npos);
}

// --- lost answers and repeats -------------------------------------------------------

TEST_F(Upload, RepeatedBlocksAreAcknowledgedAgainAndWrittenOnce)
{
    data_file("DATA.TXT", {"AAAAABBB", "CCCCCDDD"});
    // The ACK of each record "is lost": the terminal sends it once more.
    std::vector<int> repeats(8, 0);
    term.rule = [&](Kind k, size_t step) {
        if (k == Kind::Ack && (step == 2 || step == 3) && repeats[step]++ == 0) {
            term.send(step);
            return true;
        }
        return false;
    };
    EXPECT_EQ(receive("", "(file)"), 0);
    EXPECT_EQ(read("DATA.TXT"), "AAAAABBB\r\nCCCCCDDD\r\n");
}

TEST_F(Upload, RepeatedHeaderAndEnquiryAfterTheLastBlock)
{
    data_file("DATA.TXT", {"AAAAABBB"});
    int header_repeats = 0, last_asks = 0;
    term.rule = [&](Kind k, size_t step) {
        if (k == Kind::Ack && step == 1 && header_repeats++ == 0) {
            term.send(1);   // the header's ACK was lost
            return true;
        }
        if (k == Kind::Ack && step == 2 && last_asks++ == 0) {
            sim::deliver(msg(0x05), 1);   // the last ACK was lost: ask
            return true;
        }
        if (k == Kind::Nak && step == 2) {
            term.send(2);   // asked to repeat: the last block
            return true;
        }
        return false;
    };
    EXPECT_EQ(receive("", "(file)"), 0);
    EXPECT_EQ(read("DATA.TXT"), "AAAAABBB\r\n");
}

TEST_F(Upload, ClosingAfterAnEnquiryAboutTheLastBlockCompletes)
{
    // The terminal asks about its last block, hears NAK and closes at once:
    // the file was complete, so the session is too.
    data_file("DATA.TXT", {"AAAAABBB"});
    term.rule = [&](Kind k, size_t step) {
        if (k == Kind::Ack && step == 2) {
            sim::deliver(msg(0x05), 1);
            return true;
        }
        if (k == Kind::Nak) {
            sim::deliver(msg(0x04), 1);
            return true;
        }
        return false;
    };
    EXPECT_EQ(receive("", "(file)"), 0);
    EXPECT_EQ(read("DATA.TXT"), "AAAAABBB\r\n");
}

TEST_F(Upload, BadCheckIsAnsweredWithNakAndTheTenthEnds53)
{
    data_file("DATA.TXT", {"AAAAABBB"});
    Bytes bad = term.script[2];
    bad[bad.size() - 1] ^= 0x01;
    int sent_bad = 0;
    term.rule = [&](Kind k, size_t step) {
        if ((k == Kind::Ack && step == 1) || (k == Kind::Nak && step == 2 && sent_bad < 3)) {
            ++sent_bad;
            term.next = 3;
            sim::deliver(bad, 1);
            return true;
        }
        return false;
    };
    EXPECT_EQ(receive("", "(file)"), 0);
    EXPECT_EQ(count_answers(Kind::Nak), 3);
    EXPECT_EQ(read("DATA.TXT"), "AAAAABBB\r\n");

    sim::reset();
    std::filesystem::remove(tmp.path("DATA.TXT"));
    term = Terminal();
    data_file("DATA.TXT", {"AAAAABBB"});
    term.rule = [&](Kind k, size_t step) {
        if ((k == Kind::Ack && step == 1) || k == Kind::Nak) {
            term.next = 3;
            sim::deliver(bad, 1);
            return true;
        }
        return false;
    };
    EXPECT_EQ(receive("", "(file)"), 53);
    EXPECT_EQ(count_answers(Kind::Nak), 10);
    EXPECT_FALSE(exists("DATA.TXT"));
}

// --- refused headers -----------------------------------------------------------------

TEST_F(Upload, RefusedHeadersEndWithTheirCodeAndCreateNothing)
{
    struct Case {
        std::string name, layout, dest, options;
        int code;
    };
    const Case cases[] = {
        {"BAD NAME", "02005003", "(file)", "", 70},
        {"DATA.TXT", "02000003", "(file)", "", 70},   // width 000
        {"NUL.TXT", "02005003", "(file)", "", 70},    // a device
        {"OTHER.TXT", "02005003", "DATA.TXT", "+N", 77},
        {"X.PD3", "", "DATA.TXT", "", 2},
    };
    for (const Case &c : cases) {
        sim::reset();
        term = Terminal();
        term.script = {msg(0x05), frame(0x01, header_body(c.name, 1, c.layout)), msg(0x04)};
        term.rule = [&](Kind k, size_t) {
            if (k == Kind::Eot)
                sim::deliver(msg(0x04), 1);   // the terminal closes in its turn
            return k == Kind::Eot;
        };
        EXPECT_EQ(receive(c.options, c.dest), c.code) << c.name;
        EXPECT_EQ(count_answers(Kind::Eot), 1) << c.name;
        EXPECT_EQ(files_in_folder(), 0u) << c.name;
    }
}

// --- failures keep what the user had -----------------------------------------------------

TEST_F(Upload, TerminalEotMidTransferEnds55AndKeepsTheOldFile)
{
    tmp.write("DATA.TXT", "old content\r\n");
    data_file("DATA.TXT", {"AAAAABBB", "CCCCCDDD"});
    term.rule = [&](Kind k, size_t step) {
        if (k == Kind::Ack && step == 2) {
            sim::deliver(msg(0x04), 1);
            return true;
        }
        return false;
    };
    EXPECT_EQ(receive("", "(file)"), 55);
    EXPECT_EQ(read("DATA.TXT"), "old content\r\n");
    EXPECT_EQ(files_in_folder(), 1u);
}

TEST_F(Upload, AbortSendsEotAndKeepsTheOldFile)
{
    tmp.write("DATA.TXT", "old\r\n");
    data_file("DATA.TXT", {"AAAAABBB", "CCCCCDDD"});
    term.rule = [&](Kind k, size_t step) {
        if (k == Kind::Ack && step == 2) {
            AbortOrv5();
            return true;
        }
        return false;
    };
    EXPECT_EQ(receive("", "(file)"), 90);
    EXPECT_EQ(kind_of(term.answers.back().data(), 4), Kind::Eot);
    EXPECT_EQ(read("DATA.TXT"), "old\r\n");
    EXPECT_EQ(files_in_folder(), 1u);
}

TEST_F(Upload, AppendAddsTheNewRecordsBehindTheOldOnes)
{
    tmp.write("DATA.TXT", "OLDREC01\r\n");
    data_file("DATA.TXT", {"AAAAABBB"});
    EXPECT_EQ(receive("+A", "DATA.TXT"), 0);
    EXPECT_EQ(read("DATA.TXT"), "OLDREC01\r\nAAAAABBB\r\n");
    EXPECT_NE(read("DATA.FLD").find("size\t20\r\n"), std::string::npos);
    EXPECT_EQ(files_in_folder(), 2u);
}

// --- time-outs ----------------------------------------------------------------------------

TEST_F(Upload, SilentTerminalEnds51AfterTheTimeout)
{
    term.script = {Bytes{}};
    EXPECT_EQ(receive("-L5", "(file)"), 51);
    EXPECT_EQ(count_answers(Kind::Eot), 1);
    EXPECT_GE(sim::now_ms(), 5000u);
    EXPECT_LT(sim::now_ms(), 6000u);
}

TEST_F(Upload, ZeroTimeoutWaitsForTheTerminalUntilAborted)
{
    term.script = {Bytes{}};
    sim::at(120000, [] { AbortOrv5(); });
    EXPECT_EQ(receive("-L0", "(file)"), 90);
    EXPECT_GE(sim::now_ms(), 120000u);
}

TEST_F(Upload, APortGoneEndsEvenTheLimitlessWaitWith51)
{
    term.script = {Bytes{}};
    sim::at(120000, [] { sim::faults().read_fails = true; });
    EXPECT_EQ(receive("-L0", "(file)"), 51);
    sim::faults().read_fails = false;
    EXPECT_GE(sim::now_ms(), 120000u);
    EXPECT_LT(sim::now_ms(), 150000u);
}

// A port that takes no byte any more: the terminal hears no answer and
// asks again (an enquiry naming our station); the third answer that cannot
// be written ends the session with 51, long before the 30-second time-out.
TEST_F(Upload, APortThatTakesNoByteEnds51Sooner)
{
    data_file("DATA.TXT", {"AAAAABBB"});
    sim::faults().write_fails = true;
    for (uint64_t at : {1000, 2000, 3000, 4000})
        sim::at(at, [] { sim::deliver(simtest::msg(0x05), 1); });
    EXPECT_EQ(receive("", "(file)"), 51);
    sim::faults().write_fails = false;
    EXPECT_TRUE(term.answers.empty());
    EXPECT_LT(sim::now_ms(), 5000u);
    EXPECT_FALSE(exists("DATA.TXT"));
}

TEST_F(Upload, SilenceAfterTheHeaderEnds51After30Seconds)
{
    data_file("DATA.TXT", {"AAAAABBB"});
    term.rule = [](Kind k, size_t step) { return k == Kind::Ack && step == 1; };
    EXPECT_EQ(receive("", "(file)"), 51);
    EXPECT_FALSE(exists("DATA.TXT"));
}

// --- length limits ------------------------------------------------------------------------

TEST_F(Upload, LongestNameAndWidestFieldAreReceivedWhole)
{
    std::string record(254, 'w');
    record[7] = 0x10;   // doubled on the wire
    term.script = {msg(0x05), frame(0x01, header_body("ABCDEFGH.TXT", 1, "01254")),
                   frame(0x02, data_body(1, record)), msg(0x04)};
    EXPECT_EQ(receive("", "(file)"), 0);
    EXPECT_STREQ(name, "ABCDEFGH.TXT");
    EXPECT_EQ(read("ABCDEFGH.TXT"), record + "\r\n");

    // Sixteen fields whose widths and count make 255.
    sim::reset();
    term = Terminal();
    std::string layout = "16224";
    for (int i = 0; i < 15; ++i)
        layout += "001";
    term.script = {msg(0x05), frame(0x01, header_body("F16.TXT", 1, layout)),
                   frame(0x02, data_body(1, std::string(239, 'f'))), msg(0x04)};
    EXPECT_EQ(receive("", "(file)"), 0);
    EXPECT_EQ(read("F16.TXT"), std::string(239, 'f') + "\r\n");
}

TEST_F(Upload, OneBeyondEachLimitOfTheHeaderIsRefused)
{
    std::string sixteen_plus = "16225";   // 16 fields, 225 + 15 = 240 wide: 256
    for (int i = 0; i < 15; ++i)
        sixteen_plus += "001";
    struct Case {
        std::string name, layout;
        int records;
    };
    const Case cases[] = {
        {"ABCDEFGHI.TX", "01005", 1}, {"AB.CDEF", "01005", 1},       {"DATA.TXT", "01255", 1},
        {"DATA.TXT", "02253001", 1},  {"DATA.TXT", sixteen_plus, 1}, {"DATA.TXT", "01005", 32768},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name + " " + c.layout);
        sim::reset();
        term = Terminal();
        term.script = {msg(0x05), frame(0x01, header_body(c.name, c.records, c.layout)), msg(0x04)};
        term.rule = [&](Kind k, size_t) {
            if (k == Kind::Eot)
                sim::deliver(msg(0x04), 1);
            return k == Kind::Eot;
        };
        EXPECT_EQ(receive("", "(file)"), ORV5_E_BAD_HEADER);
        EXPECT_EQ(count_answers(Kind::Eot), 1);
        EXPECT_EQ(files_in_folder(), 0u);
    }
}
