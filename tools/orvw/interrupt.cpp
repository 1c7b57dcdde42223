// interrupt.cpp - stop requests from signals or the console.
//
// The stop flag is process-wide because a signal handler can reach
// nothing else.
#include "interrupt.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "orv5w32.h"

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <time.h>
#  include <unistd.h>
#endif

namespace {

volatile std::sig_atomic_t stop_flag = 0;

// Steps of the sleep between two looks at the stop flag, milliseconds.
constexpr int SLEEP_STEP_MS = 50;

#if defined(_WIN32)
// How far apart the console handler repeats the abort, ms.
constexpr DWORD REPEAT_EVERY_MS = 100;

// How long the handler repeats it after Ctrl-C or Ctrl-Break, ms.  The
// process goes on when the handler returns, so this only covers the gap
// between two sessions.
constexpr DWORD KEYBOARD_HOLD_MS = 2000;

// How long the handler holds a closing console or a shutdown, ms.  Windows ends the process as soon
// as the handler returns from these events, and on its own after about 5 s: the session must have
// told the terminal EOT and removed its partial file before either.
constexpr DWORD CLOSING_HOLD_MS = 4500;

// Set (manual reset) once the program has finished its work and flushed
// its output; created before the handler is installed.
HANDLE finished_event = nullptr;

void note_finished()
{
    std::fflush(nullptr);
    if (finished_event != nullptr)
        SetEvent(finished_event);
}

BOOL WINAPI console_handler(DWORD event)
{
    DWORD hold_ms = 0;
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: hold_ms = KEYBOARD_HOLD_MS; break;
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT: hold_ms = CLOSING_HOLD_MS; break;
    case CTRL_LOGOFF_EVENT:
        // Windows sends it only to programs run as services, when any user
        // logs off, not necessarily the one they run for: a station run as
        // a service goes on.  (Returning FALSE would let the default
        // handler end the process in the middle of a session.)
        return TRUE;
    default: return FALSE;
    }
    stop_flag = 1;
    // This handler runs on a thread of its own: it repeats the request
    // while the main thread ends its session, and returns once the program
    // has finished (its exit ends this thread too) or the hold is over.
    for (DWORD held = 0; held < hold_ms; held += REPEAT_EVERY_MS) {
        AbortOrv5();
        if (finished_event != nullptr &&
            WaitForSingleObject(finished_event, REPEAT_EVERY_MS) == WAIT_OBJECT_0)
            break;
        if (finished_event == nullptr)
            Sleep(REPEAT_EVERY_MS);
    }
    return TRUE;
}

void sleep_ms(int ms) { Sleep(static_cast<DWORD>(ms)); }
#else
// Seconds between repeated aborts after a stop request.
constexpr unsigned REPEAT_EVERY_S = 1;

extern "C" void on_stop_signal(int)
{
    stop_flag = 1;
    AbortOrv5();
    alarm(REPEAT_EVERY_S);
}

extern "C" void on_repeat_alarm(int)
{
    if (stop_flag != 0) {
        AbortOrv5();
        alarm(REPEAT_EVERY_S);
    }
}

void handle(int sig, void (*fn)(int))
{
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = fn;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;   // no SA_RESTART: a sleeping wait returns at once
    sigaction(sig, &sa, nullptr);
}

// Like handle(), but a signal that the process was started with ignored
// stays ignored: "nohup orvw --collect ..." must outlive the session that
// started it.
void handle_unless_ignored(int sig, void (*fn)(int))
{
    struct sigaction old;
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
        return;
    handle(sig, fn);
}

void sleep_ms(int ms)
{
    struct timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    nanosleep(&ts, nullptr);   // a signal cuts it short, which is wanted
}
#endif

}   // namespace

void install_interrupt_handlers()
{
#if defined(_WIN32)
    if (finished_event == nullptr) {
        finished_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        std::atexit(note_finished);
    }
    SetConsoleCtrlHandler(console_handler, TRUE);
#else
    // A closed terminal or a dropped remote login (SIGHUP) and SIGQUIT stop
    // a session like Ctrl-C and SIGTERM: the terminal is told EOT and no
    // partial file stays behind.
    handle(SIGINT, on_stop_signal);
    handle(SIGTERM, on_stop_signal);
    handle(SIGQUIT, on_stop_signal);
    handle_unless_ignored(SIGHUP, on_stop_signal);
    handle(SIGALRM, on_repeat_alarm);
#endif
}

bool stop_requested() { return stop_flag != 0; }

void sleep_unless_stopped(int ms)
{
    while (ms > 0 && !stop_requested()) {
        int step = ms < SLEEP_STEP_MS ? ms : SLEEP_STEP_MS;
        sleep_ms(step);
        ms -= step;
    }
}
