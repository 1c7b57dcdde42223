// progress.h - what the progress display shows.
#pragma once

#include <cstdint>

#include "runtime/session_run.h"
#include "runtime/settings.h"

// Creates the run's progress display for s.display.dialog_mode (0 none:
// returns true and shows nothing), titled for s's direction, at s's
// position.  False when a wanted window cannot be created.  The bytes moved
// on run.channel (may be null) go to the display with every update.
bool progress_open(SessionRun &run, const SessionSettings &s);

// Stores done (low 16 bits) and total when total >= 0 and redraws; a
// negative total only redraws the stored values.  No-op without a window.
void progress_update(SessionRun &run, uint32_t done, int32_t total);

// Sets the file-name line.
void progress_set_name(SessionRun &run, const char *text);

void progress_close(SessionRun &run);

// Formatting, shared by every platform's display (buffers >= 16 bytes).
void progress_counter_text(char *out, uint32_t done, int32_t total);   // "%05u / %05ld"
void progress_bar_text(char *out, uint32_t done, int32_t total);       // "%3d.%1d%%"

// Callbacks of the platform's window; context is the SessionRun.
void progress_on_abort(void *context);   // Abort clicked: the run's abort request = 90
void progress_on_paint(void *context);   // redraw the stored values
