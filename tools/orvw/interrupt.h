// interrupt.h - stopping orvw: Ctrl-C and SIGTERM on POSIX; Ctrl-C,
// Ctrl-Break and closing the console on Windows.
//
// A request aborts the running session (it tells the terminal EOT and ends
// with 90) and marks the process as stopping, which ends the collecting
// station between sessions.  An abort that lands in the instant between
// two sessions would be forgotten by the next one, so the request is
// repeated every second until the process ends.
#pragma once

void install_interrupt_handlers();

// True once a stop was requested.
bool stop_requested();

// Sleeps ms milliseconds, less when a stop is requested meanwhile.
void sleep_unless_stopped(int ms);
