// progress_window.h - the platform's progress display.
//
// The portable progress code (session/progress.cpp) decides what is shown;
// the platform shows it: a dialog window on Win32, a status line on the
// terminal on POSIX, a recorder in tests.
#pragma once

#include <cstdint>

struct ProgressPlacement {
    uint32_t pos_flags;  // WIN_X_GIVEN | WIN_Y_GIVEN (settings.h)
    int32_t x, y;        // screen position, pixels
};

// Creates the window of the given style (1 counter, 2 bar) with its title.
// False when it cannot be created.
bool plat_progress_create(void *owner, int dialog_mode, const char *title,
                          const ProgressPlacement &place);

// Text of the file-name line.
void plat_progress_set_name(const char *text);

// Counter style: the counter line's text ("00012 / 00340").
void plat_progress_show_counter(const char *text);

// Bar style: fill done/total of the bar (nothing when total is 0) and
// show text (" 12.5%") over it.
void plat_progress_show_bar(uint32_t done, int32_t total, const char *text);

// Destroys the window and everything drawn with it.  Safe when none exists.
void plat_progress_destroy();
