// progress_window_win32.cpp - the progress dialog on Win32.
//
// A modeless dialog from the library's resources (101 counter style, 102
// bar style), owned by the host's window and serviced by the session's
// message pump.  The bar is drawn straight onto the white rectangle 1003
// through a device context held for the whole session.
#include "platform/progress_window.h"

#include <windows.h>

#include <cstdint>
#include <cstring>

#include "platform/win32/own_module.h"
#include "platform/win32/resources/orv5w32_res.h"

namespace {

constexpr int BAR_STYLE = 2;   // dialog_mode of the bar style

constexpr COLORREF BAR_EMPTY_COLOUR = RGB(0xFF, 0xFF, 0xFF);   // white
constexpr COLORREF BAR_FILLED_COLOUR = RGB(0xFF, 0xFF, 0x7F);  // light yellow
constexpr COLORREF BAR_TEXT_COLOUR = RGB(0x00, 0x00, 0x80);    // dark blue

constexpr int BAR_TEXT_X_TENTHS = 4;   // text starts at 4/10 of the bar width
constexpr int BAR_TEXT_Y = 1;          // pixels below the bar's top

HWND dialog = nullptr;
HWND bar = nullptr;
HDC bar_dc = nullptr;
int bar_width = 0;    // pixels
int bar_height = 0;   // pixels
HBRUSH empty_brush = nullptr;
HBRUSH filled_brush = nullptr;
WNDPROC bar_static_proc = nullptr;   // the bar's own window procedure
ProgressCallbacks callbacks = {nullptr, nullptr};

void call(void (*fn)())
{
    if (fn != nullptr)
        fn();
}

// Moves the dialog to the requested screen position, keeping its size.
void place_dialog(HWND wnd, const ProgressPlacement *place)
{
    if (place == nullptr)
        return;
    RECT r;
    if (!GetWindowRect(wnd, &r))
        return;
    int x = (place->pos_flags & PROGRESS_X_GIVEN) ? place->x : r.left;
    int y = (place->pos_flags & PROGRESS_Y_GIVEN) ? place->y : r.top;
    MoveWindow(wnd, x, y, r.right - r.left, r.bottom - r.top, FALSE);
}

INT_PTR CALLBACK dialog_proc(HWND wnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    switch (msg) {
    case WM_INITDIALOG:
        place_dialog(wnd, reinterpret_cast<const ProgressPlacement *>(lparam));
        return TRUE;
    case WM_COMMAND:
        if (wparam == IDC_ABORT) {   // clicked (notification 0), or Esc/Alt+F4
            call(callbacks.on_abort);
            return TRUE;
        }
        return FALSE;
    case WM_PAINT:
        // Drawn before the default painting, which still takes place.
        if (dialog != nullptr)
            call(callbacks.on_paint);
        return FALSE;
    default:
        return FALSE;
    }
}

// The white rectangle paints itself white over the bar whenever it is
// exposed, possibly after the dialog's own paint: redraw the bar after it.
LRESULT CALLBACK bar_proc(HWND wnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    LRESULT r = CallWindowProcA(bar_static_proc, wnd, msg, wparam, lparam);
    if (msg == WM_PAINT && bar_dc != nullptr)
        call(callbacks.on_paint);
    return r;
}

// Size, device context and brushes of the bar; stays without them (and
// then draws nothing) if any part is missing.
void prepare_bar()
{
    bar = GetDlgItem(dialog, IDC_BAR);
    if (bar == nullptr)
        return;
    RECT r;
    if (GetWindowRect(bar, &r)) {
        bar_width = r.right - r.left;
        bar_height = r.bottom - r.top;
    }
    bar_dc = GetDC(bar);
    if (bar_dc != nullptr) {
        SetBkMode(bar_dc, TRANSPARENT);
        SetTextColor(bar_dc, BAR_TEXT_COLOUR);
        // The static class may draw with its parent's clipping: keep every
        // stroke inside the bar.
        IntersectClipRect(bar_dc, 0, 0, bar_width, bar_height);
    }
    empty_brush = CreateSolidBrush(BAR_EMPTY_COLOUR);
    filled_brush = CreateSolidBrush(BAR_FILLED_COLOUR);
    bar_static_proc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(bar_proc)));
}

}  // namespace

bool plat_progress_create(void *owner, int dialog_mode, const char *title,
                          const ProgressPlacement &place, const ProgressCallbacks &calls)
{
    plat_progress_destroy();   // only ever one window
    callbacks = calls;   // WM_INITDIALOG may already paint
    int resource = dialog_mode == BAR_STYLE ? IDD_PROGRESS_BAR : IDD_PROGRESS_COUNTER;
    HWND wnd = CreateDialogParamA(own_module(), MAKEINTRESOURCEA(resource),
                                  static_cast<HWND>(owner), dialog_proc,
                                  reinterpret_cast<LPARAM>(&place));
    if (wnd == nullptr) {
        callbacks = {nullptr, nullptr};
        return false;
    }
    dialog = wnd;
    SetWindowTextA(dialog, title ? title : "");
    if (dialog_mode == BAR_STYLE)
        prepare_bar();
    return true;
}

void plat_progress_set_name(const char *text)
{
    if (dialog != nullptr)
        SetDlgItemTextA(dialog, IDC_NAME, text ? text : "");
}

// The window shows the counter or the bar only: its layout has no room for
// a rate or a time left.
void plat_progress_show_counts(uint32_t, int32_t, uint64_t) {}

void plat_progress_show_counter(const char *text)
{
    if (dialog != nullptr)
        SetDlgItemTextA(dialog, IDC_COUNTER, text ? text : "");
}

void plat_progress_show_bar(uint32_t done, int32_t total, const char *text)
{
    if (dialog == nullptr || bar_dc == nullptr || empty_brush == nullptr ||
        filled_brush == nullptr)
        return;
    // Filled width, pixels: done/total of the bar, never past its end.
    int64_t filled = 0;
    if (total > 0) {
        filled = static_cast<int64_t>(bar_width) * done / total;
        if (filled > bar_width)
            filled = bar_width;
    }
    RECT whole = {0, 0, bar_width, bar_height};
    RECT part = {0, 0, static_cast<LONG>(filled), bar_height};
    FillRect(bar_dc, &whole, empty_brush);
    FillRect(bar_dc, &part, filled_brush);
    if (text != nullptr)
        TextOutA(bar_dc, bar_width * BAR_TEXT_X_TENTHS / 10, BAR_TEXT_Y, text,
                 static_cast<int>(std::strlen(text)));
    InvertRect(bar_dc, &part);
}

void plat_progress_destroy()
{
    if (empty_brush != nullptr)
        DeleteObject(empty_brush);
    if (filled_brush != nullptr)
        DeleteObject(filled_brush);
    empty_brush = filled_brush = nullptr;
    if (bar_dc != nullptr)
        ReleaseDC(bar, bar_dc);
    bar_dc = nullptr;
    HWND wnd = dialog;
    dialog = nullptr;   // no drawing from messages sent while destroying
    bar = nullptr;
    bar_width = bar_height = 0;
    if (wnd != nullptr)
        DestroyWindow(wnd);
    callbacks = {nullptr, nullptr};
}
