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

constexpr int BAR_CELLS = 30;       // width of the text bar, characters
constexpr size_t PART_SIZE = 64;    // title, name and value texts, with NUL
// value: "[" + bar + "] " + a text of up to PART_SIZE - 1, NUL
constexpr size_t VALUE_SIZE = 1 + BAR_CELLS + 2 + PART_SIZE;
// "\r" + title + "  " + name + "  " + value + figures + "\033[K"
constexpr size_t LINE_SIZE = 1 + PART_SIZE + 2 + PART_SIZE + 2 + VALUE_SIZE +
                             STATUS_FIGURES_SIZE + 3;

bool active = false;        // between create and destroy
bool on_terminal = false;   // stderr was a terminal at create
bool counter_style = true;  // dialog_mode 1; else the bar
char title[PART_SIZE];
char name[PART_SIZE];
char value[VALUE_SIZE];  // counter text, or the bar with its percentage

// The counts behind the value, once the session reported any.
bool have_counts = false;
uint32_t count_done = 0;
int32_t count_total = -1;
uint64_t count_bytes = 0;
StatusOrigin origin;
StatusThrottle throttle;

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

void draw(uint64_t now_ms)
{
    char figures[STATUS_FIGURES_SIZE] = "";
    if (have_counts)
        status_figures(figures, sizeof figures, counter_style, count_done, count_total,
                       count_bytes, origin, now_ms);
    // "\r", the text, "erase to end of line"; the text is kept short of the
    // terminal's width: a line that wraps can no longer be redrawn in place.
    char line[LINE_SIZE];
    int len = std::snprintf(line, sizeof line - 3, "\r%s  %s  %s%s", title, name, value, figures);
    status_drawn(throttle, now_ms);
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
void changed()
{
    if (!active || !on_terminal)
        return;
    uint64_t now = plat_clock_ms();
    if (status_changed(throttle, now))
        draw(now);
}

} // namespace

bool plat_progress_create(void *, int dialog_mode, const char *text, const ProgressPlacement &,
                          const ProgressCallbacks &)
{
    active = true;
    on_terminal = isatty(STDERR_FILENO) != 0;
    counter_style = dialog_mode != 2;
    copy_shown(title, text);
    name[0] = '\0';
    value[0] = '\0';
    have_counts = false;
    count_done = 0;
    count_total = -1;
    count_bytes = 0;
    origin = StatusOrigin();
    throttle = StatusThrottle();
    return true;
}

void plat_progress_set_name(const char *text)
{
    if (!active)
        return;
    copy_shown(name, text);
    changed();
}

void plat_progress_show_counts(uint32_t done, int32_t total, uint64_t bytes)
{
    if (!active)
        return;
    have_counts = true;
    count_done = done;
    count_total = total;
    count_bytes = bytes;
    if (!origin.set && total >= 0) {
        origin.set = true;
        origin.at_ms = plat_clock_ms();
        origin.done = done;
        origin.bytes = bytes;
    }
}

void plat_progress_show_counter(const char *text)
{
    if (!active)
        return;
    copy_shown(value, text);
    changed();
}

void plat_progress_show_bar(uint32_t done, int32_t total, const char *text)
{
    if (!active)
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
    std::snprintf(value, sizeof value, "%s %s", bar, shown);
    changed();
}

void plat_progress_destroy()
{
    if (active && on_terminal) {
        // The last state stays on the screen: what waited for its turn,
        // and the figures as they stand at the end.
        if (throttle.pending || (throttle.drawn && origin.set))
            draw(plat_clock_ms());
        if (throttle.drawn)
            write_all("\n", 1);
    }
    active = false;
    throttle = StatusThrottle();
}

int posix_progress_due_in_ms()
{
    if (!active || !on_terminal)
        return -1;
    // Never more than a refresh away, so it fits an int.
    int64_t due = status_due_in(throttle, origin.set, plat_clock_ms());
    const int64_t longest = static_cast<int64_t>(STATUS_REFRESH_MS);
    return static_cast<int>(due > longest ? longest : due);
}

void posix_progress_pump()
{
    if (!active || !on_terminal)
        return;
    uint64_t now = plat_clock_ms();
    if (status_due_in(throttle, origin.set, now) == 0)
        draw(now);
}
