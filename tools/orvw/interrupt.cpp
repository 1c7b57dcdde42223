// interrupt.cpp - stop requests from signals or the console.
//
// The stop flag is process-wide because a signal handler can reach
// nothing else.
#include "interrupt.h"

#include <csignal>
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
// How often and how far apart the console handler repeats the abort.
constexpr int REPEAT_ABORTS = 20;
constexpr DWORD REPEAT_EVERY_MS = 100;

BOOL WINAPI console_handler(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    stop_flag = 1;
    // This handler runs on a thread of its own: it can repeat the request
    // while the main thread finishes its session.
    for (int i = 0; i < REPEAT_ABORTS; ++i) {
        AbortOrv5();
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

void sleep_ms(int ms)
{
    struct timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    nanosleep(&ts, nullptr);   // a signal cuts it short, which is wanted
}
#endif

}  // namespace

void install_interrupt_handlers()
{
#if defined(_WIN32)
    SetConsoleCtrlHandler(console_handler, TRUE);
#else
    handle(SIGINT, on_stop_signal);
    handle(SIGTERM, on_stop_signal);
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
