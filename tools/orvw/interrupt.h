// interrupt.h - stopping orvw: Ctrl-C, SIGTERM, SIGQUIT and SIGHUP (a
// closed terminal, a dropped remote login) on POSIX; Ctrl-C, Ctrl-Break,
// closing the console and shutdown on Windows.  A SIGHUP that was ignored
// when orvw started (nohup) stays ignored; so does a logoff, which Windows
// announces only to services, whoever logs off.
//
// A request aborts the running session (it tells the terminal EOT and ends
// with 90) and marks the process as stopping, which ends the collecting
// station between sessions.  An abort that lands in the instant between
// two sessions would be forgotten by the next one, so the request is
// repeated every second until the process ends.  On Windows the console's
// close and shutdown events end the process when their handler returns,
// so the handler holds them (for at most 4.5 s of Windows' 5) until orvw
// has finished and flushed its output.
#pragma once

void install_interrupt_handlers();

// True once a stop was requested.
bool stop_requested();

// Sleeps ms milliseconds, less when a stop is requested meanwhile.
void sleep_unless_stopped(int ms);
