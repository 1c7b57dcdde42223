/*
 * session.c - host commands that act while a session runs: an abort from a
 * second thread, a nested call from a window procedure, and sampling of
 * the progress window from a timer.  The timers and the window procedure
 * run only because the library pumps this thread's messages while it
 * waits, so these commands also show that the pump works.
 */
#include <stdio.h>
#include <string.h>

#include "host.h"

/* Control identifiers in the progress window's dialog templates. */
enum {
    ID_ABORT = 2,      /* Abort push button */
    ID_BAR = 1003,     /* white rectangle that holds the bar (bar style) */
    ID_COUNTER = 1029, /* "00012 / 00340" (counter style) */
    ID_NAME = 1030     /* file name line */
};

/* ---- abort-after: AbortOrv5 from another thread ---- */

static int abort_delay_ms;
static volatile LONG abort_answer = -1;

static DWORD WINAPI abort_thread(LPVOID unused)
{
    (void)unused;
    Sleep((DWORD)abort_delay_ms);
    InterlockedExchange(&abort_answer, host_abort());
    return 0;
}

int host_abort_after(int ms, const char *text)
{
    char name[HOST_NAME_BUF];
    host_reset_name(name, sizeof name);
    abort_delay_ms = ms;
    HANDLE t = CreateThread(NULL, 0, abort_thread, NULL, 0, NULL);
    if (!t)
        return HOST_FAILED;
    int result = host_exec(NULL, text, name);
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);
    printf("abort=%ld\n", (long)abort_answer);
    host_print_result(result, name);
    return result;
}

/* ---- nested: ExecOrv5 from a window procedure during a session ---- */

enum { NEST_TIMER_ID = 77, NEST_TIMER_MS = 100 };

/* Posted before the session starts, so that the library's first pump
 * delivers it: an abort requested before any protocol traffic. */
#define WM_ABORT_FIRST (WM_APP + 1)

static int nest_ticks;
static int nest_then_abort;

static LRESULT CALLBACK owner_proc(HWND w, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_TIMER && wp == NEST_TIMER_ID) {
        ++nest_ticks;
        if (nest_ticks == 1) {
            /* If the guard failed, "-Q" would be parsed and give 9. */
            char name[HOST_NAME_BUF];
            host_reset_name(name, sizeof name);
            printf("nested=%d\n", host_exec(w, "-Q", name));
        } else if (nest_ticks == 2 && nest_then_abort) {
            printf("abort=%d\n", host_abort());
        }
        return 0;
    }
    if (msg == WM_ABORT_FIRST) {
        printf("abort=%d\n", host_abort());
        return 0;
    }
    return DefWindowProcA(w, msg, wp, lp);
}

static HWND make_owner_window(void)
{
    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = owner_proc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "Orv5TestOwner";
    if (!RegisterClassA(&wc))
        return NULL;
    /* Never shown: a host's main window need not be visible. */
    HWND w = CreateWindowA("Orv5TestOwner", "orv5 test owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                           NULL, NULL, wc.hInstance, NULL);
    if (!w)
        printf("error=create-window code=%lu\n", GetLastError());
    return w;
}

int host_nested(const char *text, int then_abort)
{
    HWND owner = make_owner_window();
    if (!owner)
        return HOST_FAILED;
    nest_then_abort = then_abort;
    char name[HOST_NAME_BUF];
    host_reset_name(name, sizeof name);
    SetTimer(owner, NEST_TIMER_ID, NEST_TIMER_MS, NULL);
    int result = host_exec(owner, text, name);
    KillTimer(owner, NEST_TIMER_ID);
    printf("ticks=%d\n", nest_ticks);
    host_print_result(result, name);
    DestroyWindow(owner);
    return result;
}

int host_abort_first(const char *text)
{
    HWND owner = make_owner_window();
    if (!owner)
        return HOST_FAILED;
    char name[HOST_NAME_BUF];
    host_reset_name(name, sizeof name);
    PostMessageA(owner, WM_ABORT_FIRST, 0, 0);
    int result = host_exec(owner, text, name);
    host_print_result(result, name);
    DestroyWindow(owner);
    return result;
}

/* ---- watch: sample the progress window from a thread timer ---- */

static char last_sample[512];
static int button_reported;
static int samples;

static BOOL CALLBACK find_progress(HWND w, LPARAM out)
{
    char title[64];
    if (GetWindowTextA(w, title, sizeof title) > 0 && !strncmp(title, "ZDX-Ir", 6)) {
        *(HWND *)out = w;
        return FALSE;
    }
    return TRUE;
}

/* GetPixel lives in gdi32, which the host's build does not link: bound at
 * run time like the library's exports. */
typedef COLORREF(WINAPI *get_pixel_fn)(HDC dc, int x, int y);

/* Width in pixels of the filled part of the bar: the run of non-white
 * pixels from the left on the bar's top row, where no text is drawn.
 * -1 when pixels cannot be read. */
static int bar_fill(HWND bar, int *width)
{
    static get_pixel_fn get_pixel;
    if (!get_pixel) {
        HMODULE gdi = LoadLibraryA("gdi32.dll");
        get_pixel = gdi ? (get_pixel_fn)(void (*)(void))GetProcAddress(gdi, "GetPixel") : NULL;
    }
    RECT rc;
    GetClientRect(bar, &rc);
    *width = rc.right;
    if (!get_pixel)
        return -1;
    HDC dc = GetDC(bar);
    int fill = 0;
    while (fill < rc.right && get_pixel(dc, fill, 0) != RGB(255, 255, 255))
        ++fill;
    ReleaseDC(bar, dc);
    return fill;
}

static void report_button(HWND dlg)
{
    HWND b = GetDlgItem(dlg, ID_ABORT);
    RECT rc;
    if (!b || !GetWindowRect(b, &rc))
        return;
    printf("button x=%ld y=%ld\n", (rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
    button_reported = 1;
}

static void CALLBACK watch_tick(HWND w, UINT msg, UINT_PTR id, DWORD now)
{
    (void)w;
    (void)msg;
    (void)id;
    (void)now;
    HWND dlg = NULL;
    EnumThreadWindows(GetCurrentThreadId(), find_progress, (LPARAM)&dlg);
    if (!dlg)
        return;
    char title[64], name[64], counter[64], bar[32] = "-";
    RECT rc;
    GetWindowTextA(dlg, title, sizeof title);
    GetWindowRect(dlg, &rc);
    if (!GetDlgItemTextA(dlg, ID_NAME, name, sizeof name))
        strcpy(name, "");
    if (!GetDlgItem(dlg, ID_COUNTER) || !GetDlgItemTextA(dlg, ID_COUNTER, counter, sizeof counter))
        strcpy(counter, "-");
    HWND b = GetDlgItem(dlg, ID_BAR);
    if (b) {
        int width, fill = bar_fill(b, &width);
        snprintf(bar, sizeof bar, "%d/%d", fill, width);
    }
    char line[sizeof last_sample];
    snprintf(line, sizeof line,
             "window title=\"%s\" x=%ld y=%ld name=\"%s\" counter=\"%s\" bar=%s visible=%d", title,
             rc.left, rc.top, name, counter, bar, IsWindowVisible(dlg) ? 1 : 0);
    ++samples;
    if (strcmp(line, last_sample) != 0) {
        strcpy(last_sample, line);
        printf("%s\n", line);
    }
    if (!button_reported)
        report_button(dlg);
}

int host_watch(int interval_ms, const char *text)
{
    char name[HOST_NAME_BUF];
    host_reset_name(name, sizeof name);
    UINT_PTR t = SetTimer(NULL, 0, (UINT)interval_ms, watch_tick);
    if (!t)
        return HOST_FAILED;
    int result = host_exec(NULL, text, name);
    KillTimer(NULL, t);
    printf("samples=%d\n", samples);
    host_print_result(result, name);
    return result;
}
