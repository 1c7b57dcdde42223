// Blocks from another station on a shared infrared line, in every phase of
// a reception: ignored without an answer, never taken for the terminal's.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim_session.h"
#include "upload/rx_terminal.h"

using namespace simtest;
using rxterm::data_body;
using rxterm::frame;
using rxterm::header_body;
using rxterm::Terminal;

namespace {

const std::string OTHER("\x56\x78", 2);   // the other station
const uint8_t OTHER_HI = 0x56, OTHER_LO = 0x78;

struct Foreign {
    const char *what;
    Bytes bytes;
};

// What the other station may send where ours waits; its data frame carries
// serial (the number ours would take next, or the one it took last).
std::vector<Foreign> foreign_blocks(int serial)
{
    return {
        {"header frame", frame(0x01, header_body("OTHER.TXT", 2, "02005003", OTHER))},
        {"data frame", frame(0x02, data_body(serial, "XXXXXYYY", OTHER))},
        {"enquiry", msg(0x05, OTHER_HI, OTHER_LO)},
        {"EOT", msg(0x04, OTHER_HI, OTHER_LO)},
    };
}

class OtherStation : public SimSession {
protected:
    std::string read(const std::string &name)
    {
        std::ifstream f(tmp.path(name), std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }
    // Every answer of the PC is an ACK with its own station (0, 0).
    void expect_only_our_acks(const Terminal &term, size_t n)
    {
        ASSERT_EQ(term.answers.size(), n);
        for (const Bytes &a : term.answers)
            EXPECT_EQ(a, msg(0x06));
    }
};

const std::vector<std::string> RECORDS = {"AAAAABBB", "CCCCCDDD"};
const char OUR_FILE[] = "AAAAABBB\r\nCCCCCDDD\r\n";

}   // namespace

// The other station's block comes first, 1 ms after the PC's answer; the
// terminal's own block 100 ms later.  The PC must answer only its own.
TEST_F(OtherStation, IgnoredInEveryPhaseOfTheReception)
{
    struct Phase {
        const char *where;
        size_t after_step;   // answered step of the script: enquiry 0, header 1, records 2 and 3
        int serial;          // of the other station's data frame
    };
    const Phase phases[] = {
        {"waiting for the header", 0, 1},
        {"waiting for the first record", 1, 1},
        {"between records", 2, 2},
        {"after the last record, at the closing EOT", 3, 2},   // the record just accepted
    };
    for (const Phase &p : phases) {
        for (const Foreign &f : foreign_blocks(p.serial)) {
            SCOPED_TRACE(std::string(p.where) + ": " + f.what);
            sim::reset();
            std::filesystem::remove(tmp.path("DATA.TXT"));
            Terminal term;
            term.script = rxterm::data_file_script(RECORDS);
            bool injected = false;
            uint64_t ours_at = 0;   // when the terminal's own block is complete
            term.rule = [&](Kind k, size_t step) {
                if (k != Kind::Ack || step != p.after_step || injected)
                    return false;
                injected = true;
                sim::deliver(f.bytes, 1);
                ours_at = sim::now_ms() + 100;
                term.send(term.next++, 100);
                return true;
            };
            term.install();
            EXPECT_EQ(exec("-V +R " + tmp.path("(file)")), 0);
            expect_only_our_acks(term, 5);   // enquiry, header, two records, EOT
            // The answer after the other station's block is to the terminal's.
            ASSERT_GT(term.answer_ms.size(), p.after_step + 1);
            EXPECT_GE(term.answer_ms[p.after_step + 1], ours_at);
            EXPECT_EQ(read("DATA.TXT"), OUR_FILE);
        }
    }
}

TEST_F(OtherStation, ControlMessagesOfAnyStationAreSkippedWhereAFrameIsAwaited)
{
    for (uint8_t code : {0x06, 0x15, 0x3B}) {
        for (size_t after : {0u, 1u, 2u}) {
            SCOPED_TRACE("code " + std::to_string(code) + " after step " + std::to_string(after));
            sim::reset();
            Terminal term;
            term.script = rxterm::data_file_script(RECORDS);
            bool injected = false;
            term.rule = [&](Kind k, size_t step) {
                if (k != Kind::Ack || step != after || injected)
                    return false;
                injected = true;
                sim::deliver(msg(code, OTHER_HI, OTHER_LO), 1);
                term.send(term.next++, 100);
                return true;
            };
            term.install();
            EXPECT_EQ(exec("-V +R " + tmp.path("(file)")), 0);
            expect_only_our_acks(term, 5);
            EXPECT_EQ(read("DATA.TXT"), OUR_FILE);
        }
    }
}

// Before the terminal has spoken, any enquiry opens the exchange: its
// station is not looked at, and the answer carries the PC's own.
TEST_F(OtherStation, TheOpeningEnquiryIsAnsweredWithOurStation)
{
    Terminal term;
    term.script = rxterm::data_file_script(RECORDS);
    term.script[0] = msg(0x05, OTHER_HI, OTHER_LO);
    term.install();
    EXPECT_EQ(exec("-V +R " + tmp.path("(file)")), 0);
    expect_only_our_acks(term, 5);

    // With a station number the answers carry it.
    sim::reset();
    term = Terminal();
    const std::string ours("\x02\x01", 2);
    term.script = {msg(0x05, OTHER_HI, OTHER_LO),
                   frame(0x01, header_body("DATA.TXT", 1, "02005003", ours)),
                   frame(0x02, data_body(1, "AAAAABBB", ours)), msg(0x04, 0x02, 0x01)};
    term.install();
    EXPECT_EQ(exec("-V -#513 +R " + tmp.path("(file)")), 0);
    ASSERT_EQ(term.answers.size(), 4u);
    for (const Bytes &a : term.answers)
        EXPECT_EQ(a, msg(0x06, 0x02, 0x01));
}

// Blocks of the other station and the terminal's own closing EOT while
// the refused reception waits to be closed.
TEST_F(OtherStation, IgnoredWhileARefusedReceptionWaitsForTheTerminalsEot)
{
    for (const Foreign &f : foreign_blocks(1)) {
        SCOPED_TRACE(f.what);
        sim::reset();
        Terminal term;
        term.script = {msg(0x05), frame(0x01, header_body("BAD NAME", 1, "02005003")), msg(0x04)};
        term.rule = [&](Kind k, size_t) {
            if (k != Kind::Eot)
                return false;
            sim::deliver(f.bytes, 1);
            term.send(2, 100);   // the terminal closes in its turn
            return true;
        };
        term.install();
        EXPECT_EQ(exec("-V +R " + tmp.path("(file)")), ORV5_E_BAD_HEADER);
        ASSERT_EQ(term.answers.size(), 3u);   // ACK, EOT, and the ACK to the terminal's EOT
        EXPECT_EQ(term.answers[2], msg(0x06));
        EXPECT_GE(term.answer_ms[2], term.answer_ms[1] + 100);
        EXPECT_LT(sim::now_ms(), 1000u);   // ended by the terminal's EOT, not the time-out
    }
}

// The other station's traffic does not keep a silent terminal's session
// alive: the 30 s still count from the PC's last answer.
TEST_F(OtherStation, ItsTrafficDoesNotRestartTheWait)
{
    Terminal term;
    term.script = rxterm::data_file_script(RECORDS);
    term.script.resize(2);
    term.rule = [&](Kind k, size_t step) {
        if (k == Kind::Ack && step == 1)   // every 5 s from then on
            for (uint64_t t = 5000; t < 40000; t += 5000)
                sim::at(sim::now_ms() + t,
                        [] { sim::deliver(frame(0x02, data_body(1, "XXXXXYYY", OTHER))); });
        return false;
    };
    term.install();
    EXPECT_EQ(exec("-V +R " + tmp.path("(file)")), ORV5_E_RX_TIMEOUT);
    ASSERT_EQ(term.answers.size(), 3u);
    EXPECT_EQ(term.answers[2], msg(0x04));
    EXPECT_EQ(term.answer_ms[2] - term.answer_ms[1], 30000u);
    EXPECT_FALSE(std::filesystem::exists(tmp.path("DATA.TXT")));
}

// Once our header is accepted, a header frame is taken for a repeat of ours
// whose ACK was lost.  One with another station's number is no repeat: it
// draws no answer, so a busy neighbour cannot run up our NAK count to 53.
TEST_F(OtherStation, AnotherStationsHeaderIsNotTakenForARepeatOfOurs)
{
    for (int records : {2, 0}) {   // waiting for the first record; an empty file's closing EOT
        SCOPED_TRACE(records);
        sim::reset();
        Terminal term;
        term.script = rxterm::data_file_script(records == 2 ? RECORDS : std::vector<std::string>{});
        bool injected = false;
        term.rule = [&](Kind k, size_t step) {
            if (k != Kind::Ack || step != 1 || injected)
                return false;
            injected = true;
            sim::deliver(frame(0x01, header_body("OTHER.TXT", 2, "02005003", OTHER)), 1);
            term.send(term.next++, 100);
            return true;
        };
        term.install();
        EXPECT_EQ(exec("-V +R " + tmp.path("(file)")), 0);
        expect_only_our_acks(term, static_cast<size_t>(records + 3));
    }
}
