// timer.h - the session timer, the stop request, the pump wrappers and
// transmissions, all on the session's run-time record.
//
// Every protocol time-out is counted in ticks of 10 ms of the session
// timer: timer_set(run, n) arms a time-out of n ticks and
// timer_expired(run) turns true when it has elapsed.  While disarmed,
// timer_expired reads true.
#pragma once

#include <atomic>
#include <cstdint>

#include "orv5w32.h"
#include "platform/serial_port.h"
#include "runtime/session_run.h"

struct SerialChannel;

constexpr uint32_t TICK_MS = 10;            // one timer tick, ms
constexpr uint32_t TIMER_IDLE_MS = 65535;   // interval of the disarmed timer, ms

// Creates the timer on the run's owner window (null: a thread timer).
[[nodiscard]] Orv5Result timer_start(SessionRun &run);   // ORV5_OK, or ORV5_E_TIMER
// Arms a time-out of ticks (0 disarms).  ORV5_OK, or ORV5_E_TIMER: then the
// flags are left as they were and the run is stopped with ORV5_E_TIMER
// (stop_code), so that every wait ends at once instead of measuring a
// time-out nobody keeps.
[[nodiscard]] Orv5Result timer_set(SessionRun &run, uint32_t ticks);
[[nodiscard]] Orv5Result timer_stop(SessionRun &run);   // ORV5_OK, or ORV5_E_TIMER
bool timer_expired(const SessionRun &run);

// The platform's timer callback; context is the SessionRun.
void timer_tick(void *context);

// What ends the session's waits besides the terminal: ORV5_E_ABORTED once
// an abort was asked for, ORV5_E_TIMER once the timer could not be armed,
// else ORV5_OK.
[[nodiscard]] Orv5Result stop_code(const SessionRun &run);

// Sleeps the run's turnaround delay (ms, option !), if any.
void turnaround_wait(const SessionRun &run);

// Writes one transmission after the turnaround delay.  A write that fails
// counts toward port_gone: a port that takes no byte any more ends the
// session as its silence would, only sooner.
void transmit(SessionRun &run, SerialChannel &ch, int length, const void *bytes);

// True once the port is gone: COM_GONE_AFTER_FAILURES fetches or writes in
// a row failed.
bool port_gone(const SessionRun &run, const SerialChannel &ch);

// Services the thread's message queue once; never blocks.
void pump_messages(SessionRun &run);

// For waiting loops with no byte waiting: sleeps until a byte arrives, the
// timer is due or a stop is requested, then pumps.
void pump_wait(SessionRun &run, plat_port port);

// The process's abort request, which every run points to: 0, or 90 once
// AbortOrv5 asked for it.
std::atomic<uint8_t> &process_abort_request();

// Sets the process's abort request and wakes a sleeping pump_wait.
// Async-signal-safe.
void request_abort();

// Sets the abort request the run looks at (the Abort button) and wakes the pump.
void run_request_abort(SessionRun &run);
