// The exported interface, through libOrv5w32.so as a host links it.
#include <gtest/gtest.h>

#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "orv5w32.h"

namespace {

// name must be an 8.3 name; the folder carries the process id.
std::string temp_file(const char *name, const char *content)
{
    std::string dir = "/tmp/orv5api_" + std::to_string(getpid());
    mkdir(dir.c_str(), 0700);
    std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

// A pseudo-terminal whose far end nobody answers: a silent terminal.
struct SilentLine {
    int master = -1, slave = -1;
    char path[128] = "";
    SilentLine()
    {
        openpty(&master, &slave, path, nullptr, nullptr);
        ::close(slave);   // the library opens the slave side by its path
        setenv("ORV5_DEVICE", path, 1);
    }
    ~SilentLine()
    {
        unsetenv("ORV5_DEVICE");
        ::close(master);
    }
};

// True once the pty's line is in raw mode (no canonical input).
bool is_raw(int master)
{
    termios tio{};
    return tcgetattr(master, &tio) == 0 && (tio.c_lflag & ICANON) == 0;
}

// True once this process holds a descriptor on path.
bool holds_open(const std::string &path)
{
    for (auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(entry.path(), ec) == path)
            return true;
    }
    return false;
}

int open_descriptors()
{
    int n = 0;
    for (auto &entry : std::filesystem::directory_iterator("/proc/self/fd"))
        n += entry.is_symlink() ? 1 : 0;
    return n;
}

}   // namespace

TEST(Api, VersionAndMessages)
{
    char buf[8];
    EXPECT_EQ(GetOrv5DllVersion(buf), buf);
    EXPECT_STREQ(buf, "1.01S");
    EXPECT_STREQ(orv5_result_message(ORV5_E_PORT_OPEN), "the serial port cannot be opened");
    EXPECT_STREQ(orv5_result_message(12345), "unknown result code");
}

TEST(Api, BadCommandTextsReturnTheirCodes)
{
    char name[13] = "unchanged";
    EXPECT_EQ(ExecOrv5(nullptr, "", name), ORV5_E_COMMAND);
    EXPECT_EQ(ExecOrv5(nullptr, nullptr, name), ORV5_E_COMMAND);
    EXPECT_EQ(ExecOrv5(nullptr, "-Q", name), ORV5_E_COMMAND);
    EXPECT_EQ(ExecOrv5(nullptr, "-%", name), ORV5_E_INTERNAL);
    EXPECT_EQ(ExecOrv5(nullptr, "/nonexistent/DATA.TXT +F3", name), ORV5_E_SEND_FILE);
    EXPECT_STREQ(name, "unchanged");
}

TEST(Api, MissingPortGives75)
{
    std::string file = temp_file("P.TXT", "ABC\r\n");
    setenv("ORV5_DEVICE", "/nonexistent/tty", 1);
    EXPECT_EQ(ExecOrv5(nullptr, ("+V0 +F3 " + file).c_str(), nullptr), ORV5_E_PORT_OPEN);
    unsetenv("ORV5_DEVICE");
    std::remove(file.c_str());
}

TEST(Api, AbortFromAnotherThreadEndsTheSessionAndGuardRefusesASecond)
{
    std::string file = temp_file("A.TXT", "ABC\r\n");
    SilentLine line;
    int descriptors = open_descriptors();
    std::atomic<int> abort_answer{-1}, second{-1};
    std::atomic<bool> returned{false};
    std::thread host([&] {
        // Wait until the session runs: AbortOrv5 answers 60 from then on.
        // A loaded machine may take long to get there; 60 s at most.
        for (int i = 0; i < 60000 && AbortOrv5() == 0 && !returned; ++i)
            usleep(1000);
        second = ExecOrv5(nullptr, "-R", nullptr);
        abort_answer = AbortOrv5();
        // Should the session have started only after the wait gave up, it
        // waits without limit: end it, so that the test fails, not hangs.
        while (!returned) {
            AbortOrv5();
            usleep(10000);
        }
    });
    int rc = ExecOrv5(nullptr, ("+V0 -L0 +F3 " + file).c_str(), nullptr);
    returned = true;
    host.join();
    EXPECT_EQ(rc, ORV5_E_ABORTED);
    EXPECT_EQ(second, ORV5_E_BUSY_SENDING);
    EXPECT_EQ(abort_answer, ORV5_E_BUSY_SENDING);
    EXPECT_EQ(AbortOrv5(), 0);
    // Port and file closed; the pump's wake-up pipe (two descriptors) is
    // created once and kept.
    EXPECT_LE(open_descriptors(), descriptors + 2);
    std::remove(file.c_str());
}

TEST(Api, AReceptionWaitingWithoutLimitEndsWhenThePortHangsUp)
{
    std::string dir = "/tmp/orv5api_" + std::to_string(getpid()) + "/";
    mkdir(dir.c_str(), 0700);
    SilentLine line;
    std::atomic<bool> stop{false};
    std::thread unplug([&] {
        // Once the session holds the port and has set it up (raw: a pty's
        // master sees the slave's settings), and is waiting, the device
        // goes away.  Gone during the set-up, it would be refused settings.
        for (int i = 0; i < 10000 && !stop && !(holds_open(line.path) && is_raw(line.master)); ++i)
            usleep(1000);
        usleep(300000);   // into the wait, which has no limit: any delay is fine
        ::close(line.master);
        line.master = -1;
        // Should the wait go on regardless, end it rather than hang here.
        for (int i = 0; i < 20000 && !stop; ++i)
            usleep(1000);
        if (!stop)
            AbortOrv5();
    });
    char name[ORV5_NAME_BUF_SIZE] = {};
    int rc = ExecOrv5(nullptr, ("+V0 -L0 +R " + dir + "(file)").c_str(), name);
    stop = true;
    unplug.join();
    EXPECT_EQ(rc, ORV5_E_RX_TIMEOUT);
    char reason[256] = {};
    GetOrv5LastReason(reason, sizeof reason);
    EXPECT_NE(std::string(reason).find(line.path), std::string::npos) << reason;
}
