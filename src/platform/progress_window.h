// progress_window.h - the platform's progress display.
//
// The portable progress code (runtime/progress.cpp) decides what is shown;
// the platform shows it: a dialog window on Win32, a status line on the
// terminal on POSIX, a recorder in tests.  What the window needs from the
// portable side it gets through ProgressCallbacks.
#pragma once

#include <cstdint>

// ProgressPlacement::pos_flags: which coordinates were given.  The same
// bits as the settings' window position flags.
constexpr uint32_t PROGRESS_X_GIVEN = 0x01;   // bit 0
constexpr uint32_t PROGRESS_Y_GIVEN = 0x10;   // bit 4

struct ProgressPlacement {
    uint32_t pos_flags;  // PROGRESS_X_GIVEN | PROGRESS_Y_GIVEN
    int32_t x, y;        // screen position, pixels
};

// Called by the window from inside the message pump.
struct ProgressCallbacks {
    void (*on_abort)();   // the Abort button was clicked
    void (*on_paint)();   // the window was exposed: show the stored values again
};

// Creates the window of the given style (1 counter, 2 bar) with its title.
// The callbacks (either may be null) are kept until plat_progress_destroy.
// False when it cannot be created.
bool plat_progress_create(void *owner, int dialog_mode, const char *title,
                          const ProgressPlacement &place, const ProgressCallbacks &calls);

// Text of the file-name line.
void plat_progress_set_name(const char *text);

// The counts behind the next counter or bar, for a display with room for
// more than they show (the terminal's status line adds the rate and the
// time left): records done of total (total < 0: not known yet) and bytes
// moved on the line since the port was opened.  Called just before
// plat_progress_show_counter or _bar, which draw; it draws nothing itself.
// The Win32 window has no place for them and keeps them to itself.
void plat_progress_show_counts(uint32_t done, int32_t total, uint64_t bytes);

// Counter style: the counter line's text ("00012 / 00340").
void plat_progress_show_counter(const char *text);

// Bar style: fill done/total of the bar (nothing when total is 0) and
// show text (" 12.5%") over it.
void plat_progress_show_bar(uint32_t done, int32_t total, const char *text);

// Destroys the window and everything drawn with it.  Safe when none exists.
void plat_progress_destroy();
