// timer.cpp - the session timer, the abort flag and the pump wrappers.
#include "runtime/timer.h"

#include "orv5w32.h"

#include "platform/session_clock.h"

std::atomic<uint8_t> abort_code{0};
volatile uint8_t timer_armed = 0;
volatile uint8_t timer_expired = 1;

// The window the session timer belongs to, kept from timer_start so that
// every re-arm replaces the same timer.
static void *timer_owner;

constexpr uint8_t ABORT_REQUESTED = ORV5_E_ABORTED;

void timer_tick()
{
    if (timer_armed > 0)
        timer_expired = 1;
}

int timer_start(void *owner)
{
    timer_owner = owner;
    timer_expired = 1;
    timer_armed = 0;
    return plat_timer_arm(timer_owner, TIMER_IDLE_MS, timer_tick) ? 0 : ORV5_E_TIMER;
}

int timer_set(uint32_t ticks)
{
    if (ticks == 0) {
        timer_armed = 0;
        timer_expired = 1;
        return plat_timer_arm(timer_owner, TIMER_IDLE_MS, timer_tick) ? 0 : ORV5_E_TIMER;
    }
    if (!plat_timer_arm(timer_owner, ticks * TICK_MS, timer_tick))
        return ORV5_E_TIMER;   // flags left as they were
    timer_expired = 0;
    timer_armed = 1;
    return 0;
}

int timer_stop()
{
    return plat_timer_kill() ? 0 : ORV5_E_TIMER;
}

void turnaround_wait(int32_t delay_ms)
{
    if (delay_ms > 0)
        plat_sleep_ms(static_cast<uint32_t>(delay_ms));
}

void pump_messages()
{
    plat_pump_messages();
}

void pump_wait(plat_port port)
{
    // Nothing to sleep for when the loop has something to act on already.
    // A disarmed timer reads as expired but is nothing to act on (-L0
    // waits for the terminal without limit): sleep then as well.
    if (abort_code.load(std::memory_order_relaxed) != 0 || (timer_armed && timer_expired))
        return plat_pump_messages();
    plat_pump_wait(port);
}

void request_abort()
{
    abort_code.store(ABORT_REQUESTED, std::memory_order_relaxed);
    plat_wake();
}
