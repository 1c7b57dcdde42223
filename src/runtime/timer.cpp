// timer.cpp - the session timer, the stop request, the pump wrappers and
// transmissions.
#include "runtime/timer.h"

#include "link/serial.h"
#include "platform/session_clock.h"

namespace {

constexpr uint8_t ABORT_REQUESTED = ORV5_E_ABORTED;

// The abort request.  Process-wide because AbortOrv5 sets it from another
// thread or a signal handler, which know no session; the running session's
// record points to it.  A lock-free atomic for the same reason.
std::atomic<uint8_t> abort_request{0};

Orv5Result arm(SessionRun &run, uint32_t interval_ms)
{
    if (plat_timer_arm(run.clock, run.timer.owner, interval_ms, timer_tick, &run))
        return ORV5_OK;
    return ORV5_E_TIMER;
}

}   // namespace

std::atomic<uint8_t> &process_abort_request() { return abort_request; }

void timer_tick(void *context)
{
    SessionRun &run = *static_cast<SessionRun *>(context);
    if (run.timer.armed)
        run.timer.expired = true;
}

Orv5Result timer_start(SessionRun &run)
{
    run.timer = TimerState{};
    run.timer.owner = run.owner_window;
    return arm(run, TIMER_IDLE_MS);
}

Orv5Result timer_set(SessionRun &run, uint32_t ticks)
{
    Orv5Result rc;
    if (ticks == 0) {
        run.timer.armed = false;
        run.timer.expired = true;
        rc = arm(run, TIMER_IDLE_MS);
    } else {
        rc = arm(run, ticks * TICK_MS);   // flags left as they were on failure
        if (rc == ORV5_OK) {
            run.timer.expired = false;
            run.timer.armed = true;
        }
    }
    if (rc != ORV5_OK)
        run.timer.failed = true;
    return rc;
}

Orv5Result timer_stop(SessionRun &run)
{
    return plat_timer_kill(run.clock) ? ORV5_OK : ORV5_E_TIMER;
}

bool timer_expired(const SessionRun &run) { return run.timer.expired; }

Orv5Result stop_code(const SessionRun &run)
{
    if (run.abort_request != nullptr && run.abort_request->load(std::memory_order_relaxed) != 0)
        return ORV5_E_ABORTED;
    return run.timer.failed ? ORV5_E_TIMER : ORV5_OK;
}

void turnaround_wait(const SessionRun &run)
{
    if (run.turnaround_ms > 0)
        plat_sleep_ms(static_cast<uint32_t>(run.turnaround_ms));
}

void transmit(SessionRun &run, SerialChannel &ch, int length, const void *bytes)
{
    turnaround_wait(run);
    if (com_write(ch, length, bytes) < 0)
        ++run.failed_writes;
    else
        run.failed_writes = 0;
}

bool port_gone(const SessionRun &run, const SerialChannel &ch)
{
    return com_line_gone(ch) || run.failed_writes >= COM_GONE_AFTER_FAILURES;
}

void pump_messages(SessionRun &run) { plat_pump_messages(run.clock); }

void pump_wait(SessionRun &run, plat_port port)
{
    // Nothing to sleep for when the loop has something to act on already.
    // A disarmed timer reads as expired but is nothing to act on (-L0
    // waits for the terminal without limit): sleep then as well.
    if (stop_code(run) != ORV5_OK || (run.timer.armed && run.timer.expired))
        return plat_pump_messages(run.clock);
    plat_pump_wait(run.clock, port);
}

void request_abort()
{
    abort_request.store(ABORT_REQUESTED, std::memory_order_relaxed);
    plat_wake();
}

void run_request_abort(SessionRun &run)
{
    if (run.abort_request != nullptr)
        run.abort_request->store(ABORT_REQUESTED, std::memory_order_relaxed);
    plat_wake();
}
