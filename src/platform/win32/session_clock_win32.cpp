// session_clock_win32.cpp - the session timer and the message pump on Win32.
//
// The timer is a user timer on the host's window, or a thread timer when
// the host gave no window; the pump hands its WM_TIMER to the session's
// clock record.
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

// Longest sleep without a port, ms: a lost wake-up costs no more.
constexpr DWORD IDLE_WAIT_MS = 1000;

// The session timer: the record in the session's PlatClock.  All zero is no
// timer.  On a window the timer's identifier is the record's address, so
// that timer_proc finds the record from the message alone (a window's
// timer identifiers are the caller's to choose); a thread timer's
// identifier is the system's, and the pump hands its ticks to the record.
struct Win32Clock {
    HWND window;   // window the timer belongs to (null: thread timer)
    UINT_PTR id;   // identifier of the live timer, 0 = none
    plat_tick_fn tick;
    void *context;   // handed to tick
};

// Auto-reset event set by plat_wake; created once, kept for the life of
// the process, and so process-wide: plat_wake carries the abort request
// from other threads and console handlers, which know no session or port.
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

void tick(Win32Clock &c)
{
    if (c.tick != nullptr)
        c.tick(c.context);
}

// A window timer's tick, dispatched by any message loop that runs (the
// session's pump, or a modal loop while the progress window is dragged).
void CALLBACK timer_proc(HWND, UINT, UINT_PTR id, DWORD)
{
    tick(*reinterpret_cast<Win32Clock *>(id));
}

// True when msg is a tick of c's timer.
bool is_tick_of(const MSG &msg, const Win32Clock &c)
{
    return msg.message == WM_TIMER && c.id != 0 && msg.hwnd == c.window && msg.wParam == c.id;
}

}   // namespace

bool plat_timer_arm(PlatClock &clock, void *owner, uint32_t interval_ms, plat_tick_fn tick_fn,
                    void *context)
{
    // Made before any waiting loop, so that a plat_wake always finds it.
    ensure_wake_event();
    Win32Clock &c = plat_clock_state<Win32Clock>(clock);
    HWND wnd = static_cast<HWND>(owner);
    // A timer left on another window (the owner changed) would outlive us.
    if (c.id != 0 && wnd != c.window)
        plat_timer_kill(clock);
    UINT_PTR id;
    if (wnd != nullptr) {
        // Same identifier on the same window replaces the timer.
        UINT_PTR own = reinterpret_cast<UINT_PTR>(&c);
        id = SetTimer(wnd, own, interval_ms, timer_proc) ? own : 0;
    } else {
        // A thread timer is replaced by passing its identifier back; its
        // ticks reach the record through the pump.
        id = SetTimer(nullptr, c.id, interval_ms, nullptr);
    }
    if (id == 0)
        return false;
    c.window = wnd;
    c.id = id;
    c.tick = tick_fn;
    c.context = context;
    return true;
}

bool plat_timer_kill(PlatClock &clock)
{
    Win32Clock &c = plat_clock_state<Win32Clock>(clock);
    if (c.id == 0)
        return false;
    BOOL ok = KillTimer(c.window, c.id);
    // A tick already taken from the system and waiting in the queue would
    // reach timer_proc with the address of a record that may be gone by
    // the time the host dispatches it: take it out now.
    MSG msg;
    while (PeekMessageA(&msg, c.window, WM_TIMER, WM_TIMER, PM_NOREMOVE) && is_tick_of(msg, c))
        PeekMessageA(&msg, c.window, WM_TIMER, WM_TIMER, PM_REMOVE);
    c = Win32Clock{};
    return ok != 0;
}

void plat_pump_messages(PlatClock &clock)
{
    Win32Clock &c = plat_clock_state<Win32Clock>(clock);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
        // Consumes a quit message without passing it on.
        if (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            if (is_tick_of(msg, c)) {
                tick(c);
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

void plat_pump_wait(PlatClock &clock, plat_port port)
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
    plat_pump_messages(clock);
}

void plat_wake()
{
    HANDLE ev = wake_event;
    if (ev != nullptr)
        SetEvent(ev);
}

void plat_sleep_ms(uint32_t ms) { Sleep(ms); }

static LARGE_INTEGER counter_frequency()
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
}

uint64_t plat_clock_ms()
{
    // Asked each time: the frequency is fixed at boot and cheap to read.
    const LARGE_INTEGER freq = counter_frequency();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<uint64_t>(now.QuadPart / (freq.QuadPart / 1000));
}

// Nothing here watches the protocol's states.
void plat_note_state(const char *) {}
