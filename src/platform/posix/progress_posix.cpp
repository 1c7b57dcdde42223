// progress_posix.cpp - the progress display as one status line on stderr.
//
// Drawn only when stderr is a terminal (a log file gets no carriage-return
// noise).  The line is redrawn in place: "\r", the text, then "erase to end
// of line" for the remains of a longer previous text.
#include "platform/progress_window.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

constexpr int BAR_CELLS = 30;       // width of the text bar, characters
constexpr size_t PART_SIZE = 64;    // title, name and value texts, with NUL
// value: "[" + bar + "] " + a text of up to PART_SIZE - 1, NUL
constexpr size_t VALUE_SIZE = 1 + BAR_CELLS + 2 + PART_SIZE;
// "\r" + title + "  " + name + "  " + value + "\033[K"
constexpr size_t LINE_SIZE = 1 + PART_SIZE + 2 + PART_SIZE + 2 + VALUE_SIZE + 3;

bool active = false;     // between create and destroy
bool drawn = false;      // something is on the line
char title[PART_SIZE];
char name[PART_SIZE];
char value[VALUE_SIZE];  // counter text, or the bar with its percentage

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

void redraw()
{
    if (!active || !isatty(STDERR_FILENO))
        return;
    char line[LINE_SIZE];
    int len = std::snprintf(line, sizeof line, "\r%s  %s  %s\033[K", title, name, value);
    if (len <= 0)
        return;
    write_all(line, static_cast<size_t>(len) < sizeof line ? static_cast<size_t>(len)
                                                           : sizeof line - 1);
    drawn = true;
}

} // namespace

bool plat_progress_create(void *, int, const char *text, const ProgressPlacement &,
                          const ProgressCallbacks &)
{
    active = true;
    drawn = false;
    copy_shown(title, text);
    name[0] = '\0';
    value[0] = '\0';
    return true;
}

void plat_progress_set_name(const char *text)
{
    if (!active)
        return;
    copy_shown(name, text);
    redraw();
}

void plat_progress_show_counter(const char *text)
{
    if (!active)
        return;
    copy_shown(value, text);
    redraw();
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
    redraw();
}

void plat_progress_destroy()
{
    if (active && drawn)
        write_all("\n", 1);
    active = false;
    drawn = false;
}
