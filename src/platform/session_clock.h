// session_clock.h - the session timer and the message pump of the platform.
//
// There is one session timer.  Arming it replaces the previous one; the
// platform calls tick() from inside plat_pump_messages() or
// plat_pump_wait() each time an interval has elapsed.  No clock is read by
// the portable code: every time-out is counted in these ticks.
#pragma once

#include <cstdint>
#include "platform/serial_port.h"

using plat_tick_fn = void (*)();

// (Re)creates the session timer with the given interval (ms).  owner is the
// host's window (Win32; null gives a thread timer).  False on failure.
bool plat_timer_arm(void *owner, uint32_t interval_ms, plat_tick_fn tick);

// Destroys the session timer.  False on failure.
bool plat_timer_kill();

// Dispatches every pending message (and due timer tick).  Never blocks.
void plat_pump_messages();

// Like plat_pump_messages, but first sleeps while nothing is pending: until
// input is waiting on port, the timer is due, a message arrives or
// plat_wake() is called.  Used by the waiting loops when no byte is
// waiting, so they never spin.  It may return early with nothing done
// (callers loop).  On Win32, while input is watched, a message or a
// wake-up is noticed within one read slice of 10 ms.
void plat_pump_wait(plat_port port);

// Wakes a plat_pump_wait at once (on Win32 within a port wait's slice).  Async-signal-safe and callable from any
// thread (AbortOrv5).
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
