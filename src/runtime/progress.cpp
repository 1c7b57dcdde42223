// progress.cpp - what the progress display shows; the platform draws it.
#include "runtime/progress.h"

#include <cstdio>

#include "link/serial.h"
#include "platform/progress_window.h"
#include "runtime/settings.h"
#include "runtime/timer.h"

static int shown_mode;        // 0 while no display exists, else its dialog_mode
static uint16_t done_shown;   // records transferred (low 16 bits, as displayed)
static int32_t total_shown;   // records announced
static bool total_known;      // a count with its total was reported since open
static const SerialChannel *watched_line;   // the session's channel, or null

constexpr int TEXT_SIZE = 32;  // "65535 / -2147483648" and " 100.0%" fit

static void show_stored();

bool progress_open(void *owner, const SessionSettings &s, const SerialChannel *line)
{
    const int dialog_mode = s.display.dialog_mode;
    shown_mode = 0;
    done_shown = 0;
    total_shown = 0;
    total_known = false;
    watched_line = line;
    if (dialog_mode == 0)
        return true;
    int mode = dialog_mode == 2 ? 2 : 1;
    char title[TEXT_SIZE];
    std::snprintf(title, sizeof title, "ZDX-Ir  %s", s.receive_mode ? "Receiving" : "Sending");
    ProgressPlacement place{s.display.win_pos_flags, s.display.win_x, s.display.win_y};
    if (!plat_progress_create(owner, mode, title, place, {progress_on_abort, progress_on_paint}))
        return false;
    shown_mode = mode;
    show_stored();   // the empty start: 0 of 0, the total not known yet
    return true;
}

void progress_counter_text(char *out, uint32_t done, int32_t total)
{
    std::snprintf(out, TEXT_SIZE, "%05u / %05ld", static_cast<unsigned>(done),
                  static_cast<long>(total));
}

void progress_bar_text(char *out, uint32_t done, int32_t total)
{
    int whole = 0, tenth = 0;
    if (total > 0) {
        // 64-bit products: done * 1000 overflows 32 bits for large counts.
        whole = static_cast<int>(int64_t(done) * 100 / total);
        tenth = static_cast<int>(int64_t(done) * 1000 / total % 10);
    }
    std::snprintf(out, TEXT_SIZE, "%3d.%1d%%", whole, tenth);
}

void progress_update(uint32_t done, int32_t total)
{
    if (shown_mode == 0)
        return;
    if (total >= 0) {
        done_shown = static_cast<uint16_t>(done);
        total_shown = total;
        total_known = true;
    }
    show_stored();
}

// Draws the stored values; the counts first, for a display that adds to
// what the counter or bar shows.
static void show_stored()
{
    uint64_t bytes = watched_line != nullptr ? watched_line->bytes_moved : 0;
    plat_progress_show_counts(done_shown, total_known ? total_shown : -1, bytes);
    char text[TEXT_SIZE];
    if (shown_mode == 2) {
        progress_bar_text(text, done_shown, total_shown);
        plat_progress_show_bar(done_shown, total_shown, text);
    } else {
        progress_counter_text(text, done_shown, total_shown);
        plat_progress_show_counter(text);
    }
}

void progress_set_name(const char *text)
{
    if (shown_mode != 0)
        plat_progress_set_name(text);
}

void progress_close()
{
    if (shown_mode != 0)
        plat_progress_destroy();
    shown_mode = 0;
    watched_line = nullptr;
}

void progress_on_abort()
{
    request_abort();
}

void progress_on_paint()
{
    progress_update(0, -1);
}
