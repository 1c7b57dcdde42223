// progress.h - what the progress display shows.
#pragma once

#include <cstdint>

#include "runtime/settings.h"

struct SerialChannel;

// Creates the progress display for s.display.dialog_mode (0 none: returns true
// and shows nothing), titled for s's direction, at s's position.  False
// when a wanted window cannot be created.  line (may be null) is the
// session's open channel, whose bytes moved go to the display with every
// update; it must stay valid until progress_close.
bool progress_open(void *owner, const SessionSettings &s, const SerialChannel *line);

// Stores done (low 16 bits) and total when total >= 0 and redraws; a
// negative total only redraws the stored values.  No-op without a window.
void progress_update(uint32_t done, int32_t total);

// Sets the file-name line.
void progress_set_name(const char *text);

void progress_close();

// Formatting, shared by every platform's display (buffers >= 16 bytes).
void progress_counter_text(char *out, uint32_t done, int32_t total);  // "%05u / %05ld"
void progress_bar_text(char *out, uint32_t done, int32_t total);      // "%3d.%1d%%"

// Callbacks of the platform's window.
void progress_on_abort();   // Abort clicked: abort_code = 90
void progress_on_paint();   // redraw the stored values
