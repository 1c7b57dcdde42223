// Sending a file to a scripted terminal on the simulated line.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "download/download.h"
#include "sim_session.h"

using namespace simtest;

namespace {

// A terminal that answers every enquiry, frame and EOT with ACK after
// 1 ms, unless the test's rule answers first.  The rule gets the block's
// kind and its ordinal among blocks of that kind (0-based) and returns
// true when it has answered itself.
struct Terminal {
    uint8_t hi = 0, lo = 0;
    std::function<bool(Kind, int)> rule;
    int seen[8] = {};

    void install()
    {
        sim::set_peer([this](const uint8_t *b, size_t n) {
            Kind k = kind_of(b, n);
            int nth = seen[static_cast<int>(k)]++;
            if (rule && rule(k, nth))
                return;
            if (k == Kind::Enq || k == Kind::Header || k == Kind::Data || k == Kind::Eot)
                sim::deliver(msg(0x06, hi, lo), 1);
        });
    }
};

class Download : public SimSession {
protected:
    Terminal term;
    void SetUp() override
    {
        SimSession::SetUp();
        term.install();
    }
    std::string data_file(const std::string &content, const std::string &widths = "3,2")
    {
        tmp.write("DATA.TXT", content);
        return "-V +F" + widths + " " + tmp.path("DATA.TXT");
    }
    const Bytes &nth_write(Kind k, int nth)
    {
        static Bytes none;
        for (const Bytes &w : sim::writes())
            if (kind_of(w.data(), w.size()) == k && nth-- == 0)
                return w;
        return none;
    }
};

std::string as_text(const Bytes &b, size_t from, size_t n)
{
    return std::string(b.begin() + from, b.begin() + from + n);
}

}   // namespace

// --- whole transfers --------------------------------------------------------

TEST_F(Download, SendsHeaderDataAndClosingEot)
{
    EXPECT_EQ(exec(data_file("ABCDE\r\nxy\r\n")), 0);
    EXPECT_STREQ(name, "DATA.TXT");
    EXPECT_EQ(count_kind(Kind::Enq), 1);
    EXPECT_EQ(count_kind(Kind::Header), 1);
    EXPECT_EQ(count_kind(Kind::Data), 2);
    EXPECT_EQ(count_kind(Kind::Eot), 1);
    const Bytes &hd = nth_write(Kind::Header, 0);
    EXPECT_EQ(as_text(hd, 4, 12), "DATA.TXT    ");
    EXPECT_EQ(as_text(hd, 16, 13), "0000202003002");
    const Bytes &d1 = nth_write(Kind::Data, 0);
    EXPECT_EQ(as_text(d1, 4, 10), "00001ABCDE");
    const Bytes &d2 = nth_write(Kind::Data, 1);
    EXPECT_EQ(as_text(d2, 4, 10), "00002xy   ");   // a short line is padded with blanks
    EXPECT_EQ(sim::written().back(), 0x00);        // EOT's station byte comes last
    EXPECT_FALSE(sim::port_is_open());
}

TEST_F(Download, EmptyFileSendsOnlyTheHeader)
{
    EXPECT_EQ(exec(data_file("")), 0);
    EXPECT_EQ(as_text(nth_write(Kind::Header, 0), 16, 5), "00000");
    EXPECT_EQ(count_kind(Kind::Data), 0);
    EXPECT_EQ(count_kind(Kind::Eot), 1);
}

TEST_F(Download, ProgressCountsAcknowledgedRecords)
{
    tmp.write("DATA.TXT", "a\r\nb\r\nc\r\n");
    EXPECT_EQ(exec("+F1 " + tmp.path("DATA.TXT")), 0);
    EXPECT_EQ(sim::window().title, "ZDX-Ir  Sending");
    EXPECT_EQ(sim::window().name, "DATA.TXT");
    EXPECT_EQ(sim::window().counter, "00003 / 00003");
    EXPECT_EQ(sim::window().destroyed, 1);
}

TEST_F(Download, ProgressCountsCarryTotalsAndTheBytesOnTheLine)
{
    tmp.write("DATA.TXT", "a\r\nb\r\nc\r\n");
    EXPECT_EQ(exec("+F1 " + tmp.path("DATA.TXT")), 0);
    const auto &counts = sim::window().counts;
    ASSERT_EQ(counts.size(), 4u);   // the empty start, then each acknowledged record
    EXPECT_EQ(counts[0].done, 0u);
    EXPECT_EQ(counts[0].total, -1) << "before the transfer the total is not known";
    EXPECT_EQ(counts[0].bytes, 0u);
    for (size_t i = 1; i < counts.size(); ++i) {
        EXPECT_EQ(counts[i].done, i);
        EXPECT_EQ(counts[i].total, 3);
        EXPECT_GT(counts[i].bytes, counts[i - 1].bytes) << i;
    }
    // When the last count is shown, everything written but the closing EOT
    // has crossed the line, and the terminal's five answers (4 bytes each:
    // to the enquiry, the header and the three records).
    uint64_t before_eot = 0;
    for (const Bytes &w : sim::writes())
        before_eot += w.size();
    before_eot -= sim::writes().back().size();
    EXPECT_EQ(counts.back().bytes, before_eot + 5 * 4);
}

TEST_F(Download, LargestFileIsSentAndOneMoreLineIsRefusedBeforeAnyTraffic)
{
    std::string lines;
    for (int i = 0; i < 32767; ++i)
        lines += "x\r\n";
    EXPECT_EQ(exec(data_file(lines, "1")), 0);
    EXPECT_EQ(count_kind(Kind::Data), 32767);
    EXPECT_EQ(as_text(nth_write(Kind::Data, 32766), 4, 5), "32767");

    sim::reset();
    term.install();
    EXPECT_EQ(exec(data_file(lines + "x\r\n", "1")), 3);
    EXPECT_TRUE(sim::written().empty());
}

TEST_F(Download, MissingFileBetweenParseAndSendGivesOne)
{
    std::string text = data_file("a\r\n", "1");
    sim::on_pump([&] { std::remove(tmp.path("DATA.TXT").c_str()); });
    EXPECT_EQ(exec(text), 1);
}

// --- station identifier -------------------------------------------------------

TEST_F(Download, AdoptsTheTerminalsStationAndIgnoresOtherStations)
{
    term.hi = 0x02;
    term.lo = 0x10;
    term.rule = [](Kind k, int nth) {
        if (k == Kind::Header && nth == 0) {   // another station's ACK first
            sim::deliver(msg(0x06, 0x09, 0x09), 1);
            return true;
        }
        return false;
    };
    EXPECT_EQ(exec(data_file("ABCDE\r\n")), 0);
    // The other station's ACK was ignored; after 500 ms the enquiry asked
    // again, and the terminal's ACK to it answered the header.
    const Bytes &hd = nth_write(Kind::Header, 0);
    EXPECT_EQ(hd[2], 0x02);
    EXPECT_EQ(hd[3], 0x10);
    EXPECT_EQ(hd[4], 0x10);   // the station's 0x10 doubled on the wire
    const Bytes &eot = nth_write(Kind::Eot, 0);
    EXPECT_EQ(eot, msg(0x04, 0x02, 0x10));
}

TEST_F(Download, NakInTheConnectionPhaseIsSkippedAndTheEnquiryRepeated)
{
    term.rule = [](Kind k, int nth) {
        if (k == Kind::Enq && nth == 0) {
            sim::deliver(msg(0x15, 0x01, 0x06), 1);   // station bytes look like ACK
            return true;
        }
        return false;
    };
    EXPECT_EQ(exec(data_file("ABCDE\r\n")), 0);
    EXPECT_EQ(count_kind(Kind::Enq), 2);
    EXPECT_GE(sim::now_ms(), 500u);
}

TEST_F(Download, TimeoutWhileReadingTheStationAsksForTheWholeAnswerAgain)
{
    // The first ACK loses its station pair; the enquiry goes out again and
    // only a complete DLE ACK station answer is taken, never the next bytes.
    term.rule = [](Kind k, int nth) {
        if (k == Kind::Enq && nth == 0) {
            const uint8_t dle_ack[] = {0x10, 0x06};
            sim::deliver(dle_ack, 2, 1);
            return true;
        }
        return false;
    };
    term.lo = 0x07;
    EXPECT_EQ(exec(data_file("ABCDE\r\n")), 0);
    EXPECT_EQ(count_kind(Kind::Enq), 2);
    const Bytes &hd = nth_write(Kind::Header, 0);
    EXPECT_EQ(hd[2], 0x00);
    EXPECT_EQ(hd[3], 0x07);
}

TEST_F(Download, AHalfReadStationIsNotTakenIntoTheRepeatedEnquiry)
{
    // The first ACK brings one station byte of two: the enquiry that asks
    // again still names our own station, and so does everything after it.
    term.rule = [](Kind k, int nth) {
        if (k == Kind::Enq && nth == 0) {
            const uint8_t half[] = {0x10, 0x06, 0x55};
            sim::deliver(half, 3, 1);
            return true;
        }
        return false;
    };
    EXPECT_EQ(exec(data_file("ABCDE\r\n")), 0);
    ASSERT_EQ(count_kind(Kind::Enq), 2);
    EXPECT_EQ(nth_write(Kind::Enq, 1), nth_write(Kind::Enq, 0));
    EXPECT_EQ(nth_write(Kind::Enq, 1)[2], 0x00);
    EXPECT_EQ(nth_write(Kind::Header, 0)[2], 0x00);
}

// Stray bytes (an infrared adapter's noise) every 200 ms from time 0 to
// until_ms.
static void stray_bytes_until(uint64_t until_ms)
{
    for (uint64_t t = 0; t < until_ms; t += 200) {
        sim::at(t, [] {
            const uint8_t zero = 0x00;
            sim::deliver(&zero, 1);
        });
    }
}

TEST_F(Download, StrayBytesNeitherStopNorRestartTheConnectionWait)
{
    term.rule = [](Kind, int) { return true; };
    stray_bytes_until(5000);
    EXPECT_EQ(exec(data_file("ABCDE\r\n") + " -L1"), 52);
    EXPECT_EQ(count_kind(Kind::Enq), 2);
    EXPECT_EQ(count_kind(Kind::Eot), 1);
    EXPECT_LT(sim::now_ms(), 1500u);
}

TEST_F(Download, StrayBytesDoNotStopTheClosingEotBeingRepeated)
{
    term.rule = [](Kind k, int nth) {
        if (k == Kind::Eot && nth == 0)
            stray_bytes_until(sim::now_ms() + 60000);
        return k == Kind::Eot;
    };
    EXPECT_EQ(exec(data_file("ABCDE\r\n")), 52);
    EXPECT_EQ(count_kind(Kind::Eot), 60);   // every 500 ms for 30 s
    EXPECT_LT(sim::now_ms(), 32000u);
}

// --- negative answers and the terminal's EOT ---------------------------------------

TEST_F(Download, NineNaksAreRetriedTheTenthEndsWith54)
{
    term.rule = [](Kind k, int nth) {
        if (k == Kind::Data && nth < 9) {
            sim::deliver(msg(0x15), 1);
            return true;
        }
        return false;
    };
    EXPECT_EQ(exec(data_file("ABCDE\r\n")), 0);
    EXPECT_EQ(count_kind(Kind::Data), 10);
    EXPECT_EQ(nth_write(Kind::Data, 0), nth_write(Kind::Data, 9));   // same wire form

    sim::reset();
    term = Terminal();
    term.rule = [](Kind k, int) {
        if (k == Kind::Data) {
            sim::deliver(msg(0x15), 1);
            return true;
        }
        return false;
    };
    term.install();
    // The terminal acknowledges the closing EOT, yet the result stays 54.
    EXPECT_EQ(exec(data_file("ABCDE\r\n")), 54);
    EXPECT_EQ(count_kind(Kind::Data), 10);
    EXPECT_EQ(count_kind(Kind::Eot), 1);
}

// What went wrong first is what the host hears: a terminal that refused
// the record ten times and then never answers the closing EOT ends with
// 54, not with the time-out of the EOT.
TEST_F(Download, TheFirstErrorOutlivesAnUnansweredClosingEot)
{
    term.rule = [](Kind k, int) {
        if (k == Kind::Data) {
            sim::deliver(msg(0x15), 1);
            return true;
        }
        return k == Kind::Eot;   // silence
    };
    EXPECT_EQ(exec(data_file("ABCDE\r\n")), 54);
    EXPECT_EQ(count_kind(Kind::Data), 10);
    EXPECT_EQ(count_kind(Kind::Eot), 60);
}

TEST_F(Download, TerminalsEotEndsWith55)
{
    term.rule = [](Kind k, int) {
        if (k == Kind::Header) {
            sim::deliver(msg(0x04), 1);
            return true;
        }
        return false;
    };
    EXPECT_EQ(exec(data_file("ABCDE\r\n")), 55);
    EXPECT_EQ(count_kind(Kind::Data), 0);
    EXPECT_EQ(count_kind(Kind::Eot), 1);
}

TEST_F(Download, WackExtendsTheWaitToSixtySeconds)
{
    term.rule = [](Kind k, int nth) {
        if (k == Kind::Data && nth == 0) {
            sim::deliver(msg(0x3B), 1);
            sim::deliver(msg(0x06), 59000);
            return true;
        }
        return false;
    };
    EXPECT_EQ(exec(data_file("ABCDE\r\n")), 0);
    EXPECT_EQ(count_kind(Kind::Enq), 1);   // no enquiry while told to wait

    sim::reset();
    term.rule = [](Kind k, int) {
        if (k == Kind::Data) {
            sim::deliver(msg(0x3B), 1);
            return true;
        }
        return false;
    };
    term.install();
    EXPECT_EQ(exec(data_file("ABCDE\r\n")), 52);
    EXPECT_GE(sim::now_ms(), 60000u);
    EXPECT_LT(sim::now_ms(), 62000u);
    EXPECT_EQ(count_kind(Kind::Eot), 1);
}

// --- silence -------------------------------------------------------------------------

TEST_F(Download, SilentTerminalGetsSixtyEnquiriesThenEot)
{
    term.rule = [](Kind, int) { return true; };
    EXPECT_EQ(exec(data_file("ABCDE\r\n")), 52);
    EXPECT_EQ(count_kind(Kind::Enq), 60);
    EXPECT_EQ(count_kind(Kind::Eot), 1);
    EXPECT_GE(sim::now_ms(), 30000u);
    EXPECT_LT(sim::now_ms(), 31000u);
}

TEST_F(Download, ShortTimeoutGivesUpAfterTwoAnswersASecond)
{
    term.rule = [](Kind, int) { return true; };
    EXPECT_EQ(exec(data_file("ABCDE\r\n") + " -L1"), 52);
    EXPECT_EQ(count_kind(Kind::Enq), 2);
}

TEST_F(Download, ZeroTimeoutWaitsForTheTerminalUntilAborted)
{
    term.rule = [](Kind, int) { return true; };
    sim::at(100000, [] { AbortOrv5(); });
    EXPECT_EQ(exec(data_file("ABCDE\r\n") + " -L0"), 90);
    EXPECT_GE(count_kind(Kind::Enq), 199);
    EXPECT_EQ(count_kind(Kind::Eot), 1);
}

TEST_F(Download, APortGoneEndsEvenTheLimitlessConnectionWith52)
{
    term.rule = [](Kind, int) { return true; };
    sim::at(100000, [] { sim::faults().read_fails = true; });
    EXPECT_EQ(exec(data_file("ABCDE\r\n") + " -L0"), 52);
    sim::faults().read_fails = false;
    EXPECT_LT(sim::now_ms(), 102000u);
}

TEST_F(Download, APortGoneWhileARecordWaitsForItsAnswerEnds52)
{
    term.rule = [](Kind k, int) {
        if (k != Kind::Data)
            return false;
        sim::faults().read_fails = true;   // unplugged as the first record goes out
        return true;
    };
    EXPECT_EQ(exec(data_file("ABCDE\r\nFGHIJ\r\n")), 52);
    sim::faults().read_fails = false;
    EXPECT_LT(sim::now_ms(), 5000u);
}

// A port that takes no byte any more (writes fail) is as gone as one that
// gives none: three failures in a row end the session as its silence
// would, with 52, long before the 30-second time-out.
TEST_F(Download, APortThatTakesNoByteEndsWith52Sooner)
{
    sim::faults().write_fails = true;
    EXPECT_EQ(exec(data_file("ABCDE\r\n")), 52);
    sim::faults().write_fails = false;
    EXPECT_TRUE(sim::writes().empty());
    EXPECT_LT(sim::now_ms(), 2000u);
}

TEST_F(Download, APortThatTakesNoByteEndsEvenTheLimitlessConnectionWith52)
{
    sim::faults().write_fails = true;
    EXPECT_EQ(exec(data_file("ABCDE\r\n") + " -L0"), 52);
    sim::faults().write_fails = false;
    EXPECT_LT(sim::now_ms(), 2000u);
}

TEST_F(Download, WritesFailingWhileARecordIsSentEnd52)
{
    term.rule = [](Kind k, int) {
        if (k != Kind::Data)
            return false;
        sim::faults().write_fails = true;   // every write after the first record fails
        return true;
    };
    EXPECT_EQ(exec(data_file("ABCDE\r\nFGHIJ\r\n")), 52);
    sim::faults().write_fails = false;
    EXPECT_EQ(count_kind(Kind::Data), 1);
    EXPECT_LT(sim::now_ms(), 3000u);
}

TEST_F(Download, OneFailedWriteIsForgiven)
{
    sim::faults().write_fails = true;   // the first enquiry is lost
    sim::at(1, [] { sim::faults().write_fails = false; });
    EXPECT_EQ(exec(data_file("ABCDE\r\n")), 0);
    EXPECT_EQ(count_kind(Kind::Data), 1);
}

TEST_F(Download, UnacknowledgedClosingEotIsRepeatedThenGivesUp)
{
    term.rule = [](Kind k, int) { return k == Kind::Eot; };
    EXPECT_EQ(exec(data_file("ABCDE\r\n")), 52);
    EXPECT_EQ(count_kind(Kind::Eot), 60);
}

// While the terminal is silent only the enquiry is repeated; its ACK then
// proves nothing about the frame, so the frame goes out once more.
TEST_F(Download, SilenceAfterAFrameRepeatsTheEnquiryThenTheFrameAfterAnAck)
{
    term.rule = [](Kind k, int nth) {
        if (k == Kind::Data && nth == 0)
            return true;                    // lost answer
        if (k == Kind::Enq && nth == 1) {   // asked again: answer the frame
            sim::deliver(msg(0x06), 1);
            return true;
        }
        return false;
    };
    EXPECT_EQ(exec(data_file("ABCDE\r\n")), 0);
    EXPECT_EQ(count_kind(Kind::Data), 2);
    EXPECT_EQ(count_kind(Kind::Enq), 2);
}

// --- abort -----------------------------------------------------------------------------

TEST_F(Download, AbortWhileWaitingForAFramesAnswerSendsEot)
{
    term.rule = [](Kind k, int) {
        if (k == Kind::Data) {
            sim::at(sim::now_ms() + 200, [] { AbortOrv5(); });
            return true;
        }
        return false;
    };
    EXPECT_EQ(exec(data_file("ABCDE\r\nFGHIJ\r\n")), 90);
    EXPECT_EQ(count_kind(Kind::Data), 1);
    EXPECT_EQ(count_kind(Kind::Eot), 1);
}

TEST_F(Download, AbortBeforeTheTransferSendsNothing)
{
    sim::on_pump([] { AbortOrv5(); });
    EXPECT_EQ(exec(data_file("ABCDE\r\n")), 90);
    EXPECT_TRUE(sim::written().empty());
    EXPECT_FALSE(sim::port_is_open());
    EXPECT_FALSE(sim::timer_exists());
}

// --- line errors and stale input -----------------------------------------------------

TEST_F(Download, FlaggedBytesAreNeverTakenForAnAnswer)
{
    term.rule = [](Kind k, int nth) {
        if (k == Kind::Data && nth == 0) {
            const uint8_t bad[] = {0x10, 0x06, 0x00, 0x00};
            sim::deliver(bad, 4, 1, true);   // a garbled ACK: ignored
            return true;
        }
        if (k == Kind::Enq && nth == 1) {
            sim::deliver(msg(0x06), 1);
            return true;
        }
        return false;
    };
    EXPECT_EQ(exec(data_file("ABCDE\r\n")), 0);
    EXPECT_EQ(count_kind(Kind::Enq), 2);   // only the repeated enquiry got it through
}

TEST_F(Download, AnswerThatArrivedBeforeTheNextWriteIsDiscarded)
{
    term.rule = [](Kind k, int nth) {
        if (k == Kind::Header && nth == 0) {
            sim::deliver(msg(0x06), 1);
            sim::deliver(msg(0x15), 1);   // stale: arrives with the ACK, unread
            return true;
        }
        return false;
    };
    EXPECT_EQ(exec(data_file("ABCDE\r\n")), 0);
    EXPECT_EQ(count_kind(Kind::Data), 1);   // the stale NAK caused no resend
}

// --- fixed-length records ----------------------------------------------------------------

TEST_F(Download, FixedLengthCountIgnoresOneStrayByte)
{
    tmp.write("DATA.TXT", "ABC\r\nDEF\r\nGHI\r\nZ");
    EXPECT_EQ(exec("-V +C +F3 " + tmp.path("DATA.TXT")), 0);
    EXPECT_EQ(count_kind(Kind::Data), 3);
    EXPECT_EQ(as_text(nth_write(Kind::Data, 2), 4, 8), "00003GHI");
}

TEST_F(Download, FixedLengthRecordWithoutCrLfEndsWith76AfterTheGoodOnes)
{
    tmp.write("DATA.TXT", "ABC\r\nDEF\r\nGH");
    EXPECT_EQ(exec("-V +C +F3 " + tmp.path("DATA.TXT")), 76);
    EXPECT_EQ(count_kind(Kind::Data), 2);
    EXPECT_EQ(count_kind(Kind::Eot), 1);
}

TEST_F(Download, ProgramFileUnderFixedModeIsCountedAndReadByLines)
{
    // Counted by length this file would announce 1 record (258 bytes / 130)
    // and send only its first line; by lines both go out, '0'-padded.
    std::string line1(100, 'A'), line2(150, 'B');
    tmp.write("PROG.PD3", line1 + "\r\n" + line2 + "\r\n");
    EXPECT_EQ(exec("-V +C " + tmp.path("PROG.PD3")), 0);
    EXPECT_EQ(count_kind(Kind::Data), 2);
    const Bytes &d1 = nth_write(Kind::Data, 0);
    EXPECT_EQ(as_text(d1, 9, 128), line1 + std::string(28, '0'));
    EXPECT_EQ(as_text(nth_write(Kind::Data, 1), 9, 128), std::string(128, 'B'));
}

// --- file errors ----------------------------------------------------------------------

TEST_F(Download, OpenRefusedForLackOfDescriptorsGives71)
{
    // Parsing has checked the file; before the transfer opens it again the
    // process runs out of descriptors (EMFILE), a file error, not "missing".
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    rlimit low = saved;
    low.rlim_cur = 256;   // keep the descriptor hunt short
    setrlimit(RLIMIT_NOFILE, &low);
    std::vector<int> held;
    sim::on_pump([&] {
        if (!held.empty())
            return;
        for (int fd; (fd = ::open("/dev/null", O_RDONLY)) >= 0;)
            held.push_back(fd);
    });
    int rc = exec(data_file("ABCDE\r\n"));
    for (int fd : held)
        ::close(fd);
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(rc, 71);
    EXPECT_TRUE(sim::written().empty());
}

// --- a header the terminal never saw ------------------------------------------------

// A terminal that lost the header answers the PC's re-enquiry with the ACK
// it gives any enquiry before a header.  Taken for the header's answer, the
// whole file would go out unheard and the session report success.
TEST_F(Download, AckToAReEnquiryAboutTheHeaderSendsTheHeaderAgain)
{
    term.rule = [](Kind k, int nth) {
        return k == Kind::Header && nth == 0;   // the first header is lost
    };
    EXPECT_EQ(exec(data_file("ABCDE\r\n")), 0);
    EXPECT_EQ(count_kind(Kind::Header), 2);
    EXPECT_EQ(count_kind(Kind::Enq), 2);
    EXPECT_EQ(count_kind(Kind::Data), 1);
}

TEST_F(Download, HeaderNeverHeardEndsWith54NotSuccess)
{
    term.rule = [](Kind k, int) { return k == Kind::Header; };
    EXPECT_EQ(exec(data_file("ABCDE\r\n")), ORV5_E_TX_NAK_LIMIT);
    EXPECT_EQ(count_kind(Kind::Header), 10);
    EXPECT_EQ(count_kind(Kind::Data), 0);
}

// A record the terminal never heard: its re-enquiry is answered with the ACK
// of the record before, which must not count for this one.
TEST_F(Download, AckToAReEnquiryAboutARecordSendsTheRecordAgain)
{
    term.rule = [](Kind k, int nth) { return k == Kind::Data && nth == 1; };
    EXPECT_EQ(exec(data_file("ABCDE\r\nxy\r\n")), 0);
    EXPECT_EQ(count_kind(Kind::Data), 3);
}

// --- length limits -----------------------------------------------------------------

TEST_F(Download, LongestNameAndWidestFieldGoOutWhole)
{
    std::string record(254, 'w');
    record[100] = 0x10;   // doubled on the wire
    tmp.write("ABCDEFGH.TXT", record + "\r\n");
    EXPECT_EQ(exec("-V +F254 " + tmp.path("ABCDEFGH.TXT")), 0);
    EXPECT_STREQ(name, "ABCDEFGH.TXT");
    const Bytes &hd = nth_write(Kind::Header, 0);
    EXPECT_EQ(as_text(hd, 4, 12), "ABCDEFGH.TXT");
    EXPECT_EQ(as_text(hd, 16, 10), "0000101254");
    const Bytes &d1 = nth_write(Kind::Data, 0);
    EXPECT_EQ(as_text(d1, 9, 100), record.substr(0, 100));
    EXPECT_EQ(as_text(d1, 109, 2), "\x10\x10");
    EXPECT_EQ(as_text(d1, 111, 153), record.substr(101));

    // Sixteen fields whose widths and count make 255.
    sim::reset();
    term.install();
    tmp.write("DATA.TXT", std::string(239, 'f') + "\r\n");
    std::string widths = "+F224";
    for (int i = 0; i < 15; ++i)
        widths += ",1";
    EXPECT_EQ(exec("-V " + widths + " " + tmp.path("DATA.TXT")), 0);
    std::string layout = "16224";
    for (int i = 0; i < 15; ++i)
        layout += "001";
    EXPECT_EQ(as_text(nth_write(Kind::Header, 0), 21, layout.size()), layout);
}

TEST_F(Download, OneBeyondEachLimitSendsNothing)
{
    tmp.write("ABCDEFGHI.TXT", "x\r\n");
    tmp.write("DATA.TXT", "x\r\n");
    EXPECT_EQ(exec("-V +F1 " + tmp.path("ABCDEFGHI.TXT")), ORV5_E_FILE_NAME);
    EXPECT_EQ(exec("-V +F255 " + tmp.path("DATA.TXT")), ORV5_E_FIELD_WIDTH);
    EXPECT_EQ(exec("-V +F200,54 " + tmp.path("DATA.TXT")), ORV5_E_RECORD_TOO_LONG);
    EXPECT_EQ(exec("-V +F1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1 " + tmp.path("DATA.TXT")),
              ORV5_E_TOO_MANY_FIELDS);
    EXPECT_TRUE(sim::written().empty());
    EXPECT_FALSE(sim::port_is_open());
}
