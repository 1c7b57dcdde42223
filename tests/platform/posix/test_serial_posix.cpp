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

#include <memory>
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
        for (auto &object : objects)
            plat_port_close(object.get());   // nothing when closed already
        unsetenv("ORV5_DEVICE");
        unsetenv("ORV5_COM3");
        if (master >= 0)
            close(master);
    }

    // Opens COM<n> as the channel does: the name resolved, then opened
    // into an object of the test's own.
    plat_port open_port(unsigned n = 1)
    {
        char name[PLAT_PORT_NAME_SIZE];
        if (!plat_port_name(n, name, sizeof name))
            return PLAT_PORT_INVALID;
        return open_named(name);
    }

    plat_port open_named(const char *name)
    {
        objects.push_back(std::make_unique<PlatPort>());
        return plat_port_open(*objects.back(), name);
    }

    static int fd_of(plat_port p) { return static_cast<int>(plat_port_os_handle(p)); }

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
    std::vector<std::unique_ptr<PlatPort>> objects;   // every object opened into
};

TEST_F(PosixSerial, OpensTheConfiguredDeviceExclusively)
{
    plat_port p = open_port();
    ASSERT_NE(p, PLAT_PORT_INVALID);
    plat_reason_clear();
    EXPECT_EQ(open_port(), PLAT_PORT_INVALID) << "a second opener must be refused";
    EXPECT_NE(std::string(plat_reason_text()).find(slave_name), std::string::npos);
    plat_port_close(p);
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

    for (const char *dev :
         {"/dev/orv5-no-such-device", "/dev/null", static_cast<const char *>(file)}) {
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
    ASSERT_EQ(tcgetattr(fd_of(p), &tio), 0);
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B19200));

    // The next session's defaults replace all of it.
    ASSERT_TRUE(plat_port_configure(p, LINE_8N1));
    ASSERT_EQ(tcgetattr(fd_of(p), &tio), 0);
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
    for (int waited = 0; !posix_port_input_ready(fd_of(p)) && waited < EVENTUALLY_MS; waited += 10)
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
    ASSERT_EQ(tcgetattr(fd_of(p), &tio), 0);
    tio.c_iflag &= ~PARMRK;
    ASSERT_EQ(tcsetattr(fd_of(p), TCSANOW, &tio), 0);

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

// A second pseudo-terminal pair beside the fixture's, for two ports open
// at once.
struct SecondPty {
    int master = -1;
    char name[128] = {};
    SecondPty()
    {
        int slave = -1;
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            close(slave);
            // receive() must not block when nothing comes.
            fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        }
    }
    ~SecondPty()
    {
        if (master >= 0)
            close(master);
    }
    // What the far end got: want bytes, or what came within EVENTUALLY_MS
    // (the whole of it when want is 0, for "nothing came").
    std::string receive(size_t want, int within_ms = EVENTUALLY_MS) const
    {
        std::string got;
        char buf[64];
        for (int waited = 0; (want == 0 || got.size() < want) && waited < within_ms; waited += 10) {
            ssize_t r = read(master, buf, sizeof buf);
            if (r > 0)
                got.append(buf, static_cast<size_t>(r));
            else
                usleep(10000);
        }
        return got;
    }
};

// Turns off PARMRK under the port's feet, so that the far end can send
// the marks the line discipline would make for a damaged byte.
void send_marks_literally(plat_port p)
{
    struct termios tio;
    ASSERT_EQ(tcgetattr(static_cast<int>(plat_port_os_handle(p)), &tio), 0);
    tio.c_iflag &= ~PARMRK;
    ASSERT_EQ(tcsetattr(static_cast<int>(plat_port_os_handle(p)), TCSANOW, &tio), 0);
}

TEST_F(PosixSerial, TwoPortsOpenAtOnceKeepTheirOwnState)
{
    SecondPty other;
    ASSERT_GE(other.master, 0);
    plat_port a = open_configured();
    plat_port b = open_named(other.name);
    ASSERT_NE(b, PLAT_PORT_INVALID);
    ASSERT_TRUE(plat_port_configure(b, LINE_8N1));
    EXPECT_NE(plat_port_os_handle(a), plat_port_os_handle(b));

    // Each port writes to its own line.
    uint32_t written = 0;
    ASSERT_TRUE(plat_port_write(a, "to-a", 4, &written));
    ASSERT_TRUE(plat_port_write(b, "to-b", 4, &written));
    char got[8] = {};
    size_t have = 0;
    for (int waited = 0; have < 4 && waited < EVENTUALLY_MS; waited += 10) {
        ssize_t r = read(master, got + have, 4 - have);
        if (r > 0)
            have += static_cast<size_t>(r);
        else
            usleep(10000);
    }
    EXPECT_EQ(std::string(got, have), "to-a");
    EXPECT_EQ(other.receive(4), "to-b");

    // Half a damaged byte's marks wait in a's decoder while b fetches a
    // clean byte: the flags belong to a's next byte, not to b's.
    send_marks_literally(a);
    send_marks_literally(b);
    far_end_sends("\xFF\x00", 2);
    usleep(50000);
    std::vector<uint8_t> a_bytes, a_flags, b_bytes, b_flags;
    uint8_t byte[4], errs[4];
    uint32_t n = 9;
    ASSERT_TRUE(plat_port_read(a, byte, errs, sizeof byte, &n));
    EXPECT_EQ(n, 0u) << "the marks alone are no byte yet";
    ASSERT_EQ(write(other.master, "b", 1), 1);
    fetch(b, 1, b_bytes, &b_flags);
    far_end_sends("a", 1);
    fetch(a, 1, a_bytes, &a_flags);
    ASSERT_EQ(b_bytes, std::vector<uint8_t>{'b'});
    EXPECT_EQ(b_flags, std::vector<uint8_t>{0}) << "a's marks flagged b's byte";
    ASSERT_EQ(a_bytes, std::vector<uint8_t>{'a'});
    EXPECT_EQ(a_flags, std::vector<uint8_t>{PLAT_LINE_FRAMING | PLAT_LINE_PARITY});

    // A failure names the port it happened on.
    plat_reason_clear();
    EXPECT_FALSE(plat_port_configure(b, LineSettings{0, 1, 0, 0}));
    EXPECT_EQ(std::string(plat_reason_text()).rfind(other.name, 0), 0u) << plat_reason_text();
    plat_reason_clear();
    EXPECT_FALSE(plat_port_configure(a, LineSettings{0, 1, 0, 0}));
    EXPECT_EQ(std::string(plat_reason_text()).rfind(slave_name, 0), 0u) << plat_reason_text();

    // a's line hangs up; b goes on, and a's reason names a.
    close(master);
    master = -1;
    plat_reason_clear();
    EXPECT_FALSE(plat_port_read(a, byte, errs, sizeof byte, &n));
    EXPECT_EQ(std::string(plat_reason_text()).rfind(slave_name, 0), 0u) << plat_reason_text();
    ASSERT_EQ(write(other.master, "c", 1), 1);
    b_bytes.clear();
    fetch(b, 1, b_bytes);
    EXPECT_EQ(b_bytes, std::vector<uint8_t>{'c'});

    uint32_t lines = 0xFFFF;
    EXPECT_TRUE(plat_port_modem_status(b, &lines));
    EXPECT_EQ(lines, 0u);
}

TEST_F(PosixSerial, AClosedPortObjectIsResetAndReachesNothing)
{
    PlatPort object{};
    plat_port a = plat_port_open(object, slave_name);
    ASSERT_EQ(a, &object);
    ASSERT_TRUE(plat_port_configure(a, LINE_8N1));
    // Leave half a mark sequence in the decoder.
    send_marks_literally(a);
    far_end_sends("\xFF\x00", 2);
    usleep(50000);
    uint8_t byte[4], errs[4];
    uint32_t n = 0;
    ASSERT_TRUE(plat_port_read(a, byte, errs, sizeof byte, &n));
    ASSERT_EQ(n, 0u);
    plat_port_close(a);

    EXPECT_EQ(object.ops, nullptr);
    EXPECT_EQ(plat_port_os_handle(a), -1);
    for (unsigned char c : object.state)
        ASSERT_EQ(c, 0) << "the backend's record must be cleared";

    // The next port is likely to get the same descriptor number: nothing
    // done through the stale object may reach it.
    SecondPty other;
    ASSERT_GE(other.master, 0);
    plat_port b = open_named(other.name);
    ASSERT_NE(b, PLAT_PORT_INVALID);
    ASSERT_TRUE(plat_port_configure(b, LINE_8N1));
    uint32_t written = 7;
    EXPECT_FALSE(plat_port_write(a, "stale", 5, &written));
    EXPECT_EQ(written, 0u);
    ASSERT_EQ(write(other.master, "x", 1), 1);
    usleep(50000);
    n = 9;
    EXPECT_FALSE(plat_port_read(a, byte, errs, sizeof byte, &n));
    EXPECT_EQ(n, 0u);
    uint32_t lines = 0;
    EXPECT_FALSE(plat_port_modem_status(a, &lines));
    plat_port_purge_rx(a);
    plat_port_close(a);   // twice: nothing
    std::vector<uint8_t> got;
    fetch(b, 1, got);
    EXPECT_EQ(got, std::vector<uint8_t>{'x'}) << "the stale object took b's input";
    EXPECT_EQ(other.receive(0, 100), "") << "the stale object wrote on b's line";

    // Opened again, the object starts afresh: the old half mark is gone.
    // (Not configured, so nothing but the open clears the decoder.)
    ASSERT_EQ(plat_port_open(object, slave_name), &object);
    far_end_sends("A", 1);
    std::vector<uint8_t> bytes, flags;
    fetch(&object, 1, bytes, &flags);
    EXPECT_EQ(bytes, std::vector<uint8_t>{'A'});
    EXPECT_EQ(flags, std::vector<uint8_t>{0});
    plat_port_close(&object);
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

}   // namespace
