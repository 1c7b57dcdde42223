// The serial channel on the simulated line: one fetch per burst handed out
// byte by byte, line-error flags kept per byte, stale input discarded by a
// write, and the byte trace.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "link/serial.h"
#include "orv5w32.h"
#include "platform/session_clock.h"
#include "platform/sim/sim.h"
#include "sim_session.h"

namespace {

const LineSettings LINE_19200 = {19200, 1, 0, 0};

std::vector<std::string> lines_of(const std::string &path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class Channel : public ::testing::Test {
protected:
    void SetUp() override { sim::reset(); }
    void TearDown() override { com_close(ch); }

    void open(unsigned com = 3) { ASSERT_EQ(com_open(ch, com, LINE_19200), 0); }

    void arrive(const std::string &bytes, bool flagged = false)
    {
        sim::deliver(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(), 0, flagged);
    }

    // Everything com_getc hands out until it says nothing is left.
    std::vector<int> drain()
    {
        std::vector<int> got;
        while (com_rx_count(ch) > 0)
            got.push_back(com_getc(ch));
        return got;
    }

    // Large (3 KiB of buffers): kept off the test's stack frame like a
    // session keeps it in its own record.
    std::unique_ptr<SerialChannel> owned = std::make_unique<SerialChannel>();
    SerialChannel &ch = *owned;
    simtest::TempDir tmp;
};

TEST_F(Channel, OneFetchPerBurstHandedOutByteByByte)
{
    open();
    arrive("HELLO");
    uint32_t reads_before = sim::port_reads();
    EXPECT_EQ(com_rx_count(ch), 5u);
    std::vector<int> got;
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(com_rx_count(ch), static_cast<uint32_t>(5 - i));
        got.push_back(com_getc(ch));
    }
    EXPECT_EQ(got, (std::vector<int>{'H', 'E', 'L', 'L', 'O'}));
    EXPECT_EQ(sim::port_reads() - reads_before, 1u) << "the burst must be fetched in one read";
    EXPECT_EQ(com_getc(ch), -1);
    EXPECT_EQ(com_rx_count(ch), 0u);
}

TEST_F(Channel, GetcWithoutACountFetchesToo)
{
    open();
    arrive("ab");
    EXPECT_EQ(com_getc(ch), 'a');
    EXPECT_EQ(com_getc(ch), 'b');
    EXPECT_EQ(com_getc(ch), -1);
}

TEST_F(Channel, OnlyTheDamagedBytesAreFlagged)
{
    open();
    arrive("AB");
    arrive("C", true);
    arrive("D");
    EXPECT_EQ(drain(), (std::vector<int>{'A', 'B', COM_FLAGGED + 'C', 'D'}));
    EXPECT_NE(ch.line_errors, 0u);
    arrive("E");
    EXPECT_EQ(drain(), (std::vector<int>{'E'}));
    EXPECT_EQ(ch.line_errors, 0u) << "a clean fetch clears the error word";
}

TEST_F(Channel, AWriteDiscardsFetchedButUnreadInput)
{
    open();
    arrive("stale");
    ASSERT_EQ(com_rx_count(ch), 5u);
    EXPECT_EQ(com_getc(ch), 's');
    const uint8_t enq[] = {0x10, 0x05, 0x30, 0x30};
    EXPECT_EQ(com_write(ch, sizeof enq, enq), 4);
    EXPECT_EQ(com_rx_count(ch), 0u);
    EXPECT_EQ(com_getc(ch), -1);
    // What comes after the write is the answer, and is kept.
    arrive("ok");
    EXPECT_EQ(drain(), (std::vector<int>{'o', 'k'}));
}

// The port is told how many of the due bytes it has still to bring: those
// already fetched are not, each fetch counts down, and a purge ends it.
TEST_F(Channel, TheWaitHintCountsOnlyBytesNotFetchedYet)
{
    open();
    arrive(
        "\x10\x02"
        "ABC");
    EXPECT_EQ(com_getc(ch), 0x10);
    EXPECT_EQ(com_getc(ch), 0x02);
    com_expect(ch, 10);   // "ABC" is fetched already: 7 more
    EXPECT_EQ(sim::bytes_due_hint(), 7u);
    EXPECT_EQ(drain().size(), 3u);
    EXPECT_EQ(sim::bytes_due_hint(), 7u) << "handing out fetched bytes brings nothing new";
    arrive("DEFG");
    EXPECT_EQ(com_rx_count(ch), 4u);
    EXPECT_EQ(sim::bytes_due_hint(), 3u);
    arrive("HIJKLM");   // more than due (doubled DLEs): no wrap below 0
    EXPECT_EQ(drain().size(), 10u);
    EXPECT_EQ(sim::bytes_due_hint(), 0u);

    com_expect(ch, 5);
    EXPECT_EQ(sim::bytes_due_hint(), 5u);
    com_clear_rx(ch);
    EXPECT_EQ(sim::bytes_due_hint(), 0u) << "a purge ends the frame it was for";
    com_expect(ch, 4);
    com_expect(ch, 0);
    EXPECT_EQ(sim::bytes_due_hint(), 0u);
}

TEST_F(Channel, BytesStillOnTheLineAreNotSeenEarly)
{
    open();
    sim::deliver(reinterpret_cast<const uint8_t *>("x"), 1, 30);
    EXPECT_EQ(com_rx_count(ch), 0u);
    plat_sleep_ms(30);
    EXPECT_EQ(com_rx_count(ch), 1u);
}

TEST_F(Channel, AFailingPortReadsAsNoUsableByte)
{
    open();
    arrive("z");
    sim::faults().read_fails = true;
    EXPECT_EQ(com_rx_count(ch), 0u);
    EXPECT_NE(com_getc(ch) & COM_NO_BYTE_MASK, 0);
    sim::faults().read_fails = false;
    EXPECT_EQ(com_getc(ch), 'z');
}

TEST_F(Channel, OnlyFailuresInARowMakeThePortGone)
{
    open();
    sim::faults().read_fails = true;
    com_rx_count(ch);
    com_rx_count(ch);
    EXPECT_FALSE(com_line_gone(ch));   // a passing fault is forgiven
    sim::faults().read_fails = false;
    com_rx_count(ch);   // one good fetch starts the count again
    sim::faults().read_fails = true;
    com_rx_count(ch);
    com_rx_count(ch);
    EXPECT_FALSE(com_line_gone(ch));
    com_getc(ch);
    EXPECT_TRUE(com_line_gone(ch));
    sim::faults().read_fails = false;
    com_close(ch);
    open();
    EXPECT_FALSE(com_line_gone(ch));   // a new session starts afresh
}

TEST_F(Channel, OpenFailuresGiveTheirCodesAndLeaveItClosed)
{
    sim::faults().open_fails = true;
    EXPECT_EQ(com_open(ch, 3, LINE_19200), ORV5_E_PORT_OPEN);
    EXPECT_EQ(ch.port, PLAT_PORT_INVALID);
    sim::faults().open_fails = false;
    sim::faults().configure_fails = true;
    EXPECT_EQ(com_open(ch, 3, LINE_19200), ORV5_E_COMMAND);
    EXPECT_EQ(ch.port, PLAT_PORT_INVALID);
    EXPECT_FALSE(sim::port_is_open());
    com_close(ch);   // closed already: nothing happens
}

// --- the byte trace ----------------------------------------------------------------

TEST_F(Channel, TraceHasOneLinePerBurstWithTimeDirectionHexAndText)
{
    std::string path = tmp.path("trace.txt");
    sim::set_trace_path(path);
    open(3);
    const uint8_t enq[] = {0x10, 0x05, 0x30, 0x30};
    com_write(ch, sizeof enq, enq);
    plat_sleep_ms(12);
    arrive(std::string("\x10\x06", 2));
    arrive("0", true);
    drain();
    plat_sleep_ms(1000);
    arrive("late");
    com_rx_count(ch);   // fetched, never read
    com_write(ch, 1, "\xFF");
    com_close(ch);

    std::vector<std::string> lines = lines_of(path);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0].rfind("# byte trace of COM3 at 19200 bit/s", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1], "       0 TX 10 05 30 30  |..00|");
    EXPECT_EQ(lines[2], "      12 RX 10 06 30!  |..0|");
    EXPECT_EQ(lines[3], "    1012 RX 6C 61 74 65  |late|");
    EXPECT_EQ(lines[4], "    1012 -- 4 fetched bytes discarded unread");
    EXPECT_EQ(lines[5], "    1012 TX FF  |.|");
    EXPECT_EQ(lines[6], "    1012 -- port closed");
}

TEST_F(Channel, TraceAppendsSessionsAndKeepsLongBurstsOnOneLine)
{
    std::string path = tmp.path("trace.txt");
    tmp.write("trace.txt", "kept\n");
    sim::set_trace_path(path);
    open();
    std::vector<uint8_t> frame(300);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<uint8_t>(i);
    com_write(ch, static_cast<int>(frame.size()), frame.data());
    com_close(ch);
    open();
    com_close(ch);

    std::vector<std::string> lines = lines_of(path);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "kept");
    const std::string &burst = lines[2];
    // "       0 TX" + " hh" per byte + "  |" + one character per byte + "|"
    EXPECT_EQ(burst.size(), 11 + 3 * frame.size() + 3 + frame.size() + 1);
    EXPECT_NE(burst.find(" 00 01 02"), std::string::npos);
    EXPECT_NE(burst.find(" FE FF 00 01"), std::string::npos);
    EXPECT_NE(burst.find("  |" + std::string(32, '.') + " !\"#$%&'()*+,-./0123456789"),
              std::string::npos);
    EXPECT_EQ(lines[4].rfind("# byte trace", 0), 0u) << "the second session appends";
}

TEST_F(Channel, NoTraceWithoutAPathOrWhenTheFileCannotBeMade)
{
    open();
    EXPECT_FALSE(trace_on(ch.trace));
    com_close(ch);

    sim::set_trace_path(tmp.path("no/such/folder/trace.txt"));
    open();
    EXPECT_FALSE(trace_on(ch.trace));
    EXPECT_EQ(com_write(ch, 1, "x"), 1) << "the session goes on untraced";
    com_close(ch);

    sim::faults().open_fails = true;
    sim::set_trace_path(tmp.path("never.txt"));
    EXPECT_EQ(com_open(ch, 3, LINE_19200), ORV5_E_PORT_OPEN);
    EXPECT_FALSE(std::ifstream(tmp.path("never.txt")).good()) << "no port, no trace file";
}

}   // namespace
