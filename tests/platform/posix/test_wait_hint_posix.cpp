// Wait hints on a real pseudo-terminal: with the rest of a frame due, the
// pump's wait ends once all of it is there, not at its first byte; a
// wake-up, the session timer and the hint's own bound still end it; hint 0
// and closing the port leave the device waking on the first byte.  Which
// of two ends came first is told by the session timer's ticks, never by
// measuring how long a wait took.
#include <gtest/gtest.h>

#include <atomic>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "platform/serial_port.h"
#include "platform/session_clock.h"

namespace {

constexpr uint32_t FAR_AWAY_MS = 65535;
constexpr uint32_t DUE = 200;   // bytes: 1.7 s of line time at 1200 bit/s

std::atomic<int> ticks{0};
// The tick's context is the counter it counts on.
void count_tick(void *context) { ++*static_cast<std::atomic<int> *>(context); }

class PosixWaitHint : public ::testing::Test {
protected:
    void SetUp() override
    {
        int slave = -1;
        char name[128];
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        close(slave);
        port = plat_port_open(object, name);
        ASSERT_NE(port, PLAT_PORT_INVALID);
        ASSERT_TRUE(plat_port_configure(port, LineSettings{1200, 1, 0, 0}));
        ticks = 0;
        plat_timer_arm(clock, nullptr, FAR_AWAY_MS, count_tick, &ticks);
        plat_wake();   // a stale wake-up of an earlier test is used up here
        plat_pump_wait(clock, PLAT_PORT_INVALID);
        ticks = 0;
    }
    void TearDown() override
    {
        plat_timer_kill(clock);
        plat_port_close(port);
        if (master >= 0)
            close(master);
    }

    void send(const std::string &bytes) const
    {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    int waiting() const
    {
        int n = -1;
        ioctl(static_cast<int>(plat_port_os_handle(port)), FIONREAD, &n);
        return n;
    }
    // VMIN as the device has it, read through the far end (on a
    // pseudo-terminal both ends show the same settings).
    int device_vmin() const
    {
        struct termios tio;
        return tcgetattr(master, &tio) == 0 ? tio.c_cc[VMIN] : -1;
    }

    int master = -1;
    PlatClock clock{};   // the session's timer, as its run-time record keeps it
    PlatPort object{};
    plat_port port = PLAT_PORT_INVALID;
};

}   // namespace

TEST_F(PosixWaitHint, TheWaitEndsOnceTheDueBytesAreThere)
{
    plat_port_expect(port, DUE);
    std::thread far_end([this] {
        send("abc");   // the first bytes alone end no wait
        plat_sleep_ms(50);
        send(std::string(DUE - 3, 'x'));
    });
    plat_pump_wait(clock, port);
    far_end.join();
    EXPECT_EQ(ticks, 0);
    EXPECT_EQ(waiting(), static_cast<int>(DUE)) << "the wait ended before the due bytes were in";
    EXPECT_EQ(device_vmin(), static_cast<int>(DUE));
}

TEST_F(PosixWaitHint, AWakeEndsAHintedWaitAtOnce)
{
    plat_port_expect(port, DUE);
    // The hinted wait would sleep 1.7 s at least; the tick comes at 1 s.
    ASSERT_TRUE(plat_timer_arm(clock, nullptr, 1000, count_tick, &ticks));
    std::thread aborter([this] {
        send("abc");
        plat_sleep_ms(50);
        plat_wake();
    });
    plat_pump_wait(clock, port);
    aborter.join();
    EXPECT_EQ(ticks, 0) << "the wake-up did not end the hinted wait";
    EXPECT_EQ(waiting(), 3);
}

TEST_F(PosixWaitHint, BytesThatNeverAllComeEndTheWaitByTheTimeOutOrTheHintsBound)
{
    plat_port_expect(port, DUE);
    send("abc");
    ASSERT_TRUE(plat_timer_arm(clock, nullptr, 100, count_tick, &ticks));
    plat_pump_wait(clock, port);
    EXPECT_EQ(ticks, 1) << "the session's time-out must end a hinted wait";

    // At 115200 bit/s 30 bytes take 2.6 ms: the hinted wait gives up after
    // twice that and a little, long before the tick, and what came is
    // read; then the port wakes on the first byte again.
    ASSERT_TRUE(plat_port_configure(port, LineSettings{115200, 1, 0, 0}));
    uint8_t bytes[8], errors[8];
    uint32_t n = 0;
    ASSERT_TRUE(plat_port_read(port, bytes, errors, sizeof bytes, &n));
    plat_port_expect(port, 30);
    ticks = 0;
    ASSERT_TRUE(plat_timer_arm(clock, nullptr, 1000, count_tick, &ticks));
    std::thread far_end([this] {
        plat_sleep_ms(20);   // after the hinted wait was set up
        send("de");
    });
    for (int waits = 0; waiting() < 2 && ticks == 0 && waits < 5; ++waits)
        plat_pump_wait(clock, port);
    far_end.join();
    EXPECT_EQ(ticks, 0) << "a hinted wait must not outlast its bound";
    EXPECT_EQ(waiting(), 2);
    EXPECT_EQ(device_vmin(), 1);
}

TEST_F(PosixWaitHint, HintZeroAndClosingWakeOnTheFirstByteAgain)
{
    plat_port_expect(port, DUE);
    ASSERT_TRUE(plat_timer_arm(clock, nullptr, 20, count_tick, &ticks));
    plat_pump_wait(clock, port);   // the hint is applied by a wait
    ASSERT_EQ(device_vmin(), static_cast<int>(DUE));

    plat_port_expect(port, 0);
    ticks = 0;
    ASSERT_TRUE(plat_timer_arm(clock, nullptr, 1000, count_tick, &ticks));
    std::thread far_end([this] {
        plat_sleep_ms(50);
        send("z");
    });
    plat_pump_wait(clock, port);
    far_end.join();
    EXPECT_EQ(ticks, 0) << "after hint 0 the first byte must end the wait";
    EXPECT_EQ(waiting(), 1);
    EXPECT_EQ(device_vmin(), 1);

    // A hint still in force when the port closes is taken off the device.
    plat_port_expect(port, DUE);
    ASSERT_TRUE(plat_timer_arm(clock, nullptr, 20, count_tick, &ticks));
    plat_pump_wait(clock, port);
    ASSERT_EQ(device_vmin(), static_cast<int>(DUE));
    plat_port_close(port);
    EXPECT_EQ(device_vmin(), 1);
}
