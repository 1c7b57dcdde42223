// The network port's lines in the byte trace (ORV5_TRACE_TELNET=1): a
// channel opened on the fake serial device server, as a session opens it,
// and the trace file read back.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "fake_rfc2217.h"
#include "link/serial.h"
#include "platform/net/net_port.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

const LineSettings LINE_19200 = {19200, 1, 0, 0};

// The lines of the file, in order.
Lines read_lines(const std::string &path)
{
    Lines lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Index of the first line holding part, or -1.
int find(const Lines &lines, const std::string &part)
{
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].find(part) != std::string::npos)
            return static_cast<int>(i);
    return -1;
}

// Index of the first line holding both parts, or -1.
int find(const Lines &lines, const std::string &part, const std::string &other)
{
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].find(part) != std::string::npos && lines[i].find(other) != std::string::npos)
            return static_cast<int>(i);
    return -1;
}

int count(const Lines &lines, const std::string &part)
{
    int n = 0;
    for (const std::string &l : lines)
        n += l.find(part) != std::string::npos ? 1 : 0;
    return n;
}

// The time stamp of a burst or note line, ms; -1 for a header.
long stamp(const std::string &line) { return line[0] == '#' ? -1 : std::stol(line); }

std::string dump(const Lines &lines)
{
    std::string s;
    for (const std::string &l : lines)
        s += l + "\n";
    return s;
}

class NetTraceFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = "/tmp/orv5_nettrace_" + std::to_string(getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".trace";
        std::remove(path.c_str());
        setenv("ORV5_TRACE", path.c_str(), 1);
        setenv("ORV5_TRACE_TELNET", "1", 1);
    }
    void TearDown() override
    {
        com_close(ch);
        unsetenv("ORV5_DEVICE");
        unsetenv("ORV5_TRACE");
        unsetenv("ORV5_TRACE_TELNET");
        std::remove(path.c_str());
    }

    Orv5Result open(const std::string &url)
    {
        setenv("ORV5_DEVICE", url.c_str(), 1);
        return com_open(ch, 1, LINE_19200);
    }

    // Takes n bytes from the channel, waiting up to 3 s.
    Bytes take(size_t n)
    {
        Bytes got;
        auto until = Clock::now() + std::chrono::seconds(3);
        while (got.size() < n && Clock::now() < until) {
            int c = com_getc(ch);
            if (c >= 0)
                got.push_back(static_cast<uint8_t>(c));
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return got;
    }

    // One exchange through the channel: a frame with 0xFF out, an answer
    // with 0xFF in; then the port closed.
    void exchange(fake::Rfc2217Server &server)
    {
        const uint8_t frame[] = {0x10, 0x02, 0xFF, 0x41};
        ASSERT_EQ(com_write(ch, sizeof frame, frame), 4);
        ASSERT_TRUE(server.wait_for([&] { return server.data().size() >= 4; }));
        server.send_data({0x42, 0xFF, 0x43});
        EXPECT_EQ(take(3), (Bytes{0x42, 0xFF, 0x43}));
        com_close(ch);
    }

    SerialChannel ch;
    std::string path;
};

}   // namespace

TEST_F(NetTraceFile, ShowsTheNegotiationAndIacDoubledOnTheSocketOnly)
{
    fake::Rfc2217Server server;
    ASSERT_EQ(open(server.url()), ORV5_OK);
    exchange(server);
    Lines t = read_lines(path);
    SCOPED_TRACE(dump(t));
    EXPECT_EQ(find(t, "# socket trace of " + server.url()), 0);
    // The opening requests: WILL/DO BINARY, WILL/DO SUPPRESS-GO-AHEAD,
    // WILL COM-PORT-OPTION, in one send before anything else.
    EXPECT_EQ(find(t, " NT FF FB 00 FF FD 00 FF FB 03 FF FD 03 FF FB 2C  |"), 1);
    EXPECT_GE(find(t, "-- telnet: server WILL BINARY"), 0);
    EXPECT_GE(find(t, "-- telnet: server DO COM-PORT-OPTION"), 0);
    EXPECT_GE(find(t, " NT FF FA 2C 01 00 00 4B 00 FF F0  |"), 0);   // SET-BAUDRATE 19200
    EXPECT_GE(find(t, "-- telnet: SET-BAUDRATE 19200 acknowledged"), 0);
    EXPECT_GE(find(t, "-- telnet: SET-STOPSIZE 1 acknowledged"), 0);
    // The byte trace starts once the line is set, after the negotiation.
    int header = find(t, "# byte trace of COM1");
    EXPECT_GT(header, find(t, "SET-STOPSIZE 1 acknowledged"));
    // 0xFF doubled on the socket, single on the line; the socket's line
    // comes first (written as the bytes went), either way.
    int nt = find(t, " NT 10 02 FF FF 41  |");
    int tx = find(t, " TX 10 02 FF 41  |..");
    EXPECT_GT(nt, header);
    EXPECT_EQ(tx, nt + 1);
    // (Late replies to the line controls may share the data's receive.)
    int nr = find(t, " NR ", " 42 FF FF 43  |");
    int rx = find(t, " RX 42 FF 43  |B.C|");
    EXPECT_GT(nr, tx);
    EXPECT_EQ(rx, nr + 1);
    // Each line written whole: nothing but bursts, notes and headers.
    for (const std::string &l : t)
        EXPECT_TRUE(l[0] == '#' || l.find(" NT ") == 8 || l.find(" NR ") == 8 ||
                    l.find(" TX ") == 8 || l.find(" RX ") == 8 || l.find(" -- ") == 8)
            << l;
    // The socket's stream ends before the channel's.
    int closed = find(t, "-- telnet: socket closed");
    EXPECT_GT(closed, rx);
    EXPECT_EQ(find(t, "-- port closed"), closed + 1);
    EXPECT_EQ(static_cast<size_t>(closed + 2), t.size());
}

TEST_F(NetTraceFile, SharesTheByteTracesTimeBaseAfterASlowNegotiation)
{
    // A server that never answers holds the opening for NET_NEGOTIATE_MS:
    // the byte trace's lines must not count from the end of it.
    fake::ServerFaults f;
    f.silent_options = true;
    fake::Rfc2217Server server(f);
    ASSERT_EQ(open(server.url()), ORV5_OK);
    exchange(server);
    Lines t = read_lines(path);
    SCOPED_TRACE(dump(t));
    EXPECT_GE(find(t, "-- telnet: the server does not offer the com port option"), 0);
    long last = 0;
    for (const std::string &l : t) {
        if (l[0] == '#')
            continue;
        EXPECT_GE(stamp(l), last) << l;
        last = stamp(l);
    }
    int tx = find(t, " TX 10 02 FF 41 ");
    ASSERT_GE(tx, 0);
    EXPECT_GE(stamp(t[tx]), static_cast<long>(NET_NEGOTIATE_MS));
    // Nothing was agreed: the data still goes with 0xFF doubled.
    EXPECT_GE(find(t, " NT 10 02 FF FF 41 "), 0);
}

TEST_F(NetTraceFile, ARefusedSpeedLeavesTheRefusalInTheTrace)
{
    fake::ServerFaults f;
    f.answer_baud = 9600;
    fake::Rfc2217Server server(f);
    EXPECT_EQ(open(server.url()), ORV5_E_COMMAND);
    Lines t = read_lines(path);
    SCOPED_TRACE(dump(t));
    // What the server answered is in the socket's lines; the byte trace
    // never started, the socket's trace was closed with the port.
    EXPECT_GE(find(t, " NR ", " FF FA 2C 65 00 00 25 80 FF F0"), 0);   // 9600
    int refused = find(t, "-- telnet: the server refused the speed 19200 bit/s (it answered 9600)");
    EXPECT_GE(refused, 0);
    EXPECT_EQ(find(t, "# byte trace"), -1);
    EXPECT_GT(find(t, "-- telnet: socket closed"), refused);
}

TEST_F(NetTraceFile, AConnectionRefusedIsNotedAndTheTraceClosed)
{
    std::string url = "rfc2217://127.0.0.1:" + std::to_string(fake::closed_port());
    EXPECT_EQ(open(url), ORV5_E_PORT_OPEN);
    Lines t = read_lines(path);
    SCOPED_TRACE(dump(t));
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(find(t, "# socket trace of " + url), 0);
    EXPECT_EQ(find(t, "-- telnet: " + url), 1);
    EXPECT_EQ(find(t, "-- telnet: socket closed"), 2);
}

TEST_F(NetTraceFile, ARawPortTracesItsBytesAsTheyAre)
{
    fake::ServerFaults f;
    f.telnet = false;
    fake::Rfc2217Server server(f);
    ASSERT_EQ(open(server.url("tcp")), ORV5_OK);
    const uint8_t bytes[] = {0xFF, 0x0D, 0x00};
    ASSERT_EQ(com_write(ch, sizeof bytes, bytes), 3);
    com_close(ch);
    Lines t = read_lines(path);
    SCOPED_TRACE(dump(t));
    EXPECT_EQ(find(t, "# socket trace of " + server.url("tcp")), 0);
    EXPECT_GE(find(t, "raw bytes"), 0);
    EXPECT_EQ(count(t, " NT FF"), 1);
    EXPECT_GE(find(t, " NT FF 0D 00  |...|"), 0);
    EXPECT_GE(find(t, " TX FF 0D 00  |...|"), 0);
    EXPECT_GE(find(t, "-- tcp: socket closed"), 0);
    EXPECT_EQ(find(t, "telnet:"), -1);
}

TEST_F(NetTraceFile, OnlyTheValue1AddsTheSocketsLines)
{
    // Level 1 stays as it was: unset, "0" or anything but "1" adds nothing.
    for (const char *value : {static_cast<const char *>(nullptr), "0", "10", ""}) {
        SCOPED_TRACE(value == nullptr ? "unset" : value);
        if (value == nullptr)
            unsetenv("ORV5_TRACE_TELNET");
        else
            setenv("ORV5_TRACE_TELNET", value, 1);
        std::remove(path.c_str());
        fake::Rfc2217Server server;
        ASSERT_EQ(open(server.url()), ORV5_OK);
        exchange(server);
        Lines t = read_lines(path);
        SCOPED_TRACE(dump(t));
        EXPECT_EQ(find(t, "# byte trace of COM1"), 0);
        EXPECT_GE(find(t, " TX 10 02 FF 41 "), 0);
        EXPECT_GE(find(t, " RX 42 FF 43 "), 0);
        EXPECT_EQ(find(t, "socket"), -1);
        EXPECT_EQ(find(t, " NT "), -1);
        EXPECT_EQ(find(t, " NR "), -1);
        EXPECT_EQ(find(t, "telnet"), -1);
    }
}
