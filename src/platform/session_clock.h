// session_clock.h - the session timer and the message pump of the platform.
//
// A session has one timer, kept in its PlatClock.  Arming it replaces the
// previous one; the platform calls tick(context) from inside
// plat_pump_messages() or plat_pump_wait() of that clock each time an
// interval has elapsed.  No clock is read by
// the portable code: every time-out is counted in these ticks.
#pragma once

#include <cstddef>
#include <cstdint>
#include "platform/serial_port.h"

struct PlatDisplay;   // progress_window.h

// Room for a backend's record of one session timer, bytes (the Win32
// window, identifier and callback are the largest).
constexpr size_t PLAT_CLOCK_STATE_SIZE = 64;

// The session's timer, in storage the session owns (its run-time record
// keeps one), so that no backend keeps a session's timer in globals.  A
// value-initialised object has no timer; it is not copied while a timer
// runs (the platform may hold its address).
struct PlatClock {
    alignas(8) unsigned char state[PLAT_CLOCK_STATE_SIZE];   // the backend's record
    // The session's progress display, serviced by the pump where the
    // platform draws it from there (the terminal's status line); may be null.
    PlatDisplay *display;
};

// The backend's record inside a clock object; all zero means no timer.
template <typename T> T &plat_clock_state(PlatClock &clock)
{
    static_assert(sizeof(T) <= PLAT_CLOCK_STATE_SIZE, "clock record too large");
    static_assert(alignof(T) <= 8, "clock record over-aligned");
    return *reinterpret_cast<T *>(clock.state);
}

// The timer's callback, given the context passed to plat_timer_arm.
using plat_tick_fn = void (*)(void *context);

// (Re)creates the session timer of clock with the given interval (ms).
// owner is the host's window (Win32; null gives a thread timer).  tick is
// called with context from inside the pump of this clock.  False on failure.
bool plat_timer_arm(PlatClock &clock, void *owner, uint32_t interval_ms, plat_tick_fn tick,
                    void *context);

// Destroys the session timer of clock.  False on failure (none running).
bool plat_timer_kill(PlatClock &clock);

// Dispatches every pending message (and a due tick of clock's timer).
// Never blocks.
void plat_pump_messages(PlatClock &clock);

// Like plat_pump_messages, but first sleeps while nothing is pending: until
// input is waiting on port, the timer is due, a message arrives or
// plat_wake() is called.  Used by the waiting loops when no byte is
// waiting, so they never spin.  It may return early with nothing done
// (callers loop).  On Win32, while input is watched, a message or a
// wake-up is noticed within one read slice of 10 ms.
void plat_pump_wait(PlatClock &clock, plat_port port);

// Wakes a plat_pump_wait at once (on Win32 within a port wait's slice).
// Async-signal-safe and callable from any thread (AbortOrv5): it knows no
// session, so the means of waking is the platform's one for the process.
void plat_wake();

// Sleeps ms milliseconds (turnaround delay, drain wait).
void plat_sleep_ms(uint32_t ms);

// A monotonic clock in milliseconds from an arbitrary origin, for time
// stamps in diagnostics only: protocol time-outs are counted in ticks.
uint64_t plat_clock_ms();

// The protocol state the session has entered (its name, e.g. "S251" or
// "DS261"), for diagnostics only: a platform may keep it to name where a
// session stood when it hung, or ignore it.  name is a string literal.
void plat_note_state(const char *name);
