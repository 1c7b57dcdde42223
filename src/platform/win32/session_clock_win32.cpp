// session_clock_win32.cpp - the session timer and the message pump on Win32.
//
// The timer is a user timer whose WM_TIMER is dispatched by the pump to
// timer_proc: identifier 1 on the host's window, or a thread timer when the
// host gave no window.
//
// A waiting loop sleeps in plat_pump_wait.  With a port to watch it sleeps
// in a one-byte read of the port, which returns when a byte arrives or
// after WIN32_READ_SLICE_MS (win32_port.h); the port handle stays
// synchronous, as the plug-ins need it.  Without one it sleeps in
// MsgWaitForMultipleObjectsEx until a message (a timer tick is one) or a
// plat_wake.
#include "platform/session_clock.h"
#include "platform/win32/win32_port.h"

#include <windows.h>

namespace {

constexpr UINT_PTR SESSION_TIMER_ID = 1;   // on the owner window

// Longest sleep without a port, ms: a lost wake-up costs no more.
constexpr DWORD IDLE_WAIT_MS = 1000;

// The session timer.  Process-wide because a process runs one session at
// a time (the nested-call guard of ExecOrv5), whose timer this is, and the
// session's timer flags that the protocol code reads (session/timer.cpp)
// are process-wide as well; no port state is kept here.
HWND timer_window = nullptr;   // window the timer belongs to (null: thread timer)
UINT_PTR timer_id = 0;         // identifier of the live timer, 0 = none
plat_tick_fn tick_fn = nullptr;

// Auto-reset event set by plat_wake; created once, kept for the life of
// the process: plat_wake carries the abort request from other threads and
// console handlers, which know no session or port.
HANDLE wake_event = nullptr;

HANDLE ensure_wake_event()
{
    if (wake_event == nullptr) {
        HANDLE ev = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (InterlockedCompareExchangePointer(&wake_event, ev, nullptr) != nullptr)
            CloseHandle(ev);   // another thread was first
    }
    return wake_event;
}

LARGE_INTEGER counter_frequency()
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
}

void CALLBACK timer_proc(HWND, UINT, UINT_PTR, DWORD)
{
    if (tick_fn)
        tick_fn();
}

}  // namespace

bool plat_timer_arm(void *owner, uint32_t interval_ms, plat_tick_fn tick)
{
    // Made before any waiting loop, so that a plat_wake always finds it.
    ensure_wake_event();
    HWND wnd = static_cast<HWND>(owner);
    // A timer left on another window (the owner changed) would outlive us.
    if (timer_id != 0 && wnd != timer_window)
        plat_timer_kill();
    tick_fn = tick;
    UINT_PTR id;
    if (wnd != nullptr) {
        // Same identifier on the same window replaces the timer.
        id = SetTimer(wnd, SESSION_TIMER_ID, interval_ms, timer_proc) ? SESSION_TIMER_ID : 0;
    } else {
        // A thread timer is replaced by passing its identifier back.
        id = SetTimer(nullptr, timer_id, interval_ms, timer_proc);
    }
    if (id == 0)
        return false;
    timer_window = wnd;
    timer_id = id;
    return true;
}

bool plat_timer_kill()
{
    if (timer_id == 0)
        return false;
    BOOL ok = KillTimer(timer_window, timer_id);
    timer_id = 0;
    timer_window = nullptr;
    return ok != 0;
}

void plat_pump_messages()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
        // Consumes a quit message without passing it on.
        if (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

void plat_pump_wait(plat_port port)
{
    // The callers have just pumped, and look at the abort request before
    // they wait: every call here costs a trip to the window system under
    // some platforms, so nothing is asked twice.
    if (plat_port_is_open(port) && port->ops->wait_input != nullptr) {
        port->ops->wait_input(*port);   // messages wait for the slice's end
    } else {
        HANDLE ev = ensure_wake_event();
        if (ev != nullptr)
            MsgWaitForMultipleObjectsEx(1, &ev, IDLE_WAIT_MS, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        else
            Sleep(1);   // no event could be made: a short nap instead of a spin
    }
    plat_pump_messages();
}

void plat_wake()
{
    HANDLE ev = wake_event;
    if (ev != nullptr)
        SetEvent(ev);
}

void plat_sleep_ms(uint32_t ms)
{
    Sleep(ms);
}

uint64_t plat_clock_ms()
{
    static const LARGE_INTEGER freq = counter_frequency();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<uint64_t>(now.QuadPart / (freq.QuadPart / 1000));
}

// Nothing here watches the protocol's states.
void plat_note_state(const char *) {}
