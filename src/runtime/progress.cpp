// progress.cpp - what the progress display shows; the platform draws it.
#include "runtime/progress.h"

#include <cstdio>

#include "link/serial.h"
#include "platform/progress_window.h"
#include "runtime/settings.h"
#include "runtime/timer.h"

constexpr int TEXT_SIZE = 32;   // "65535 / -2147483648" and " 100.0%" fit

static void show_stored(SessionRun &run);

bool progress_open(SessionRun &run, const SessionSettings &s)
{
    const int dialog_mode = s.display.dialog_mode;
    run.progress = ProgressState{};
    if (dialog_mode == 0)
        return true;
    int mode = dialog_mode == 2 ? 2 : 1;
    char title[TEXT_SIZE];
    std::snprintf(title, sizeof title, "ZDX-Ir  %s", s.receive_mode ? "Receiving" : "Sending");
    ProgressPlacement place{s.display.win_pos_flags, s.display.win_x, s.display.win_y};
    if (!plat_progress_create(run.display, run.owner_window, mode, title, place,
                              {progress_on_abort, progress_on_paint, &run}))
        return false;
    run.progress.shown_mode = mode;
    show_stored(run);   // the empty start: 0 of 0, the total not known yet
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

void progress_update(SessionRun &run, uint32_t done, int32_t total)
{
    ProgressState &p = run.progress;
    if (p.shown_mode == 0)
        return;
    if (total >= 0) {
        p.done_shown = static_cast<uint16_t>(done);
        p.total_shown = total;
        p.total_known = true;
    }
    show_stored(run);
}

// Draws the stored values; the counts first, for a display that adds to
// what the counter or bar shows.
static void show_stored(SessionRun &run)
{
    const ProgressState &p = run.progress;
    uint64_t bytes = run.channel != nullptr ? run.channel->bytes_moved : 0;
    plat_progress_show_counts(run.display, p.done_shown, p.total_known ? p.total_shown : -1, bytes);
    char text[TEXT_SIZE];
    if (p.shown_mode == 2) {
        progress_bar_text(text, p.done_shown, p.total_shown);
        plat_progress_show_bar(run.display, p.done_shown, p.total_shown, text);
    } else {
        progress_counter_text(text, p.done_shown, p.total_shown);
        plat_progress_show_counter(run.display, text);
    }
}

void progress_set_name(SessionRun &run, const char *text)
{
    if (run.progress.shown_mode != 0)
        plat_progress_set_name(run.display, text);
}

void progress_close(SessionRun &run)
{
    if (run.progress.shown_mode != 0)
        plat_progress_destroy(run.display);
    run.progress.shown_mode = 0;
}

void progress_on_abort(void *context) { run_request_abort(*static_cast<SessionRun *>(context)); }

void progress_on_paint(void *context)
{
    progress_update(*static_cast<SessionRun *>(context), 0, -1);
}
