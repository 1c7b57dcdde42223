// Sessions on network ports through libOrv5w32.so: the port named by
// $ORV5_DEVICE is a serial device server's address, played by the fake
// server on the loopback interface.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "fake_rfc2217.h"
#include "orv5w32.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string work_dir()
{
    std::string dir = "/tmp/orv5net_" + std::to_string(getpid()) + "/";
    mkdir(dir.c_str(), 0700);
    return dir;
}

std::string last_reason()
{
    char buf[512] = {};
    GetOrv5LastReason(buf, sizeof buf);
    return buf;
}

int open_descriptors()
{
    int n = 0;
    for (auto &entry : std::filesystem::directory_iterator("/proc/self/fd"))
        n += entry.is_symlink() ? 1 : 0;
    return n;
}

struct Device {
    explicit Device(const std::string &url) { setenv("ORV5_DEVICE", url.c_str(), 1); }
    ~Device() { unsetenv("ORV5_DEVICE"); }
};

// Drops the server's connection once the session has configured the line
// (the server has the line settings), or aborts after 10 s so that a
// session that does not notice cannot hang the test.
void drop_when_configured(fake::Rfc2217Server &server, std::atomic<bool> &done)
{
    server.wait_for([&] { return server.commands().size() >= 4; });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    server.drop();
    for (int i = 0; i < 10000 && !done; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!done)
        AbortOrv5();
}

}   // namespace

TEST(NetSession, ARefusedSpeedIs9WithTheServersAnswer)
{
    fake::ServerFaults f;
    f.answer_baud = 9600;
    fake::Rfc2217Server server(f);
    Device dev(server.url());
    int rc = ExecOrv5(nullptr, ("+V0 -B19200 +R -L1 " + work_dir() + "(file)").c_str(), nullptr);
    EXPECT_EQ(rc, ORV5_E_COMMAND);
    EXPECT_NE(last_reason().find("9600"), std::string::npos) << last_reason();
}

TEST(NetSession, ARefusedConnectionIs75NamingHostAndPort)
{
    std::string where = "127.0.0.1:" + std::to_string(fake::closed_port());
    Device dev("rfc2217://" + where);
    auto t0 = Clock::now();
    int rc = ExecOrv5(nullptr, ("+V0 +R " + work_dir() + "(file)").c_str(), nullptr);
    EXPECT_EQ(rc, ORV5_E_PORT_OPEN);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(2));
    EXPECT_NE(last_reason().find(where), std::string::npos) << last_reason();
}

TEST(NetSession, ANameThatDoesNotResolveIs75)
{
    Device dev("tcp://nonexistent.invalid:4001");
    int rc = ExecOrv5(nullptr, ("+V0 +R " + work_dir() + "(file)").c_str(), nullptr);
    EXPECT_EQ(rc, ORV5_E_PORT_OPEN);
    EXPECT_NE(last_reason().find("nonexistent.invalid:4001"), std::string::npos) << last_reason();
}

TEST(NetSession, ADroppedConnectionEndsAReceptionWithoutLimitAt51)
{
    fake::Rfc2217Server server;
    Device dev(server.url());
    std::atomic<bool> done{false};
    std::thread dropper([&] { drop_when_configured(server, done); });
    int rc = ExecOrv5(nullptr, ("+V0 -L0 +R " + work_dir() + "(file)").c_str(), nullptr);
    done = true;
    dropper.join();
    EXPECT_EQ(rc, ORV5_E_RX_TIMEOUT);
    EXPECT_NE(last_reason().find(server.url()), std::string::npos) << last_reason();
}

TEST(NetSession, ADroppedConnectionEndsASendingAt52)
{
    std::string file = work_dir() + "D.TXT";
    std::ofstream(file, std::ios::binary) << "ABC\r\n";
    fake::Rfc2217Server server;
    Device dev(server.url());
    std::atomic<bool> done{false};
    std::thread dropper([&] { drop_when_configured(server, done); });
    auto t0 = Clock::now();
    int rc = ExecOrv5(nullptr, ("+V0 -L0 +F3 " + file).c_str(), nullptr);
    done = true;
    dropper.join();
    EXPECT_EQ(rc, ORV5_E_TX_TIMEOUT);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
    std::remove(file.c_str());
}

TEST(NetSession, AbortWhileWaitingIs90AndLeavesNoSocket)
{
    fake::Rfc2217Server server;
    Device dev(server.url());
    int descriptors = open_descriptors();
    std::thread host([&] {
        server.wait_for([&] { return server.commands().size() >= 4; });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        AbortOrv5();
    });
    auto t0 = Clock::now();
    int rc = ExecOrv5(nullptr, ("+V0 -L0 +R " + work_dir() + "(file)").c_str(), nullptr);
    host.join();
    EXPECT_EQ(rc, ORV5_E_ABORTED);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
    // The pump's wake-up pipe (two descriptors) is made once and kept.
    EXPECT_LE(open_descriptors(), descriptors + 2);
    EXPECT_TRUE(server.wait_for([&] { return !server.connected(); }));
}

TEST(NetSession, AnAdapterPlugInNeedsALocalPort)
{
    fake::Rfc2217Server server;
    Device dev(server.url());
    int rc = ExecOrv5(nullptr, ("+V0 +IOrv5EESI +R " + work_dir() + "(file)").c_str(), nullptr);
    EXPECT_EQ(rc, ORV5_E_ADAPTER_FAILED);
    EXPECT_NE(last_reason().find("local port"), std::string::npos) << last_reason();
    // Nothing reached the line.
    EXPECT_TRUE(server.data().empty());
}
