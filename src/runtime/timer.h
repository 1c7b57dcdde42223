// timer.h - the session timer, the abort flag and the pump wrappers.
//
// Every protocol time-out is counted in ticks of 10 ms of the one session
// timer: timer_set(n) arms a time-out of n ticks and timer_expired turns 1
// when it has elapsed.  While disarmed, timer_expired reads 1.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/serial_port.h"

constexpr uint32_t TICK_MS = 10;            // one timer tick, ms
constexpr uint32_t TIMER_IDLE_MS = 65535;   // interval of the disarmed timer, ms

// Abort request: 0, or 90 once AbortOrv5 or the Abort button asked for it.
// Written from other threads and signal handlers, hence a lock-free atomic.
extern std::atomic<uint8_t> abort_code;

extern volatile uint8_t timer_armed;    // the timer measures a time-out
extern volatile uint8_t timer_expired;  // the time-out has elapsed (1 while disarmed)

// Creates the timer on the host's window owner (null: a thread timer).
int timer_start(void *owner);  // 0, or 74
int timer_set(uint32_t ticks);  // 0 disarms; 0, or 74
int timer_stop();         // 0, or 74
void timer_tick();        // the platform's timer callback

// Sleeps the turnaround delay (ms, option !), if any, before a transmission.
void turnaround_wait(int32_t delay_ms);

// Services the thread's message queue once; never blocks.
void pump_messages();

// For waiting loops with no byte waiting: sleeps until a byte arrives, the
// timer is due or an abort is requested, then pumps.
void pump_wait(plat_port port);

// Sets abort_code to 90 and wakes a sleeping pump_wait.
void request_abort();
