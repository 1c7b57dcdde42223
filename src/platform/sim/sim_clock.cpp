// sim_clock.cpp - virtual time, the session timer and the pump.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "platform/session_clock.h"
#include "platform/sim/sim_internal.h"

namespace sim {

namespace {
// A run that needs this much virtual time is hung, not slow: stop loudly.
constexpr uint64_t HANG_LIMIT_MS = 48ull * 3600 * 1000;
// Time that passes in a wait with nothing scheduled at all.
constexpr uint64_t IDLE_STEP_MS = 10;
// Rest of a wait on a failing port, ms (the POSIX layer's on a hang-up).
constexpr uint64_t HUNG_UP_REST_MS = 100;

struct Clock {
    uint64_t now = 0;
    bool timer = false;
    uint32_t interval = 0;
    uint64_t deadline = 0;
    plat_tick_fn tick = nullptr;
    std::multimap<uint64_t, std::function<void()>> actions;
    std::function<void()> pump_hook;
    TimerFaults faults;
    int arms = 0;
    uint64_t slept = 0;
};
Clock clock;

void advance_to(uint64_t t)
{
    if (t > clock.now)
        clock.now = t;
    if (clock.now > HANG_LIMIT_MS) {
        std::fprintf(stderr, "sim: virtual time ran past 48 hours: the code under test hangs\n");
        std::abort();
    }
}

void run_due_actions()
{
    while (!clock.actions.empty() && clock.actions.begin()->first <= clock.now) {
        auto fn = clock.actions.begin()->second;
        clock.actions.erase(clock.actions.begin());
        fn();
    }
}
}  // namespace

void reset_clock() { clock = Clock(); }
uint64_t now_ms() { return clock.now; }
void at(uint64_t at_ms, std::function<void()> fn) { clock.actions.emplace(at_ms, std::move(fn)); }
void on_pump(std::function<void()> fn) { clock.pump_hook = std::move(fn); }
bool timer_exists() { return clock.timer; }
uint32_t timer_interval_ms() { return clock.interval; }
TimerFaults &timer_faults() { return clock.faults; }
uint64_t slept_ms() { return clock.slept; }

}  // namespace sim

using namespace sim;

bool plat_timer_arm(void *, uint32_t interval_ms, plat_tick_fn tick)
{
    ++clock.arms;
    if (clock.faults.arm_fails ||
        (clock.faults.arm_fails_after >= 0 && clock.arms > clock.faults.arm_fails_after))
        return false;
    clock.timer = true;
    clock.interval = interval_ms;
    clock.deadline = clock.now + interval_ms;
    clock.tick = tick;
    return true;
}

bool plat_timer_kill()
{
    bool had = clock.timer;
    clock.timer = false;
    return had;
}

void plat_pump_messages()
{
    run_due_actions();
    if (clock.timer && clock.now >= clock.deadline) {
        clock.deadline = clock.now + clock.interval;
        clock.tick();
    }
    if (clock.pump_hook)
        clock.pump_hook();
}

void plat_pump_wait(plat_port port)
{
    // Input wakes the wait only when the caller watches the port.
    if (port == PLAT_PORT_INVALID || !input_waiting()) {
        // Jump to the earliest of: next byte, timer tick, scheduled action.
        uint64_t next = UINT64_MAX, t;
        if (port != PLAT_PORT_INVALID && next_arrival(&t))
            next = std::min(next, t);
        if (clock.timer)
            next = std::min(next, clock.deadline);
        if (!clock.actions.empty())
            next = std::min(next, clock.actions.begin()->first);
        // A failing port rests the wait briefly, as a hung-up device does.
        if (port != PLAT_PORT_INVALID && faults().read_fails)
            next = std::min(next, clock.now + HUNG_UP_REST_MS);
        advance_to(next == UINT64_MAX ? clock.now + IDLE_STEP_MS : next);
    }
    plat_pump_messages();
}

void plat_wake() {}

void plat_sleep_ms(uint32_t ms)
{
    clock.slept += ms;
    advance_to(clock.now + ms);
}

uint64_t plat_clock_ms()
{
    return clock.now;
}
