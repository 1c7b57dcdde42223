// The POSIX session timer and pump: ticks, wake-ups and input end a wait,
// and nothing else does.  No assertion depends on how long a wait took.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <pty.h>
#include <thread>
#include <unistd.h>

#include "platform/serial_port.h"
#include "platform/session_clock.h"

namespace {

constexpr uint32_t FAR_AWAY_MS = 65535;   // the idle timer of a session
constexpr int MAX_WAITS = 5;              // a sleeping pump needs one or two

std::atomic<int> ticks{0};
// The tick's context is the counter it counts on.
void count_tick(void *context) { ++*static_cast<std::atomic<int> *>(context); }

class PosixClock : public ::testing::Test {
protected:
    void SetUp() override
    {
        ticks = 0;
        // A stale wake-up from an earlier test ends the first wait early.
        plat_timer_arm(clock, nullptr, FAR_AWAY_MS, count_tick, &ticks);
        plat_wake();
        plat_pump_wait(clock, PLAT_PORT_INVALID);
        ticks = 0;
    }
    void TearDown() override { plat_timer_kill(clock); }
    PlatClock clock{};   // the session's timer, as its run-time record keeps it
};

TEST_F(PosixClock, PumpWaitSleepsUntilTheTick)
{
    ASSERT_TRUE(plat_timer_arm(clock, nullptr, 20, count_tick, &ticks));
    int waits = 0;
    while (ticks == 0 && waits < MAX_WAITS) {
        plat_pump_wait(clock, PLAT_PORT_INVALID);
        ++waits;
    }
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(waits, 1) << "a wait with nothing to do must sleep to the tick, not spin";
}

TEST_F(PosixClock, MissedIntervalsGiveOneTickAndKillStopsIt)
{
    ASSERT_TRUE(plat_timer_arm(clock, nullptr, 10, count_tick, &ticks));
    plat_sleep_ms(60);
    plat_pump_messages(clock);
    EXPECT_EQ(ticks, 1);

    ASSERT_TRUE(plat_timer_kill(clock));
    ticks = 0;
    plat_sleep_ms(30);
    plat_pump_messages(clock);
    EXPECT_EQ(ticks, 0);
}

TEST_F(PosixClock, WakeFromAnotherThreadEndsTheWait)
{
    ASSERT_TRUE(plat_timer_arm(clock, nullptr, FAR_AWAY_MS, count_tick, &ticks));
    std::thread waker([] {
        plat_sleep_ms(50);
        plat_wake();
    });
    plat_pump_wait(clock, PLAT_PORT_INVALID);   // hangs for 65 s if the wake is lost
    waker.join();
    EXPECT_EQ(ticks, 0);
}

TEST_F(PosixClock, InputOnThePortEndsTheWaitAndHangUpDoesNotSpin)
{
    int master = -1, slave = -1;
    char name[128];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    close(slave);
    PlatPort object{};
    plat_port port = plat_port_open(object, name);
    ASSERT_NE(port, PLAT_PORT_INVALID);
    ASSERT_TRUE(plat_port_configure(port, LineSettings{9600, 1, 0, 0}));

    ASSERT_TRUE(plat_timer_arm(clock, nullptr, FAR_AWAY_MS, count_tick, &ticks));
    std::thread far_end([master] {
        plat_sleep_ms(50);
        ASSERT_EQ(write(master, "x", 1), 1);
    });
    plat_pump_wait(clock, port);
    far_end.join();
    EXPECT_EQ(ticks, 0);
    uint8_t b = 0, err = 0;
    uint32_t n = 0;
    ASSERT_TRUE(plat_port_read(port, &b, &err, 1, &n));
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(b, 'x');

    // The far end goes away: the port stays "ready" with a hang-up, and the
    // wait must still sleep to the tick.
    close(master);
    ASSERT_TRUE(plat_timer_arm(clock, nullptr, 20, count_tick, &ticks));
    int waits = 0;
    while (ticks == 0 && waits < MAX_WAITS) {
        plat_pump_wait(clock, port);
        ++waits;
    }
    EXPECT_EQ(ticks, 1);
    EXPECT_LE(waits, 2);
    plat_port_close(port);
}

// With two ports open, a wait watches the port it was handed and no other:
// input on another session's line is nothing to wake for.
TEST_F(PosixClock, InputOnAnotherPortDoesNotEndTheWait)
{
    int masters[2] = {-1, -1};
    PlatPort objects[2] = {};
    plat_port ports[2] = {};
    for (int i = 0; i < 2; ++i) {
        int slave = -1;
        char name[128];
        ASSERT_EQ(openpty(&masters[i], &slave, name, nullptr, nullptr), 0);
        close(slave);
        ports[i] = plat_port_open(objects[i], name);
        ASSERT_NE(ports[i], PLAT_PORT_INVALID);
        ASSERT_TRUE(plat_port_configure(ports[i], LineSettings{9600, 1, 0, 0}));
    }
    ASSERT_EQ(write(masters[0], "x", 1), 1);
    plat_sleep_ms(50);   // the byte waits on the first port

    ASSERT_TRUE(plat_timer_arm(clock, nullptr, 100, count_tick, &ticks));
    plat_pump_wait(clock, ports[1]);
    EXPECT_EQ(ticks, 1) << "the wait on the second port ended for the first port's input";

    // And the first port's wait ends for its byte at once.
    ticks = 0;
    ASSERT_TRUE(plat_timer_arm(clock, nullptr, FAR_AWAY_MS, count_tick, &ticks));
    plat_pump_wait(clock, ports[0]);
    EXPECT_EQ(ticks, 0);
    for (int i = 0; i < 2; ++i) {
        plat_port_close(ports[i]);
        close(masters[i]);
    }
}

// Two sessions' timers are separate records: a pump services the clock it
// is handed, and each tick reaches its own context.
TEST_F(PosixClock, TwoClocksTickIndependently)
{
    PlatClock other{};
    std::atomic<int> other_ticks{0};
    ASSERT_TRUE(plat_timer_arm(clock, nullptr, 10, count_tick, &ticks));
    ASSERT_TRUE(plat_timer_arm(other, nullptr, FAR_AWAY_MS, count_tick, &other_ticks));
    plat_sleep_ms(30);
    plat_pump_messages(other);
    EXPECT_EQ(ticks, 0) << "the other clock's pump ticked this clock's timer";
    EXPECT_EQ(other_ticks, 0);
    plat_pump_messages(clock);
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(other_ticks, 0) << "a tick went to the wrong context";

    // Killing one leaves the other running.
    ASSERT_TRUE(plat_timer_kill(other));
    ticks = 0;
    plat_sleep_ms(30);
    plat_pump_messages(clock);
    EXPECT_EQ(ticks, 1);
}

}   // namespace

TEST(PosixClockMs, IsMonotonicInMilliseconds)
{
    uint64_t before = plat_clock_ms();
    plat_sleep_ms(30);
    uint64_t after = plat_clock_ms();
    EXPECT_GE(after - before, 30u);
    EXPECT_LT(after - before, 5000u);
}
