// platform_check.cpp - the Win32 platform layer on its own, under Wine or
// Windows: timer, pump, progress dialog, plug-in loading, drives, and (with
// a COM number argument) a serial port.  Exit code 0 when every check held.
//
//   orv5_win_platform_check [com_number]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/fs.h"
#include "platform/library.h"
#include "platform/os_reason.h"
#include "platform/progress_window.h"
#include "platform/serial_port.h"
#include "platform/session_clock.h"

namespace {

int failures = 0;

#define CHECK(cond) \
  do { \
    if (!(cond)) { \
      std::printf("FAIL %s:%d: %s\n", __FILE__, __LINE__, #cond); \
      ++failures; \
    } \
  } while (0)

// The session's timer and display, as its run-time record keeps them.
PlatClock clock{};
PlatDisplay display{};

int ticks = 0;
// The tick's context is the counter it counts on.
void count_tick(void *context) { ++*static_cast<int *>(context); }

// What the portable progress code keeps for the window's callbacks: their
// context.
struct Shown {
    int aborts = 0;
    uint32_t done = 0;   // what the portable side would redraw on paint
    int32_t total = 0;
};
Shown shown;

void on_abort(void *context) { ++static_cast<Shown *>(context)->aborts; }
void on_paint(void *context)
{
    const Shown &s = *static_cast<Shown *>(context);
    if (s.total > 0)
        plat_progress_show_bar(display, s.done, s.total, "");
}
const ProgressCallbacks CALLBACKS = {on_abort, on_paint, &shown};

DWORD WINAPI wake_later(LPVOID)
{
    Sleep(50);
    plat_wake();
    return 0;
}

// Pumps for about ms milliseconds, as a waiting loop would.
void pump_for(DWORD ms)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        plat_pump_messages(clock);
        Sleep(1);
    }
}

const COLORREF WHITE = RGB(0xFF, 0xFF, 0xFF);
const COLORREF FILLED_INVERTED = RGB(0xFF, 0xFF, 0x7F) ^ 0xFFFFFF;

COLORREF bar_pixel(HWND bar, int x)
{
    RECT r;
    GetClientRect(bar, &r);
    HDC dc = GetDC(bar);
    COLORREF c = GetPixel(dc, x < 0 ? r.right + x : x, r.bottom - 2);
    ReleaseDC(bar, dc);
    return c;
}

void check_paths()
{
    CHECK(plat_path_is_sep('\\') && plat_path_is_sep('/'));
    CHECK(!plat_path_is_sep(':') && !plat_path_is_sep('A'));
    CHECK(plat_path_drive_len("C:\\DATA") == 2 && plat_path_drive_len("z:") == 2);
    CHECK(plat_path_drive_len("1:") == 0 && plat_path_drive_len(":") == 0);
    CHECK(plat_path_drive_len("") == 0 && plat_path_drive_len(nullptr) == 0);
    CHECK(plat_disk_free("") > 0);
    CHECK(plat_disk_free(nullptr) > 0);
    CHECK(plat_disk_free("C:") > 0);
    CHECK(plat_disk_free("c") > 0);   // not a drive text: the current drive
}

void check_library()
{
    // A bare name is looked up beside the library only, never on the
    // system's search path: kernel32.dll is not taken from there.
    plat_reason_clear();
    CHECK(plat_lib_load("kernel32.dll") == nullptr);
    CHECK(std::strncmp(plat_reason_text(), "kernel32.dll: ", 14) == 0);
    // A name with a path is loaded as given.
    char system_dir[MAX_PATH];
    UINT n = GetSystemDirectoryA(system_dir, sizeof system_dir);
    CHECK(n > 0 && n < sizeof system_dir - 16);
    char kernel32[MAX_PATH + 16];
    std::snprintf(kernel32, sizeof kernel32, "%s\\kernel32.dll", system_dir);
    void *lib = plat_lib_load(kernel32);
    CHECK(lib != nullptr);
    CHECK(plat_lib_symbol(lib, "Sleep") != nullptr);
    CHECK(plat_lib_symbol(lib, "InitIrDevice") == nullptr);
    CHECK(plat_lib_symbol(lib, nullptr) == nullptr);
    plat_lib_free(lib);
    CHECK(plat_lib_load("no_such_plugin.dll") == nullptr);
    CHECK(plat_lib_load("") == nullptr && plat_lib_load(nullptr) == nullptr);
    CHECK(plat_lib_symbol(nullptr, "Sleep") == nullptr);
    plat_lib_free(nullptr);
}

// Re-arming must replace the one timer: a fast timer followed by a slow
// one must stop ticking.
void check_timer_replaced(HWND owner)
{
    CHECK(plat_timer_arm(clock, owner, 20, count_tick, &ticks));
    ticks = 0;
    pump_for(300);
    CHECK(ticks >= 5);
    CHECK(plat_timer_arm(clock, owner, 65535, count_tick, &ticks));
    ticks = 0;
    pump_for(200);
    CHECK(ticks == 0);
    CHECK(plat_timer_kill(clock));
    CHECK(!plat_timer_kill(clock));   // nothing left to kill
}

// Two sessions' clocks are separate records: a pump hands each tick to
// the record of its timer, and a timer on a window ticks through any
// message loop (a modal one while the window is dragged).
void check_clocks_apart(HWND owner)
{
    PlatClock other{};
    int other_ticks = 0;
    ticks = 0;
    CHECK(plat_timer_arm(clock, owner, 20, count_tick, &ticks));
    CHECK(plat_timer_arm(other, owner, 65535, count_tick, &other_ticks));
    pump_for(200);
    CHECK(ticks >= 3 && other_ticks == 0);
    CHECK(plat_timer_kill(other));
    CHECK(plat_timer_kill(clock));
}

void check_window_timer_in_any_loop(HWND owner)
{
    ticks = 0;
    CHECK(plat_timer_arm(clock, owner, 20, count_tick, &ticks));
    DWORD start = GetTickCount();
    MSG msg;
    while (ticks == 0 && GetTickCount() - start < 1000) {
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);   // not the session's pump
        else
            Sleep(1);
    }
    CHECK(ticks >= 1);
    CHECK(plat_timer_kill(clock));
}

void check_timer_and_pump()
{
    check_clocks_apart(nullptr);
    CHECK(!plat_timer_kill(clock));
    check_timer_replaced(nullptr);   // thread timer
    CHECK(!plat_timer_arm(clock, reinterpret_cast<void *>(0x12345), 10, count_tick, &ticks));

    PostQuitMessage(0);
    plat_pump_messages(clock);
    MSG msg;
    CHECK(!PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));

    // A wait with nothing to do sleeps until the tick: a handful of
    // waits, not thousands of spins.
    CHECK(plat_timer_arm(clock, nullptr, 100, count_tick, &ticks));
    ticks = 0;
    int waits = 0;
    DWORD start = GetTickCount();
    while (ticks == 0 && GetTickCount() - start < 2000) {
        plat_pump_wait(clock, PLAT_PORT_INVALID);
        ++waits;
    }
    CHECK(ticks == 1);
    CHECK(waits <= 3);

    // A wake-up from another thread ends a wait on a far-away tick.
    CHECK(plat_timer_arm(clock, nullptr, 65535, count_tick, &ticks));
    HANDLE waker = CreateThread(nullptr, 0, wake_later, nullptr, 0, nullptr);
    start = GetTickCount();
    plat_pump_wait(clock, PLAT_PORT_INVALID);
    CHECK(GetTickCount() - start < 900);
    WaitForSingleObject(waker, INFINITE);
    CloseHandle(waker);
    CHECK(plat_timer_kill(clock));

    uint64_t t0 = plat_clock_ms();
    Sleep(30);
    uint64_t t1 = plat_clock_ms();
    CHECK(t1 - t0 >= 25 && t1 - t0 < 1000);
}

void check_bar_dialog()
{
    ProgressPlacement place = {PROGRESS_X_GIVEN | PROGRESS_Y_GIVEN, 100, 50};
    CHECK(plat_progress_create(display, nullptr, 2, "ZDX-Ir  Sending", place, CALLBACKS));
    HWND dlg = FindWindowA(nullptr, "ZDX-Ir  Sending");
    CHECK(dlg != nullptr);
    if (dlg == nullptr)
        return;
    RECT r;
    GetWindowRect(dlg, &r);
    CHECK(r.left == 100 && r.top == 50);
    CHECK((GetWindowLongA(dlg, GWL_STYLE) & WS_SYSMENU) == 0);
    check_timer_replaced(dlg);   // timer on the owner window
    check_clocks_apart(dlg);
    check_window_timer_in_any_loop(dlg);

    HWND bar = GetDlgItem(dlg, 1003);
    CHECK(bar != nullptr);
    plat_progress_set_name(display, "DATA.TXT");
    char text[32] = "";
    GetDlgItemTextA(dlg, 1030, text, sizeof text);
    CHECK(std::strcmp(text, "DATA.TXT") == 0);

    shown.done = 1;
    shown.total = 3;
    plat_progress_show_bar(display, 1, 3, " 33.3%");
    CHECK(bar_pixel(bar, 2) == FILLED_INVERTED);
    CHECK(bar_pixel(bar, -2) == WHITE);

    // Exposing the bar alone, or the whole dialog, redraws it.
    InvalidateRect(bar, nullptr, TRUE);
    pump_for(100);
    CHECK(bar_pixel(bar, 2) == FILLED_INVERTED);
    InvalidateRect(dlg, nullptr, TRUE);
    pump_for(100);
    CHECK(bar_pixel(bar, 2) == FILLED_INVERTED);

    // More done than total fills the bar and no further.
    plat_progress_show_bar(display, 5, 3, "166.6%");
    CHECK(bar_pixel(bar, -2) == FILLED_INVERTED);
    plat_progress_show_bar(display, 0, 0, "  0.0%");
    CHECK(bar_pixel(bar, 2) == WHITE);
    plat_progress_show_bar(display, 1, -1, nullptr);
    CHECK(bar_pixel(bar, 2) == WHITE);

    // Only a click of Abort (id 2, notification 0) asks to abort.
    HWND button = GetDlgItem(dlg, 2);
    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(2, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    CHECK(shown.aborts == 1);
    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(2, BN_SETFOCUS), reinterpret_cast<LPARAM>(button));
    CHECK(shown.aborts == 1);
    CHECK(IsWindow(dlg));   // the window stays until destroyed

    if (std::getenv("ORV5_HOLD_WINDOW_MS"))
        pump_for(static_cast<DWORD>(std::atoi(std::getenv("ORV5_HOLD_WINDOW_MS"))));
    plat_progress_destroy(display);
    CHECK(!IsWindow(dlg));
    plat_progress_destroy(display);   // safe without a window
    plat_progress_show_bar(display, 1, 2, "x");
    plat_progress_show_counter(display, "x");
    plat_progress_set_name(display, "x");
    shown.total = 0;
}

void check_counter_dialog()
{
    ProgressPlacement place = {PROGRESS_Y_GIVEN, 300, 60};
    CHECK(plat_progress_create(display, nullptr, 1, "ZDX-Ir  Receiving", place, CALLBACKS));
    HWND dlg = FindWindowA(nullptr, "ZDX-Ir  Receiving");
    CHECK(dlg != nullptr);
    if (dlg == nullptr)
        return;
    RECT r;
    GetWindowRect(dlg, &r);
    CHECK(r.top == 60 && r.left != 300);   // only the given coordinate
    plat_progress_show_counter(display, "00012 / 00340");
    char text[32] = "";
    GetDlgItemTextA(dlg, 1029, text, sizeof text);
    CHECK(std::strcmp(text, "00012 / 00340") == 0);
    pump_for(100);
    plat_progress_destroy(display);
    CHECK(!IsWindow(dlg));

    CHECK(!plat_progress_create(display, reinterpret_cast<void *>(0x12345), 1, "t", place,
                                CALLBACKS));
}

// Opens COM<n> as the channel does: the name resolved, then opened into
// object.
plat_port open_com(PlatPort &object, unsigned com_number)
{
    char name[PLAT_PORT_NAME_SIZE];
    if (!plat_port_name(com_number, name, sizeof name))
        return PLAT_PORT_INVALID;
    return plat_port_open(object, name);
}

void check_port(unsigned com_number)
{
    PlatPort object{};
    plat_reason_clear();
    CHECK(open_com(object, 0) == PLAT_PORT_INVALID);
    CHECK(std::strncmp(plat_reason_text(), "COM0: ", 6) == 0);
    CHECK(object.ops == nullptr);
    if (com_number == 0)
        return;
    plat_port port = open_com(object, com_number);
    CHECK(port != PLAT_PORT_INVALID);
    if (port == PLAT_PORT_INVALID)
        return;
    plat_port_setup_queues(port, 1584, 792);
    LineSettings line = {19200, 1, 0, 0};
    CHECK(plat_port_configure(port, line));
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    CHECK(GetCommState(reinterpret_cast<HANDLE>(plat_port_os_handle(port)), &dcb));
    CHECK(dcb.BaudRate == 19200 && dcb.ByteSize == 8 && dcb.Parity == NOPARITY &&
          dcb.StopBits == ONESTOPBIT);
    CHECK(dcb.fDtrControl == DTR_CONTROL_ENABLE && dcb.fRtsControl == RTS_CONTROL_ENABLE);
    CHECK(!dcb.fOutX && !dcb.fInX && !dcb.fOutxCtsFlow);
    COMMTIMEOUTS to = {};
    CHECK(GetCommTimeouts(reinterpret_cast<HANDLE>(plat_port_os_handle(port)), &to));
    CHECK(to.ReadIntervalTimeout == MAXDWORD && to.ReadTotalTimeoutMultiplier == MAXDWORD &&
          to.ReadTotalTimeoutConstant > 0 && to.ReadTotalTimeoutConstant <= 50);
    plat_reason_clear();
    CHECK(!plat_port_configure(port, LineSettings{0, 1, 0, 0}));
    char com_name[16];
    std::snprintf(com_name, sizeof com_name, "COM%u", com_number);
    CHECK(std::strncmp(plat_reason_text(), com_name, std::strlen(com_name)) == 0);
    CHECK(plat_port_configure(port, line));
    uint32_t status = 0xFFFF;
    CHECK(plat_port_modem_status(port, &status));
    CHECK((status & ~(PLAT_MODEM_CTS | PLAT_MODEM_DSR | PLAT_MODEM_RING | PLAT_MODEM_DCD)) == 0);
    plat_port_purge_rx(port);
    // Nothing waiting: a fetch comes back at once with nothing.
    DWORD start = GetTickCount();
    uint8_t bytes[16], errors[16];
    uint32_t n = 7;
    CHECK(plat_port_read(port, bytes, errors, sizeof bytes, &n));
    CHECK(n == 0 && GetTickCount() - start < 100);
    // The pump's wait on a silent port sleeps its slice, and returns.
    start = GetTickCount();
    plat_pump_wait(clock, port);
    CHECK(GetTickCount() - start < 500);
    uint32_t written = 0;
    CHECK(plat_port_write(port, "\x10\x04\x30\x30", 4, &written) && written == 4);
    plat_port_purge_tx(port);
    plat_port_close(port);
    // A closed object is reset: nothing reaches the old handle through it.
    CHECK(object.ops == nullptr && plat_port_os_handle(port) == -1);
    CHECK(!plat_port_write(port, "\x10", 1, &written) && written == 0);
    plat_port_close(port);
    plat_port_close(PLAT_PORT_INVALID);
}

}   // namespace

int check_files();   // file_check.cpp

int main(int argc, char **argv)
{
    check_paths();
    check_library();
    check_timer_and_pump();
    check_bar_dialog();
    check_counter_dialog();
    failures += check_files();
    check_port(argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 0);
    std::printf("%s: %d failure(s)\n", failures ? "FAILED" : "OK", failures);
    return failures ? 1 : 0;
}
