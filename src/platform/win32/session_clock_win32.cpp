// session_clock_win32.cpp - the session timer and the message pump on Win32.
//
// The timer is a user timer whose WM_TIMER is dispatched by the pump to
// timer_proc: identifier 1 on the host's window, or a thread timer when the
// host gave no window.
#include "platform/session_clock.h"

#include <windows.h>

namespace {

constexpr UINT_PTR SESSION_TIMER_ID = 1;   // on the owner window

HWND timer_window = nullptr;   // window the timer belongs to (null: thread timer)
UINT_PTR timer_id = 0;         // identifier of the live timer, 0 = none
plat_tick_fn tick_fn = nullptr;

void CALLBACK timer_proc(HWND, UINT, UINT_PTR, DWORD)
{
    if (tick_fn)
        tick_fn();
}

}  // namespace

bool plat_timer_arm(void *owner, uint32_t interval_ms, plat_tick_fn tick)
{
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

void plat_pump_wait(plat_port)
{
    // The waiting loops poll: a timed wait here would be rounded up to the
    // system timer period (about 15 ms) and add that to every answer the
    // terminal gives.  Giving up the rest of the time slice keeps the
    // transfer at full speed and lets other ready threads run.
    plat_pump_messages();
    Sleep(0);
}

void plat_wake()
{
    // Nothing sleeps in plat_pump_wait, so there is nothing to wake.
}

void plat_sleep_ms(uint32_t ms)
{
    Sleep(ms);
}
