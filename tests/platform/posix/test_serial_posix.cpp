// The POSIX serial port against a real pseudo-terminal pair: the port is
// the slave side, the test plays the far end on the master side.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/os_reason.h"
#include "platform/posix/posix_port.h"
#include "platform/serial_port.h"

namespace {

constexpr int EVENTUALLY_MS = 5000;   // bound for "the byte gets there"

const LineSettings LINE_8N1 = {9600, 1, 0, 0};

class PosixSerial : public ::testing::Test {
protected:
    void SetUp() override
    {
        int slave = -1;
        ASSERT_EQ(openpty(&master, &slave, slave_name, nullptr, nullptr), 0);
        close(slave);   // the port under test opens it by name
        setenv("ORV5_DEVICE", slave_name, 1);
    }

    void TearDown() override
    {
        for (plat_port p : opened)
            plat_port_close(p);
        unsetenv("ORV5_DEVICE");
        unsetenv("ORV5_COM3");
        if (master >= 0)
            close(master);
    }

    plat_port open_port(unsigned n = 1)
    {
        plat_port p = plat_port_open(n);
        if (p != PLAT_PORT_INVALID)
            opened.push_back(p);
        return p;
    }

    plat_port open_configured()
    {
        plat_port p = open_port();
        EXPECT_NE(p, PLAT_PORT_INVALID);
        EXPECT_TRUE(plat_port_configure(p, LINE_8N1));
        return p;
    }

    void far_end_sends(const void *bytes, size_t len)
    {
        ASSERT_EQ(write(master, bytes, len), static_cast<ssize_t>(len));
    }

    // Fetches like the channel does until `want` bytes came or time ran
    // out; the bytes and their line-error flags are appended to got/flags.
    void fetch(plat_port p, size_t want, std::vector<uint8_t> &got,
               std::vector<uint8_t> *flags = nullptr, int *fetches = nullptr)
    {
        for (int waited = 0; got.size() < want && waited < EVENTUALLY_MS; waited += 10) {
            uint8_t bytes[64], errs[64];
            uint32_t n = 0;
            ASSERT_TRUE(plat_port_read(p, bytes, errs, sizeof bytes, &n));
            got.insert(got.end(), bytes, bytes + n);
            if (flags != nullptr)
                flags->insert(flags->end(), errs, errs + n);
            if (fetches != nullptr && n > 0)
                ++*fetches;
            if (got.size() < want)
                usleep(10000);
        }
    }

    int master = -1;
    char slave_name[128] = {};
    std::vector<plat_port> opened;
};

TEST_F(PosixSerial, OpensTheConfiguredDeviceExclusively)
{
    plat_port p = open_port();
    ASSERT_NE(p, PLAT_PORT_INVALID);
    plat_reason_clear();
    EXPECT_EQ(open_port(), PLAT_PORT_INVALID) << "a second opener must be refused";
    EXPECT_NE(std::string(plat_reason_text()).find(slave_name), std::string::npos);
    plat_port_close(p);
    opened.clear();
    EXPECT_NE(open_port(), PLAT_PORT_INVALID) << "closing must release the device";
}

TEST_F(PosixSerial, PicksTheDeviceOfTheComNumber)
{
    unsetenv("ORV5_DEVICE");
    setenv("ORV5_COM3", slave_name, 1);
    EXPECT_NE(open_port(3), PLAT_PORT_INVALID);
    setenv("ORV5_DEVICE", slave_name, 1);
    EXPECT_EQ(open_port(0), PLAT_PORT_INVALID) << "COM0 never opens";
}

TEST_F(PosixSerial, WithoutTheEnvironmentComNIsTtySNMinusOne)
{
    // COM200 names /dev/ttyS199, which no machine here has: the failure
    // reason shows the path that was tried.
    unsetenv("ORV5_DEVICE");
    unsetenv("ORV5_COM200");
    plat_reason_clear();
    EXPECT_EQ(open_port(200), PLAT_PORT_INVALID);
    EXPECT_EQ(std::string(plat_reason_text()).rfind("/dev/ttyS199: ", 0), 0u) << plat_reason_text();
}

TEST_F(PosixSerial, RefusesWhatIsNoTerminalAndLeavesNothingOpen)
{
    char file[] = "/tmp/orv5_not_a_tty_XXXXXX";
    int fd = mkstemp(file);
    ASSERT_GE(fd, 0);
    close(fd);
    int probe = open("/dev/null", O_RDONLY);   // next free descriptor number
    ASSERT_GE(probe, 0);
    close(probe);

    for (const char *dev : {"/dev/orv5-no-such-device", "/dev/null", static_cast<const char *>(file)}) {
        setenv("ORV5_DEVICE", dev, 1);
        plat_reason_clear();
        EXPECT_EQ(open_port(), PLAT_PORT_INVALID) << dev;
        // The reason names the device and gives the system's words.
        EXPECT_EQ(std::string(plat_reason_text()).rfind(std::string(dev) + ": ", 0), 0u)
            << plat_reason_text();
    }
    setenv("ORV5_DEVICE", "/dev/orv5-no-such-device", 1);
    open_port();
    EXPECT_NE(std::string(plat_reason_text()).find("No such file"), std::string::npos);
    unlink(file);
    int again = open("/dev/null", O_RDONLY);
    EXPECT_EQ(again, probe) << "a failed open leaked a descriptor";
    close(again);
}

TEST_F(PosixSerial, PseudoTerminalHasNoModemLines)
{
    plat_port p = open_configured();
    uint32_t status = 0xFFFF;
    EXPECT_TRUE(plat_port_modem_status(p, &status));
    EXPECT_EQ(status, 0u);
}

TEST_F(PosixSerial, ConfigureRejectsSpeedZeroAndSetsTheLine)
{
    plat_port p = open_port();
    ASSERT_NE(p, PLAT_PORT_INVALID);
    plat_reason_clear();
    EXPECT_FALSE(plat_port_configure(p, LineSettings{0, 1, 0, 0}));
    EXPECT_EQ(std::string(plat_reason_text()).rfind(slave_name, 0), 0u) << plat_reason_text();

    // A pseudo-terminal always carries 8 bits without parity: a framing it
    // cannot keep is refused, not accepted and silently changed.
    plat_reason_clear();
    EXPECT_FALSE(plat_port_configure(p, LineSettings{9600, 0, 2, 0}));
    EXPECT_STRNE(plat_reason_text(), "");

    ASSERT_TRUE(plat_port_configure(p, LineSettings{19200, 1, 0, 1}));
    struct termios tio;
    ASSERT_EQ(tcgetattr(static_cast<int>(p), &tio), 0);
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B19200));

    // The next session's defaults replace all of it.
    ASSERT_TRUE(plat_port_configure(p, LINE_8N1));
    ASSERT_EQ(tcgetattr(static_cast<int>(p), &tio), 0);
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF));
    EXPECT_TRUE(tio.c_iflag & PARMRK);
    EXPECT_TRUE(tio.c_cflag & CLOCAL);
#if defined(__linux__)
    EXPECT_TRUE(plat_port_configure(p, LineSettings{56000, 1, 0, 0}))
        << "rates without a Bnnn constant go through termios2";
#endif
}

TEST_F(PosixSerial, BytesTravelBothWaysIncludingFF)
{
    plat_port p = open_configured();
    const uint8_t out[] = {0x10, 0x05, 0x00, 0xFF, 0x41};
    uint32_t written = 0;
    ASSERT_TRUE(plat_port_write(p, out, sizeof out, &written));
    EXPECT_EQ(written, sizeof out);
    uint8_t got[sizeof out] = {};
    size_t have = 0;
    for (int waited = 0; have < sizeof out && waited < EVENTUALLY_MS; waited += 10) {
        ssize_t r = read(master, got + have, sizeof out - have);
        if (r > 0)
            have += static_cast<size_t>(r);
        else
            usleep(10000);
    }
    ASSERT_EQ(have, sizeof out);
    EXPECT_EQ(0, memcmp(got, out, sizeof out));

    // 0xFF arrives doubled from the line discipline and must come out once.
    const uint8_t in[] = {0xFF, 0x42, 0xFF};
    far_end_sends(in, sizeof in);
    std::vector<uint8_t> bytes, flags;
    fetch(p, sizeof in, bytes, &flags);
    EXPECT_EQ(bytes, std::vector<uint8_t>(in, in + sizeof in));
    EXPECT_EQ(flags, std::vector<uint8_t>(sizeof in, 0));
    uint8_t b = 0, e = 0;
    uint32_t n = 7;
    EXPECT_TRUE(plat_port_read(p, &b, &e, 1, &n));
    EXPECT_EQ(n, 0u) << "an empty port reads nothing and does not block";
}

TEST_F(PosixSerial, OneFetchTakesAWholeBurst)
{
    plat_port p = open_configured();
    std::vector<uint8_t> burst(40);
    for (size_t i = 0; i < burst.size(); ++i)
        burst[i] = static_cast<uint8_t>('A' + i % 26);
    far_end_sends(burst.data(), burst.size());
    usleep(50000);   // the whole burst is in the driver
    std::vector<uint8_t> got;
    int fetches = 0;
    fetch(p, burst.size(), got, nullptr, &fetches);
    EXPECT_EQ(got, burst);
    EXPECT_EQ(fetches, 1);

    // Capacity is respected: the rest stays for the next fetch.
    far_end_sends("abcdef", 6);
    usleep(50000);
    uint8_t two[2], errs[2];
    uint32_t n = 0;
    ASSERT_TRUE(plat_port_read(p, two, errs, 2, &n));
    EXPECT_EQ(n, 2u);
    std::vector<uint8_t> rest;
    fetch(p, 4, rest);
    EXPECT_EQ(std::string(rest.begin(), rest.end()), "cdef");
}

TEST_F(PosixSerial, PurgeRxDropsWaitingInput)
{
    plat_port p = open_configured();
    far_end_sends("abc", 3);
    for (int waited = 0; !posix_port_input_ready(static_cast<int>(p)) && waited < EVENTUALLY_MS;
         waited += 10)
        usleep(10000);
    usleep(20000);
    plat_port_purge_rx(p);
    uint8_t b, e;
    uint32_t n = 9;
    EXPECT_TRUE(plat_port_read(p, &b, &e, 1, &n));
    EXPECT_EQ(n, 0u);
}

TEST_F(PosixSerial, HangUpFailsTheFetch)
{
    plat_port p = open_configured();
    close(master);
    master = -1;
    uint8_t b, e;
    uint32_t n = 9;
    EXPECT_FALSE(plat_port_read(p, &b, &e, 1, &n));
    EXPECT_EQ(n, 0u);
}

// A pseudo-terminal has no parity errors, so the marks are sent literally
// with PARMRK turned off under the port's feet: the port then sees exactly
// the stream the line discipline produces for a damaged byte.
TEST_F(PosixSerial, ErrorMarkFlagsExactlyTheDamagedByte)
{
    plat_port p = open_configured();
    struct termios tio;
    ASSERT_EQ(tcgetattr(static_cast<int>(p), &tio), 0);
    tio.c_iflag &= ~PARMRK;
    ASSERT_EQ(tcsetattr(static_cast<int>(p), TCSANOW, &tio), 0);

    const uint8_t marked[] = {0x40, 0xFF, 0x00, 0x41, 0x42, 0xFF, 0x00, 0x00};
    far_end_sends(marked, sizeof marked);
    std::vector<uint8_t> bytes, flags;
    fetch(p, 4, bytes, &flags);
    ASSERT_EQ(bytes, (std::vector<uint8_t>{0x40, 0x41, 0x42, 0x00}));
    EXPECT_EQ(flags[0], 0);
    EXPECT_EQ(flags[1], PLAT_LINE_FRAMING | PLAT_LINE_PARITY);
    EXPECT_EQ(flags[2], 0) << "the byte after a damaged one is good";
    EXPECT_EQ(flags[3], PLAT_LINE_BREAK);
}

TEST(ParmrkDecoder, UndoesTheMarks)
{
    struct Case {
        std::vector<uint8_t> raw;
        uint8_t byte;
        bool error;
    } cases[] = {
        {{0x41}, 0x41, false},
        {{0xFF, 0xFF}, 0xFF, false},        // a real 0xFF
        {{0xFF, 0x00, 0x37}, 0x37, true},   // parity or framing error
        {{0xFF, 0x00, 0x00}, 0x00, true},   // break
        {{0xFF, 0x00, 0xFF}, 0xFF, true},   // damaged 0xFF is not doubled
        {{0xFF, 0x12}, 0x12, true},         // out of step
    };
    for (const Case &c : cases) {
        ParmrkDecoder dec{};
        uint8_t errors = 0;
        uint8_t out = 0;
        for (size_t i = 0; i + 1 < c.raw.size(); ++i)
            EXPECT_FALSE(parmrk_feed(dec, c.raw[i], &out, &errors));
        EXPECT_TRUE(parmrk_feed(dec, c.raw.back(), &out, &errors));
        EXPECT_EQ(out, c.byte);
        EXPECT_EQ(errors != 0, c.error) << "byte " << int(c.byte);
        EXPECT_EQ(dec.marks, 0);
    }
}

} // namespace
