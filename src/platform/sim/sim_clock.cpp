// sim_clock.cpp - virtual time, the session timer and the pump.
#include <algorithm>
#include <chrono>
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

// Virtual time and what the tests observe of the session timers.  The
// timers themselves live in the sessions' PlatClock objects (SimTimer).
struct Clock {
    uint64_t now = 0;
    int timers = 0;          // timers running (armed and not killed)
    uint32_t interval = 0;   // interval of the timer armed last, ms
    std::multimap<uint64_t, std::function<void()>> actions;
    std::function<void()> pump_hook;
    TimerFaults faults;
    int arms = 0;
    uint64_t slept = 0;
};
// Virtual time; not "clock", which <ctime> takes.  One per process, like
// the line: the tests script it without a session at hand.
Clock vclock;

// One session timer: the record in a PlatClock.  All zero is no timer.
struct SimTimer {
    bool on;
    uint32_t interval;   // ms
    uint64_t deadline;   // virtual ms of the next tick
    plat_tick_fn tick;
    void *context;
};

// The hang watch; kept across reset(), which only starts a new virtual clock.
struct Watch {
    bool on = false;
    HangWatch caps;
    uint64_t start_ms = 0;   // virtual, at the port's opening
    std::chrono::steady_clock::time_point start_wall;
    uint64_t still = 0;     // pumps since virtual time moved
    bool tripped = false;   // on_hang was called this session
    std::string report;     // every hung session's, one a line
    std::string last;       // this session's
    const char *state = "";
};
Watch watch;

uint64_t wall_ms_of_session()
{
    auto d = std::chrono::steady_clock::now() - watch.start_wall;
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

[[noreturn]] void stop_hung_run(const std::string &why)
{
    std::fprintf(stderr, "sim: %s\n", why.c_str());
    std::fflush(stderr);
    std::abort();
}

// Looks at the caps while a session runs; the second, doubled caps apply
// once the session has been asked to end.
void check_watch()
{
    if (!watch.on || !port_is_open())
        return;
    const uint64_t factor = watch.tripped ? 2 : 1;
    const uint64_t virt = vclock.now - watch.start_ms;
    const uint64_t wall = wall_ms_of_session();
    char why[160];
    if (virt > factor * watch.caps.virtual_ms)
        std::snprintf(why, sizeof why, "virtual time passed %.1f s",
                      watch.caps.virtual_ms / 1000.0);
    else if (wall > factor * watch.caps.wall_ms)
        std::snprintf(why, sizeof why, "real time passed %.1f s", watch.caps.wall_ms / 1000.0);
    else if (watch.still > factor * watch.caps.still_pumps)
        std::snprintf(why, sizeof why, "virtual time stood still for %llu pumps",
                      static_cast<unsigned long long>(watch.still));
    else
        return;
    const std::string state = *watch.state != '\0' ? watch.state : "(none yet)";
    char when[120];
    std::snprintf(when, sizeof when, " (after %.3f s of virtual time, %.1f s real time)",
                  virt / 1000.0, wall / 1000.0);
    if (watch.tripped)
        stop_hung_run(watch.last + "; it did not end when asked to, still in state " + state);
    watch.tripped = true;
    watch.last = "the session hung in protocol state " + state + ": " + why + when;
    if (!watch.caps.on_hang)
        stop_hung_run(watch.last);
    watch.report += (watch.report.empty() ? "" : "\n") + watch.last;
    watch.caps.on_hang();
}

// The instant the watch's virtual cap passes: a wait jumps no further, so
// that a hang is seen when it happens, not at the next event.
uint64_t watch_deadline()
{
    if (!watch.on || !port_is_open())
        return UINT64_MAX;
    return watch.start_ms + (watch.tripped ? 2 : 1) * watch.caps.virtual_ms + 1;
}

void advance_to(uint64_t t)
{
    if (t > vclock.now) {
        vclock.now = t;
        watch.still = 0;
    }
    if (vclock.now > HANG_LIMIT_MS) {
        std::fprintf(stderr, "sim: virtual time ran past 48 hours: the code under test hangs\n");
        std::abort();
    }
    check_watch();
}

void run_due_actions()
{
    while (!vclock.actions.empty() && vclock.actions.begin()->first <= vclock.now) {
        auto fn = vclock.actions.begin()->second;
        vclock.actions.erase(vclock.actions.begin());
        fn();
    }
}
}   // namespace

void reset_clock() { vclock = Clock(); }
uint64_t now_ms() { return vclock.now; }
void at(uint64_t at_ms, std::function<void()> fn) { vclock.actions.emplace(at_ms, std::move(fn)); }
void on_pump(std::function<void()> fn) { vclock.pump_hook = std::move(fn); }
bool timer_exists() { return vclock.timers > 0; }
uint32_t timer_interval_ms() { return vclock.interval; }
TimerFaults &timer_faults() { return vclock.faults; }
uint64_t slept_ms() { return vclock.slept; }

void watch_for_hangs(const HangWatch &caps)
{
    watch.on = true;
    watch.caps = caps;
}
void stop_watching_for_hangs() { watch.on = false; }
const std::string &hang_report() { return watch.report; }
void clear_hang_report() { watch.report.clear(); }
std::string protocol_state() { return watch.state; }

void session_started()
{
    watch.start_ms = vclock.now;
    watch.start_wall = std::chrono::steady_clock::now();
    watch.still = 0;
    watch.tripped = false;
    watch.state = "";
}

}   // namespace sim

using namespace sim;

bool plat_timer_arm(PlatClock &clock, void *, uint32_t interval_ms, plat_tick_fn tick,
                    void *context)
{
    ++vclock.arms;
    if (vclock.faults.arm_fails ||
        (vclock.faults.arm_fails_after >= 0 && vclock.arms > vclock.faults.arm_fails_after))
        return false;
    SimTimer &t = plat_clock_state<SimTimer>(clock);
    if (!t.on)
        ++vclock.timers;
    t.on = true;
    t.interval = interval_ms;
    t.deadline = vclock.now + interval_ms;
    t.tick = tick;
    t.context = context;
    vclock.interval = interval_ms;
    return true;
}

bool plat_timer_kill(PlatClock &clock)
{
    SimTimer &t = plat_clock_state<SimTimer>(clock);
    bool had = t.on;
    if (had)
        --vclock.timers;
    t = SimTimer{};
    return had;
}

void plat_pump_messages(PlatClock &clock)
{
    ++watch.still;
    check_watch();
    run_due_actions();
    SimTimer &t = plat_clock_state<SimTimer>(clock);
    if (t.on && vclock.now >= t.deadline) {
        t.deadline = vclock.now + t.interval;
        t.tick(t.context);
    }
    if (vclock.pump_hook)
        vclock.pump_hook();
}

void plat_pump_wait(PlatClock &clock, plat_port port)
{
    // Input wakes the wait only when the caller watches the port.
    bool watch_port = plat_port_is_open(port);
    if (!watch_port || !port->ops->input_ready(*port)) {
        // Jump to the earliest of: next byte, timer tick, scheduled action.
        uint64_t next = UINT64_MAX, t;
        if (watch_port && next_arrival(&t))
            next = std::min(next, t);
        const SimTimer &timer = plat_clock_state<SimTimer>(clock);
        if (timer.on)
            next = std::min(next, timer.deadline);
        if (!vclock.actions.empty())
            next = std::min(next, vclock.actions.begin()->first);
        next = std::min(next, watch_deadline());
        // A failing port rests the wait briefly, as a hung-up device does.
        if (watch_port && faults().read_fails)
            next = std::min(next, vclock.now + HUNG_UP_REST_MS);
        advance_to(next == UINT64_MAX ? vclock.now + IDLE_STEP_MS : next);
    }
    plat_pump_messages(clock);
}

void plat_wake() {}

void plat_sleep_ms(uint32_t ms)
{
    vclock.slept += ms;
    advance_to(vclock.now + ms);
}

uint64_t plat_clock_ms() { return vclock.now; }

void plat_note_state(const char *name) { watch.state = name; }
