// Network ports through the platform's port operations, against the fake
// serial device server on the loopback interface.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "fake_rfc2217.h"
#include "platform/os_reason.h"
#include "platform/serial_port.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

const LineSettings LINE_19200 = {19200, 1, 0, 0};

std::string reason() { return plat_reason_text(); }

bool contains(const std::string &s, const std::string &part)
{
    return s.find(part) != std::string::npos;
}

class NetPort : public ::testing::Test {
protected:
    void SetUp() override { plat_reason_clear(); }
    void TearDown() override { plat_port_close(&object); }

    plat_port open(const std::string &url)
    {
        port = plat_port_open(object, url.c_str());
        return port;
    }

    // Reads until want data bytes came or 3 s passed.
    Bytes read_some(size_t want)
    {
        Bytes got;
        auto until = Clock::now() + std::chrono::seconds(3);
        while (got.size() < want && Clock::now() < until) {
            uint8_t b[64], e[64];
            uint32_t n = 0;
            if (!plat_port_read(port, b, e, sizeof b, &n))
                break;
            for (uint32_t i = 0; i < n; ++i) {
                EXPECT_EQ(e[i], 0);
                got.push_back(b[i]);
            }
            if (n == 0)
                plat_port_wait(port);
        }
        return got;
    }

    static void plat_port_wait(plat_port p)
    {
        // What the POSIX pump sleeps on: the backend's wait handle.
        ASSERT_NE(p->ops->wait_handle, nullptr);
        ASSERT_GE(p->ops->wait_handle(*p), 0);
        p->ops->wait_input(*p);
    }

    PlatPort object{};
    plat_port port = PLAT_PORT_INVALID;
};

}   // namespace

TEST_F(NetPort, ConfigureSendsTheLineSettingsAndChecksTheReplies)
{
    fake::Rfc2217Server server;
    ASSERT_TRUE(server.listening());
    ASSERT_NE(open(server.url()), PLAT_PORT_INVALID) << reason();
    ASSERT_TRUE(plat_port_configure(port, {19200, 0, 2, 1})) << reason();
    EXPECT_EQ(reason(), "");
    // The controls' replies are not waited for: they may still be on the way.
    ASSERT_TRUE(server.wait_for([&] { return server.commands().size() >= 7; }));
    auto cmds = server.commands();
    EXPECT_EQ(cmds[0].code, 1);
    EXPECT_EQ(cmds[0].value, (Bytes{0, 0, 0x4B, 0}));   // 19200
    EXPECT_EQ(cmds[1].code, 2);
    EXPECT_EQ(cmds[1].value, (Bytes{7}));
    EXPECT_EQ(cmds[2].code, 3);
    EXPECT_EQ(cmds[2].value, (Bytes{3}));   // even
    EXPECT_EQ(cmds[3].code, 4);
    EXPECT_EQ(cmds[3].value, (Bytes{2}));
    // No flow control, DTR and RTS on.
    EXPECT_EQ(cmds[4].code, 5);
    EXPECT_EQ(cmds[4].value, (Bytes{1}));
    EXPECT_EQ(cmds[5].value, (Bytes{8}));
    EXPECT_EQ(cmds[6].value, (Bytes{11}));
    EXPECT_EQ(plat_port_os_handle(port), -1);   // nothing for a plug-in
}

TEST_F(NetPort, ARefusedSpeedFailsWithTheServersAnswer)
{
    fake::ServerFaults f;
    f.answer_baud = 9600;
    fake::Rfc2217Server server(f);
    ASSERT_NE(open(server.url()), PLAT_PORT_INVALID) << reason();
    EXPECT_FALSE(plat_port_configure(port, LINE_19200));
    EXPECT_TRUE(contains(reason(), "19200")) << reason();
    EXPECT_TRUE(contains(reason(), "9600")) << reason();
    EXPECT_TRUE(contains(reason(), server.url())) << reason();
}

TEST_F(NetPort, WithoutTheComPortOptionTheServerIsAPlainTelnetPort)
{
    fake::ServerFaults f;
    f.offer_com_port = false;
    fake::Rfc2217Server server(f);
    ASSERT_NE(open(server.url()), PLAT_PORT_INVALID) << reason();
    EXPECT_TRUE(plat_port_configure(port, LINE_19200));
    EXPECT_TRUE(contains(reason(), "com port option")) << reason();
    EXPECT_TRUE(server.commands().empty());
    uint32_t written = 0;
    ASSERT_TRUE(plat_port_write(port, "\x05\xFF", 2, &written));
    EXPECT_EQ(written, 2u);
    EXPECT_TRUE(server.wait_for([&] { return server.data().size() >= 2; }));
    EXPECT_EQ(server.data(), (Bytes{0x05, 0xFF}));
}

TEST_F(NetPort, DataWithIacPassesBothWaysAlsoSplitAcrossReads)
{
    fake::ServerFaults f;
    f.split_writes = true;   // each byte in a segment of its own
    fake::Rfc2217Server server(f);
    ASSERT_NE(open(server.url()), PLAT_PORT_INVALID) << reason();
    ASSERT_TRUE(plat_port_configure(port, LINE_19200)) << reason();
    const Bytes frame = {0x10, 0x02, 0xFF, 0x31, 0xFF, 0xFF, 0x10, 0x03, 0xFF};
    uint32_t written = 0;
    ASSERT_TRUE(plat_port_write(port, frame.data(), static_cast<uint32_t>(frame.size()), &written));
    EXPECT_EQ(written, frame.size());
    EXPECT_TRUE(server.wait_for([&] { return server.data().size() >= frame.size(); }));
    EXPECT_EQ(server.data(), frame);
    server.send_data(frame);
    EXPECT_EQ(read_some(frame.size()), frame);
}

TEST_F(NetPort, GarbageDuringNegotiationNeverReachesTheData)
{
    fake::ServerFaults f;
    f.garbage_first = true;
    f.split_writes = true;
    fake::Rfc2217Server server(f);
    ASSERT_NE(open(server.url()), PLAT_PORT_INVALID) << reason();
    ASSERT_TRUE(plat_port_configure(port, LINE_19200)) << reason();
    server.send_raw({255, 250, 44, 101, 1, 255, 240, 0x41, 255, 250, 44});
    server.send_raw({101, 255, 255, 255, 240, 0x42});
    EXPECT_EQ(read_some(2), (Bytes{0x41, 0x42}));
}

TEST_F(NetPort, RawTcpPassesBytesAsTheyAre)
{
    fake::ServerFaults f;
    f.telnet = false;
    fake::Rfc2217Server server(f);
    ASSERT_NE(open(server.url("tcp")), PLAT_PORT_INVALID) << reason();
    EXPECT_TRUE(plat_port_configure(port, LINE_19200));
    EXPECT_EQ(reason(), "");   // nothing to say: the speed is the server's
    uint32_t written = 0;
    ASSERT_TRUE(plat_port_write(port, "\xFF\x0D\x00", 3, &written));
    EXPECT_TRUE(server.wait_for([&] { return server.raw().size() >= 3; }));
    EXPECT_EQ(server.raw(), (Bytes{0xFF, 0x0D, 0x00}));
    server.send_raw({0xFF, 0xFF, 0xFA});
    EXPECT_EQ(read_some(3), (Bytes{0xFF, 0xFF, 0xFA}));
}

TEST_F(NetPort, PurgingTheInputDiscardsWhatArrivedAndAsksTheServerToo)
{
    fake::Rfc2217Server server;
    ASSERT_NE(open(server.url()), PLAT_PORT_INVALID) << reason();
    ASSERT_TRUE(plat_port_configure(port, LINE_19200)) << reason();
    // The replies to the controls first, then the bytes to be purged, all
    // arrived before the purge (loopback: well within the pauses).
    ASSERT_TRUE(server.wait_for([&] { return server.commands().size() >= 7; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    server.send_data({1, 2, 3});
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_TRUE(port->ops->input_ready(*port));
    plat_port_purge_rx(port);
    ASSERT_TRUE(server.wait_for([&] {
        for (auto &c : server.commands())
            if (c.code == 12)
                return true;
        return false;
    }));
    EXPECT_EQ(server.commands().back().value, (Bytes{1}));
    server.send_data({4});
    EXPECT_EQ(read_some(1), (Bytes{4}));
    // The purges before each frame stay local: a command per frame would
    // cost a round of the server's delayed acknowledgements.
    size_t commands = server.commands().size();
    plat_port_purge_rx(port);
    uint32_t written = 0;
    ASSERT_TRUE(plat_port_write(port, "\x05", 1, &written));
    ASSERT_TRUE(server.wait_for([&] { return server.data().size() >= 1; }));
    EXPECT_EQ(server.commands().size(), commands);
}

TEST_F(NetPort, SetLinesAndDrain)
{
    fake::Rfc2217Server server;
    ASSERT_NE(open(server.url()), PLAT_PORT_INVALID) << reason();
    ASSERT_TRUE(plat_port_configure(port, LINE_19200)) << reason();
    ASSERT_TRUE(server.wait_for([&] { return server.commands().size() >= 7; }));
    size_t before = server.commands().size();
    EXPECT_TRUE(plat_port_set_lines(port, false, true));
    EXPECT_TRUE(plat_port_drain(port));
    ASSERT_TRUE(server.wait_for([&] { return server.commands().size() >= before + 2; }));
    auto cmds = server.commands();
    EXPECT_EQ(cmds[before].value, (Bytes{12}));      // RTS off
    EXPECT_EQ(cmds[before + 1].value, (Bytes{8}));   // DTR on
}

TEST_F(NetPort, ADroppedConnectionFailsEveryLaterReadAndWrite)
{
    fake::Rfc2217Server server;
    ASSERT_NE(open(server.url()), PLAT_PORT_INVALID) << reason();
    ASSERT_TRUE(plat_port_configure(port, LINE_19200)) << reason();
    server.drop();
    ASSERT_TRUE(server.wait_for([&] { return !server.connected(); }));
    bool failed = false;
    for (int i = 0; i < 200 && !failed; ++i) {
        uint8_t b[16], e[16];
        uint32_t n = 0;
        failed = !plat_port_read(port, b, e, sizeof b, &n);
        if (!failed)
            plat_port_wait(port);
    }
    EXPECT_TRUE(failed);
    EXPECT_TRUE(contains(reason(), "closed the connection")) << reason();
    uint8_t b[16], e[16];
    uint32_t n = 0;
    EXPECT_FALSE(plat_port_read(port, b, e, sizeof b, &n));
    uint32_t written = 0;
    EXPECT_FALSE(plat_port_write(port, "x", 1, &written));
}

TEST_F(NetPort, ARefusedConnectionNamesHostAndPort)
{
    int closed = fake::closed_port();
    std::string url = "rfc2217://127.0.0.1:" + std::to_string(closed);
    auto t0 = Clock::now();
    EXPECT_EQ(open(url), PLAT_PORT_INVALID);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(1));
    EXPECT_TRUE(contains(reason(), "127.0.0.1:" + std::to_string(closed))) << reason();
    EXPECT_TRUE(contains(reason(), "refused")) << reason();
}

TEST_F(NetPort, ANameThatDoesNotResolveFails)
{
    EXPECT_EQ(open("rfc2217://nonexistent.invalid:4001"), PLAT_PORT_INVALID);
    EXPECT_TRUE(contains(reason(), "nonexistent.invalid:4001")) << reason();
    EXPECT_EQ(open("tcp://nonexistent.invalid:4001"), PLAT_PORT_INVALID);
}

TEST_F(NetPort, ABadAddressIsRefusedWithoutConnecting)
{
    EXPECT_EQ(open("rfc2217://cradle"), PLAT_PORT_INVALID);
    EXPECT_TRUE(contains(reason(), "rfc2217://cradle")) << reason();
}

TEST_F(NetPort, AConnectionThatNeverCompletesIsGivenUpAfterFiveSeconds)
{
    fake::StuckListener stuck;
    if (!stuck.ready())
        GTEST_SKIP() << "this system answers connections beyond a full queue";
    std::string url = "rfc2217://127.0.0.1:" + std::to_string(stuck.port());
    auto t0 = Clock::now();
    EXPECT_EQ(open(url), PLAT_PORT_INVALID);
    auto took = Clock::now() - t0;
    EXPECT_GE(took, std::chrono::milliseconds(4500));
    EXPECT_LT(took, std::chrono::milliseconds(7000));
    EXPECT_TRUE(contains(reason(), "127.0.0.1:" + std::to_string(stuck.port()))) << reason();
    EXPECT_TRUE(contains(reason(), "5 s")) << reason();
}

TEST_F(NetPort, AnIpv6LiteralInBrackets)
{
    fake::Rfc2217Server server({}, true);
    if (!server.listening())
        GTEST_SKIP() << "no IPv6 loopback here";
    ASSERT_NE(open(server.url()), PLAT_PORT_INVALID) << reason();
    EXPECT_TRUE(plat_port_configure(port, LINE_19200)) << reason();
}

TEST_F(NetPort, ComNamesGiveNetworkAddressesFromTheEnvironment)
{
    setenv("ORV5_COM7", "rfc2217://cradle-3:4001", 1);
    char name[PLAT_PORT_NAME_SIZE];
    ASSERT_TRUE(plat_port_name(7, name, sizeof name));
    EXPECT_STREQ(name, "rfc2217://cradle-3:4001");
    unsetenv("ORV5_COM7");
}
