// progress_posix.cpp - the progress display as one status line on stderr.
//
// Drawn only when stderr is a terminal (a log file gets no carriage-return
// noise).  The line is redrawn in place: "\r", the text, then "erase to end
// of line" for the remains of a longer previous text.  Once the session
// reports counts, the line adds the percentage, the line's rate and the
// time left (status_line.h), and is drawn at most a few times a second: a
// change that comes sooner, and the refresh of a stalled line, are drawn
// from the pump (clock_posix.cpp), which wakes for them.
#include "platform/progress_window.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/posix/posix_port.h"
#include "platform/posix/status_line.h"
#include "platform/session_clock.h"

namespace {

constexpr int BAR_CELLS = 30;      // width of the text bar, characters
constexpr size_t PART_SIZE = 64;   // title, name and value texts, with NUL
// value: "[" + bar + "] " + a text of up to PART_SIZE - 1, NUL
constexpr size_t VALUE_SIZE = 1 + BAR_CELLS + 2 + PART_SIZE;
// "\r" + title + "  " + name + "  " + value + figures + "\033[K"
constexpr size_t LINE_SIZE = 1 + PART_SIZE + 2 + PART_SIZE + 2 + VALUE_SIZE + STATUS_FIGURES_SIZE +
                             3;

// The status line of one session: the record in the session's PlatDisplay.
// All zero is no display (active false).
struct StatusDisplay {
    bool active;          // between create and destroy
    bool on_terminal;     // stderr was a terminal at create
    bool counter_style;   // dialog_mode 1; else the bar
    char title[PART_SIZE];
    char name[PART_SIZE];
    char value[VALUE_SIZE];   // counter text, or the bar with its percentage

    // The counts behind the value, once the session reported any.
    bool have_counts;
    uint32_t count_done;
    int32_t count_total;
    uint64_t count_bytes;
    StatusOrigin origin;
    StatusThrottle throttle;
};

StatusDisplay &record(PlatDisplay &display) { return plat_display_state<StatusDisplay>(display); }

// Copies text, with control characters shown as '?': a file name sent by
// the terminal must not be able to drive the user's terminal.
void copy_shown(char *out, const char *text)
{
    size_t i = 0;
    for (; text != nullptr && text[i] != '\0' && i + 1 < PART_SIZE; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        out[i] = c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
    }
    out[i] = '\0';
}

void write_all(const char *text, size_t len)
{
    while (len > 0) {
        ssize_t r = write(STDERR_FILENO, text, len);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return;   // the display is a courtesy: never stall the session
        text += r;
        len -= static_cast<size_t>(r);
    }
}

// Columns of the terminal on stderr; 0 when it cannot tell.
size_t terminal_columns()
{
    struct winsize ws;
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) != 0)
        return 0;
    return ws.ws_col;
}

void draw(StatusDisplay &d, uint64_t now_ms)
{
    char figures[STATUS_FIGURES_SIZE] = "";
    if (d.have_counts)
        status_figures(figures, sizeof figures, d.counter_style, d.count_done, d.count_total,
                       d.count_bytes, d.origin, now_ms);
    // "\r", the text, "erase to end of line"; the text is kept short of the
    // terminal's width: a line that wraps can no longer be redrawn in place.
    char line[LINE_SIZE];
    int len = std::snprintf(line, sizeof line - 3, "\r%s  %s  %s%s", d.title, d.name, d.value,
                            figures);
    status_drawn(d.throttle, now_ms);
    if (len <= 0)
        return;
    size_t used = static_cast<size_t>(len) < sizeof line - 3 ? static_cast<size_t>(len)
                                                             : sizeof line - 4;
    size_t columns = terminal_columns();
    if (columns > 1 && used > columns)   // "\r" + columns - 1 characters
        used = columns;
    std::memcpy(line + used, "\033[K", 3);
    write_all(line, used + 3);
}

// Something shown changed: drawn now, or by the pump when its time comes.
void changed(StatusDisplay &d)
{
    if (!d.active || !d.on_terminal)
        return;
    uint64_t now = plat_clock_ms();
    if (status_changed(d.throttle, now))
        draw(d, now);
}

}   // namespace

bool plat_progress_create(PlatDisplay &display, void *, int dialog_mode, const char *text,
                          const ProgressPlacement &, const ProgressCallbacks &)
{
    StatusDisplay &d = record(display);
    d = StatusDisplay{};
    d.active = true;
    d.on_terminal = isatty(STDERR_FILENO) != 0;
    d.counter_style = dialog_mode != 2;
    copy_shown(d.title, text);
    d.count_total = -1;
    return true;
}

void plat_progress_set_name(PlatDisplay &display, const char *text)
{
    StatusDisplay &d = record(display);
    if (!d.active)
        return;
    copy_shown(d.name, text);
    changed(d);
}

void plat_progress_show_counts(PlatDisplay &display, uint32_t done, int32_t total, uint64_t bytes)
{
    StatusDisplay &d = record(display);
    if (!d.active)
        return;
    d.have_counts = true;
    d.count_done = done;
    d.count_total = total;
    d.count_bytes = bytes;
    if (!d.origin.set && total >= 0) {
        d.origin.set = true;
        d.origin.at_ms = plat_clock_ms();
        d.origin.done = done;
        d.origin.bytes = bytes;
    }
}

void plat_progress_show_counter(PlatDisplay &display, const char *text)
{
    StatusDisplay &d = record(display);
    if (!d.active)
        return;
    copy_shown(d.value, text);
    changed(d);
}

void plat_progress_show_bar(PlatDisplay &display, uint32_t done, int32_t total, const char *text)
{
    StatusDisplay &d = record(display);
    if (!d.active)
        return;
    int cells = 0;
    if (total > 0) {
        uint64_t filled = static_cast<uint64_t>(done) * BAR_CELLS / static_cast<uint64_t>(total);
        cells = filled > BAR_CELLS ? BAR_CELLS : static_cast<int>(filled);
    }
    char bar[BAR_CELLS + 3];
    bar[0] = '[';
    for (int i = 0; i < BAR_CELLS; ++i)
        bar[1 + i] = i < cells ? '#' : '-';
    bar[BAR_CELLS + 1] = ']';
    bar[BAR_CELLS + 2] = '\0';
    char shown[PART_SIZE];
    copy_shown(shown, text);
    std::snprintf(d.value, sizeof d.value, "%s %s", bar, shown);
    changed(d);
}

void plat_progress_destroy(PlatDisplay &display)
{
    StatusDisplay &d = record(display);
    if (d.active && d.on_terminal) {
        // The last state stays on the screen: what waited for its turn,
        // and the figures as they stand at the end.
        if (d.throttle.pending || (d.throttle.drawn && d.origin.set))
            draw(d, plat_clock_ms());
        if (d.throttle.drawn)
            write_all("\n", 1);
    }
    d = StatusDisplay{};
}

int posix_progress_due_in_ms(PlatDisplay &display)
{
    StatusDisplay &d = record(display);
    if (!d.active || !d.on_terminal)
        return -1;
    // Never more than a refresh away, so it fits an int.
    int64_t due = status_due_in(d.throttle, d.origin.set, plat_clock_ms());
    const int64_t longest = static_cast<int64_t>(STATUS_REFRESH_MS);
    return static_cast<int>(due > longest ? longest : due);
}

void posix_progress_pump(PlatDisplay &display)
{
    StatusDisplay &d = record(display);
    if (!d.active || !d.on_terminal)
        return;
    uint64_t now = plat_clock_ms();
    if (status_due_in(d.throttle, d.origin.set, now) == 0)
        draw(d, now);
}
