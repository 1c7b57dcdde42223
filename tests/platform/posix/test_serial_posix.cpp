// The POSIX serial port against a real pseudo-terminal pair: the port is
// the slave side, the test plays the far end on the master side.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

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
        EXPECT_TRUE(plat_port_configure(p, "COM1:9600,n,8,1", LINE_8N1));
        return p;
    }

    void far_end_sends(const void *bytes, size_t len)
    {
        ASSERT_EQ(write(master, bytes, len), static_cast<ssize_t>(len));
    }

    // Polls like the session does until `want` bytes arrived or time ran out.
    uint32_t wait_in_queue(plat_port p, uint32_t want, uint32_t *errors = nullptr)
    {
        uint32_t err = 0, queued = 0;
        for (int waited = 0; waited < EVENTUALLY_MS; waited += 10) {
            EXPECT_TRUE(plat_port_clear_errors(p, &err, &queued));
            if (errors != nullptr)
                *errors |= err;
            if (queued >= want)
                break;
            usleep(10000);
        }
        return queued;
    }

    int master = -1;
    char slave_name[128] = {};
    std::vector<plat_port> opened;
};

TEST_F(PosixSerial, OpensTheConfiguredDeviceExclusively)
{
    plat_port p = open_port();
    ASSERT_NE(p, PLAT_PORT_INVALID);
    EXPECT_EQ(open_port(), PLAT_PORT_INVALID) << "a second opener must be refused";
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
        EXPECT_EQ(open_port(), PLAT_PORT_INVALID) << dev;
    }
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
    EXPECT_FALSE(plat_port_configure(p, "", LineSettings{0, 1, 0, 0}));

    // A pseudo-terminal always carries 8 bits without parity: a framing it
    // cannot keep is refused, not accepted and silently changed.
    EXPECT_FALSE(plat_port_configure(p, "", LineSettings{9600, 0, 2, 0}));

    ASSERT_TRUE(plat_port_configure(p, "", LineSettings{19200, 1, 0, 1}));
    struct termios tio;
    ASSERT_EQ(tcgetattr(static_cast<int>(p), &tio), 0);
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B19200));

    // The next session's defaults replace all of it.
    ASSERT_TRUE(plat_port_configure(p, "", LINE_8N1));
    ASSERT_EQ(tcgetattr(static_cast<int>(p), &tio), 0);
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF));
    EXPECT_TRUE(tio.c_iflag & PARMRK);
    EXPECT_TRUE(tio.c_cflag & CLOCAL);
#if defined(__linux__)
    EXPECT_TRUE(plat_port_configure(p, "", LineSettings{56000, 1, 0, 0}))
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
    uint32_t errors = 0;
    EXPECT_GE(wait_in_queue(p, 4, &errors), 4u);
    EXPECT_EQ(errors, 0u);
    for (uint8_t want : in) {
        uint8_t b = 0;
        uint32_t n = 0;
        ASSERT_TRUE(plat_port_read_byte(p, &b, &n));
        ASSERT_EQ(n, 1u);
        EXPECT_EQ(b, want);
    }
    uint8_t b = 0;
    uint32_t n = 7;
    EXPECT_TRUE(plat_port_read_byte(p, &b, &n));
    EXPECT_EQ(n, 0u) << "an empty port reads nothing and does not block";
}

TEST_F(PosixSerial, PurgeRxDropsWaitingInput)
{
    plat_port p = open_configured();
    far_end_sends("abc", 3);
    ASSERT_GE(wait_in_queue(p, 3), 3u);
    plat_port_purge_rx(p);
    uint32_t errors = 0, queued = 9;
    EXPECT_TRUE(plat_port_clear_errors(p, &errors, &queued));
    EXPECT_EQ(queued, 0u);
    uint8_t b;
    uint32_t n = 9;
    EXPECT_TRUE(plat_port_read_byte(p, &b, &n));
    EXPECT_EQ(n, 0u);
}

// A pseudo-terminal has no parity errors, so the marks are sent literally
// with PARMRK turned off under the port's feet: the port then sees exactly
// the stream the line discipline produces for a damaged byte.
TEST_F(PosixSerial, ErrorMarkIsReportedByThePollBeforeTheDamagedByte)
{
    plat_port p = open_configured();
    struct termios tio;
    ASSERT_EQ(tcgetattr(static_cast<int>(p), &tio), 0);
    tio.c_iflag &= ~PARMRK;
    ASSERT_EQ(tcsetattr(static_cast<int>(p), TCSANOW, &tio), 0);

    const uint8_t marked[] = {0xFF, 0x00, 0x41, 0x42};
    far_end_sends(marked, sizeof marked);
    uint32_t errors = 0;
    ASSERT_GE(wait_in_queue(p, 2, &errors), 2u);
    EXPECT_NE(errors, 0u) << "the poll must report the error of the next byte";
    uint32_t again = 0, queued = 0;
    ASSERT_TRUE(plat_port_clear_errors(p, &again, &queued));
    EXPECT_NE(again, 0u) << "still pending: the damaged byte was not read yet";

    uint8_t b = 0;
    uint32_t n = 0;
    ASSERT_TRUE(plat_port_read_byte(p, &b, &n));
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(b, 0x41);
    ASSERT_TRUE(plat_port_clear_errors(p, &again, &queued));
    EXPECT_EQ(again, 0u) << "the byte after a damaged one is good";
    ASSERT_TRUE(plat_port_read_byte(p, &b, &n));
    EXPECT_EQ(b, 0x42);
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
        uint32_t errors = 0;
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
