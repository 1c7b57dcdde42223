// The run-time record on the simulated platform: each session's timer,
// stop request and failed writes are its own, and the waits read them.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "link/serial.h"
#include "orv5w32.h"
#include "platform/sim/sim.h"
#include "runtime/progress.h"
#include "runtime/session_run.h"
#include "runtime/settings.h"
#include "runtime/timer.h"

namespace {

const LineSettings LINE_9600 = {9600, 1, 0, 0};

class Runtime : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim::reset();
        run_begin(run, nullptr, nullptr, abort_a);
    }
    void TearDown() override
    {
        (void)timer_stop(run);
        com_close(ch);
    }
    // Pumps run until its time-out has expired; false after max_waits.
    static bool wait_out(SessionRun &r, int max_waits = 100)
    {
        for (int i = 0; i < max_waits; ++i) {
            if (timer_expired(r))
                return true;
            pump_wait(r, PLAT_PORT_INVALID);
        }
        return timer_expired(r);
    }
    std::atomic<uint8_t> abort_a{0};
    SessionRun run;
    SerialChannel ch;
};

TEST_F(Runtime, TwoRunsTimersAreIndependent)
{
    std::atomic<uint8_t> abort_b{0};
    auto other = std::make_unique<SessionRun>();
    run_begin(*other, nullptr, nullptr, abort_b);
    ASSERT_EQ(timer_start(run), ORV5_OK);
    ASSERT_EQ(timer_start(*other), ORV5_OK);
    ASSERT_EQ(timer_set(run, 5), ORV5_OK);       // 50 ms
    ASSERT_EQ(timer_set(*other, 30), ORV5_OK);   // 300 ms
    EXPECT_FALSE(timer_expired(run));

    ASSERT_TRUE(wait_out(run));
    EXPECT_EQ(sim::now_ms(), 50u) << "the wait slept past its own tick";
    EXPECT_FALSE(timer_expired(*other)) << "one run's tick expired the other's time-out";

    ASSERT_TRUE(wait_out(*other));
    EXPECT_EQ(sim::now_ms(), 300u);
    // Disarming one leaves the other's flags alone.
    ASSERT_EQ(timer_set(*other, 0), ORV5_OK);
    EXPECT_TRUE(timer_expired(run));
    (void)timer_stop(*other);
}

TEST_F(Runtime, DisarmedTimerReadsExpiredButTheWaitStillSleeps)
{
    ASSERT_EQ(timer_start(run), ORV5_OK);
    EXPECT_TRUE(timer_expired(run));
    uint64_t before = sim::now_ms();
    pump_wait(run, PLAT_PORT_INVALID);
    EXPECT_GT(sim::now_ms(), before) << "a disarmed timer is nothing to act on: the wait sleeps";
}

TEST_F(Runtime, TheWaitReadsTheRequestTheRunPointsTo)
{
    ASSERT_EQ(timer_start(run), ORV5_OK);
    ASSERT_EQ(timer_set(run, 100), ORV5_OK);
    std::atomic<uint8_t> elsewhere{ORV5_E_ABORTED};   // another run's request
    (void)elsewhere;
    EXPECT_EQ(stop_code(run), ORV5_OK);

    abort_a.store(ORV5_E_ABORTED);
    EXPECT_EQ(stop_code(run), ORV5_E_ABORTED);
    uint64_t before = sim::now_ms();
    pump_wait(run, PLAT_PORT_INVALID);
    EXPECT_EQ(sim::now_ms(), before) << "a stopped run's wait slept";

    // The process's request reaches a run that points to it.
    std::atomic<uint8_t> &process = process_abort_request();
    process.store(0);
    SessionRun linked;
    run_begin(linked, nullptr, nullptr, process);
    EXPECT_EQ(stop_code(linked), ORV5_OK);
    request_abort();
    EXPECT_EQ(stop_code(linked), ORV5_E_ABORTED);
    process.store(0);
}

TEST_F(Runtime, TheAbortButtonSetsTheRunsRequest)
{
    SessionSettings s{};
    ASSERT_TRUE(progress_open(run, s));
    ASSERT_TRUE(sim::click_abort());
    EXPECT_EQ(abort_a.load(), ORV5_E_ABORTED);
    EXPECT_EQ(stop_code(run), ORV5_E_ABORTED);
    progress_close(run);
    EXPECT_FALSE(sim::click_abort()) << "the closed window still reaches the run";
}

TEST_F(Runtime, ATimerThatCannotBeArmedStopsTheRunWith74)
{
    ASSERT_EQ(timer_start(run), ORV5_OK);
    ASSERT_EQ(timer_set(run, 50), ORV5_OK);
    sim::timer_faults().arm_fails = true;
    EXPECT_EQ(timer_set(run, 50), ORV5_E_TIMER);
    EXPECT_FALSE(timer_expired(run)) << "a failed arm changed the flags";
    EXPECT_EQ(stop_code(run), ORV5_E_TIMER);
    // An abort asked for meanwhile is still told as such.
    abort_a.store(ORV5_E_ABORTED);
    EXPECT_EQ(stop_code(run), ORV5_E_ABORTED);
    sim::timer_faults().arm_fails = false;
}

TEST_F(Runtime, FailedWritesInARowMeanThePortIsGone)
{
    ASSERT_EQ(com_open(ch, 3, LINE_9600), 0);
    const uint8_t enq[4] = {0x10, 0x05, 0, 0};
    sim::faults().write_fails = true;
    for (uint32_t i = 1; i < COM_GONE_AFTER_FAILURES; ++i) {
        transmit(run, ch, sizeof enq, enq);
        EXPECT_FALSE(port_gone(run, ch)) << "gone after " << i << " failed writes";
    }
    // A write that goes through forgives the failures before it.
    sim::faults().write_fails = false;
    transmit(run, ch, sizeof enq, enq);
    sim::faults().write_fails = true;
    for (uint32_t i = 1; i < COM_GONE_AFTER_FAILURES; ++i)
        transmit(run, ch, sizeof enq, enq);
    EXPECT_FALSE(port_gone(run, ch));
    transmit(run, ch, sizeof enq, enq);
    EXPECT_TRUE(port_gone(run, ch));
    sim::faults().write_fails = false;
    EXPECT_EQ(sim::writes().size(), 1u);
}

TEST_F(Runtime, TransmitSleepsTheTurnaroundDelayFirst)
{
    ASSERT_EQ(com_open(ch, 3, LINE_9600), 0);
    run.turnaround_ms = 40;
    uint64_t sent_at = 0;
    sim::set_peer([&](const uint8_t *, size_t) { sent_at = sim::now_ms(); });
    const uint8_t ack[4] = {0x10, 0x06, 0, 0};
    transmit(run, ch, sizeof ack, ack);
    EXPECT_EQ(sent_at, 40u);
    EXPECT_EQ(sim::slept_ms(), 40u);
}

}   // namespace
