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

constexpr COLORREF BAR_EMPTY_COLOUR = RGB(0xFF, 0xFF, 0xFF);    // white
constexpr COLORREF BAR_FILLED_COLOUR = RGB(0xFF, 0xFF, 0x7F);   // light yellow
constexpr COLORREF BAR_TEXT_COLOUR = RGB(0x00, 0x00, 0x80);     // dark blue

constexpr int BAR_TEXT_X_TENTHS = 4;   // text starts at 4/10 of the bar width
constexpr int BAR_TEXT_Y = 1;          // pixels below the bar's top

// One session's window: the record in its PlatDisplay.  All zero is no
// window.  The dialog and the bar find it through GWLP_USERDATA.
struct Win32Display {
    HWND dialog;
    HWND bar;
    HDC bar_dc;
    int bar_width;    // pixels
    int bar_height;   // pixels
    HBRUSH empty_brush;
    HBRUSH filled_brush;
    WNDPROC bar_static_proc;   // the bar's own window procedure
    ProgressCallbacks callbacks;
};

// What CreateDialogParam hands to WM_INITDIALOG.
struct DialogStart {
    const ProgressPlacement *place;
    Win32Display *display;
};

Win32Display *display_of(HWND wnd)
{
    return reinterpret_cast<Win32Display *>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
}

void call(const ProgressCallbacks &calls, void (*fn)(void *))
{
    if (fn != nullptr)
        fn(calls.context);
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
    case WM_INITDIALOG: {
        const DialogStart *start = reinterpret_cast<const DialogStart *>(lparam);
        SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(start->display));
        place_dialog(wnd, start->place);
        return TRUE;
    }
    case WM_COMMAND:
        if (wparam == IDC_ABORT) {   // clicked (notification 0), or Esc/Alt+F4
            if (Win32Display *d = display_of(wnd))
                call(d->callbacks, d->callbacks.on_abort);
            return TRUE;
        }
        return FALSE;
    case WM_PAINT:
        // Drawn before the default painting, which still takes place.
        if (Win32Display *d = display_of(wnd); d != nullptr && d->dialog != nullptr)
            call(d->callbacks, d->callbacks.on_paint);
        return FALSE;
    default: return FALSE;
    }
}

// The white rectangle paints itself white over the bar whenever it is
// exposed, possibly after the dialog's own paint: redraw the bar after it.
LRESULT CALLBACK bar_proc(HWND wnd, UINT msg, WPARAM wparam, LPARAM lparam)
{
    Win32Display *d = display_of(wnd);   // set before the bar is subclassed
    LRESULT r = CallWindowProcA(d->bar_static_proc, wnd, msg, wparam, lparam);
    if (msg == WM_PAINT && d->bar_dc != nullptr)
        call(d->callbacks, d->callbacks.on_paint);
    return r;
}

// Size, device context and brushes of the bar; stays without them (and
// then draws nothing) if any part is missing.
void prepare_bar(Win32Display &d)
{
    d.bar = GetDlgItem(d.dialog, IDC_BAR);
    if (d.bar == nullptr)
        return;
    RECT r;
    if (GetWindowRect(d.bar, &r)) {
        d.bar_width = r.right - r.left;
        d.bar_height = r.bottom - r.top;
    }
    d.bar_dc = GetDC(d.bar);
    if (d.bar_dc != nullptr) {
        SetBkMode(d.bar_dc, TRANSPARENT);
        SetTextColor(d.bar_dc, BAR_TEXT_COLOUR);
        // The static class may draw with its parent's clipping: keep every
        // stroke inside the bar.
        IntersectClipRect(d.bar_dc, 0, 0, d.bar_width, d.bar_height);
    }
    d.empty_brush = CreateSolidBrush(BAR_EMPTY_COLOUR);
    d.filled_brush = CreateSolidBrush(BAR_FILLED_COLOUR);
    // The record first: the bar's procedure looks for it from the first
    // message on.
    SetWindowLongPtrA(d.bar, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&d));
    d.bar_static_proc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(d.bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(bar_proc)));
}

}   // namespace

bool plat_progress_create(PlatDisplay &display, void *owner, int dialog_mode, const char *title,
                          const ProgressPlacement &place, const ProgressCallbacks &calls)
{
    plat_progress_destroy(display);   // only ever one window per display
    Win32Display &d = plat_display_state<Win32Display>(display);
    d.callbacks = calls;   // WM_INITDIALOG may already paint
    int resource = dialog_mode == BAR_STYLE ? IDD_PROGRESS_BAR : IDD_PROGRESS_COUNTER;
    DialogStart start{&place, &d};
    HWND wnd = CreateDialogParamA(own_module(), MAKEINTRESOURCEA(resource),
                                  static_cast<HWND>(owner), dialog_proc,
                                  reinterpret_cast<LPARAM>(&start));
    if (wnd == nullptr) {
        d = Win32Display{};
        return false;
    }
    d.dialog = wnd;
    SetWindowTextA(d.dialog, title ? title : "");
    if (dialog_mode == BAR_STYLE)
        prepare_bar(d);
    return true;
}

void plat_progress_set_name(PlatDisplay &display, const char *text)
{
    Win32Display &d = plat_display_state<Win32Display>(display);
    if (d.dialog != nullptr)
        SetDlgItemTextA(d.dialog, IDC_NAME, text ? text : "");
}

// The window shows the counter or the bar only: its layout has no room for
// a rate or a time left.
void plat_progress_show_counts(PlatDisplay &, uint32_t, int32_t, uint64_t) {}

void plat_progress_show_counter(PlatDisplay &display, const char *text)
{
    Win32Display &d = plat_display_state<Win32Display>(display);
    if (d.dialog != nullptr)
        SetDlgItemTextA(d.dialog, IDC_COUNTER, text ? text : "");
}

void plat_progress_show_bar(PlatDisplay &display, uint32_t done, int32_t total, const char *text)
{
    Win32Display &d = plat_display_state<Win32Display>(display);
    if (d.dialog == nullptr || d.bar_dc == nullptr || d.empty_brush == nullptr ||
        d.filled_brush == nullptr)
        return;
    // Filled width, pixels: done/total of the bar, never past its end.
    int64_t filled = 0;
    if (total > 0) {
        filled = static_cast<int64_t>(d.bar_width) * done / total;
        if (filled > d.bar_width)
            filled = d.bar_width;
    }
    RECT whole = {0, 0, d.bar_width, d.bar_height};
    RECT part = {0, 0, static_cast<LONG>(filled), d.bar_height};
    FillRect(d.bar_dc, &whole, d.empty_brush);
    FillRect(d.bar_dc, &part, d.filled_brush);
    if (text != nullptr)
        TextOutA(d.bar_dc, d.bar_width * BAR_TEXT_X_TENTHS / 10, BAR_TEXT_Y, text,
                 static_cast<int>(std::strlen(text)));
    InvertRect(d.bar_dc, &part);
}

void plat_progress_destroy(PlatDisplay &display)
{
    Win32Display &d = plat_display_state<Win32Display>(display);
    if (d.empty_brush != nullptr)
        DeleteObject(d.empty_brush);
    if (d.filled_brush != nullptr)
        DeleteObject(d.filled_brush);
    d.empty_brush = d.filled_brush = nullptr;
    if (d.bar_dc != nullptr)
        ReleaseDC(d.bar, d.bar_dc);
    d.bar_dc = nullptr;
    HWND wnd = d.dialog;
    d.dialog = nullptr;   // no drawing from messages sent while destroying
    // The bar gets its own procedure back before the record goes.
    if (d.bar != nullptr && d.bar_static_proc != nullptr) {
        SetWindowLongPtrA(d.bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(d.bar_static_proc));
        SetWindowLongPtrA(d.bar, GWLP_USERDATA, 0);
    }
    if (wnd != nullptr) {
        SetWindowLongPtrA(wnd, GWLP_USERDATA, 0);
        DestroyWindow(wnd);
    }
    d = Win32Display{};
}
