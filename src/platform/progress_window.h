// progress_window.h - the platform's progress display.
//
// The portable progress code (runtime/progress.cpp) decides what is shown;
// the platform shows it: a dialog window on Win32, a status line on the
// terminal on POSIX, a recorder in tests.  What the window needs from the
// portable side it gets through ProgressCallbacks.
#pragma once

#include <cstddef>
#include <cstdint>

// ProgressPlacement::pos_flags: which coordinates were given.  The same
// bits as the settings' window position flags.
constexpr uint32_t PROGRESS_X_GIVEN = 0x01;   // bit 0
constexpr uint32_t PROGRESS_Y_GIVEN = 0x10;   // bit 4

struct ProgressPlacement {
    uint32_t pos_flags;   // PROGRESS_X_GIVEN | PROGRESS_Y_GIVEN
    int32_t x, y;         // screen position, pixels
};

// Called by the window from inside the message pump, with context.
struct ProgressCallbacks {
    void (*on_abort)(void *context);   // the Abort button was clicked
    void (*on_paint)(void *context);   // the window was exposed: show the stored values again
    void *context;
};

// Room for a backend's record of one display, bytes (the terminal's status
// line with its texts is the largest).
constexpr size_t PLAT_DISPLAY_STATE_SIZE = 640;

// The session's display, in storage the session owns (its run-time record
// keeps one).  A value-initialised object shows nothing; it is not copied
// while a window exists (the window holds its address).
struct PlatDisplay {
    alignas(8) unsigned char state[PLAT_DISPLAY_STATE_SIZE];   // the backend's record
};

// The backend's record inside a display object; all zero means none shown.
template <typename T> T &plat_display_state(PlatDisplay &display)
{
    static_assert(sizeof(T) <= PLAT_DISPLAY_STATE_SIZE, "display record too large");
    static_assert(alignof(T) <= 8, "display record over-aligned");
    return *reinterpret_cast<T *>(display.state);
}

// Creates the window of the given style (1 counter, 2 bar) with its title
// into display.  The callbacks (either may be null) are kept until
// plat_progress_destroy.  False when it cannot be created.
bool plat_progress_create(PlatDisplay &display, void *owner, int dialog_mode, const char *title,
                          const ProgressPlacement &place, const ProgressCallbacks &calls);

// Text of the file-name line.
void plat_progress_set_name(PlatDisplay &display, const char *text);

// The counts behind the next counter or bar, for a display with room for
// more than they show (the terminal's status line adds the rate and the
// time left): records done of total (total < 0: not known yet) and bytes
// moved on the line since the port was opened.  Called just before
// plat_progress_show_counter or _bar, which draw; it draws nothing itself.
// The Win32 window has no place for them and keeps them to itself.
void plat_progress_show_counts(PlatDisplay &display, uint32_t done, int32_t total, uint64_t bytes);

// Counter style: the counter line's text ("00012 / 00340").
void plat_progress_show_counter(PlatDisplay &display, const char *text);

// Bar style: fill done/total of the bar (nothing when total is 0) and
// show text (" 12.5%") over it.
void plat_progress_show_bar(PlatDisplay &display, uint32_t done, int32_t total, const char *text);

// Destroys the window and everything drawn with it.  Safe when none exists.
void plat_progress_destroy(PlatDisplay &display);
