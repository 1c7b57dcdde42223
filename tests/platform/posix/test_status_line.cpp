// The figures of the terminal's progress line and when it is drawn, with
// the time given by the test; and the line itself on a pseudo-terminal.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/posix/posix_port.h"
#include "platform/posix/status_line.h"
#include "platform/progress_window.h"
#include "platform/session_clock.h"

namespace {

std::string figures(bool counter, uint32_t done, int32_t total, uint64_t bytes,
                    const StatusOrigin &from, uint64_t now_ms)
{
    char out[STATUS_FIGURES_SIZE];
    status_figures(out, sizeof out, counter, done, total, bytes, from, now_ms);
    return out;
}

StatusOrigin origin_at(uint64_t at_ms, uint32_t done, uint64_t bytes)
{
    StatusOrigin o;
    o.set = true;
    o.at_ms = at_ms;
    o.done = done;
    o.bytes = bytes;
    return o;
}

TEST(StatusFigures, RateAndTimeLeftAreMeasuredFromTheOrigin)
{
    // Header at 10 s with 100 bytes moved; 4 s later 85 of 340 records and
    // 7700 more bytes: 1925 B/s, and the other 255 records at the same pace
    // take 12 s.
    StatusOrigin from = origin_at(10000, 0, 100);
    EXPECT_EQ(figures(true, 85, 340, 7800, from, 14000), "   25.0%  1.9 kB/s  0:12 left");
    // The time left is rounded up: 0:00 only when every record is done.
    EXPECT_EQ(figures(true, 339, 340, 7800, from, 14000), "   99.7%  1.9 kB/s  0:01 left");
    EXPECT_EQ(figures(true, 340, 340, 7800, from, 14000), "  100.0%  1.9 kB/s  0:00 left");
}

TEST(StatusFigures, UnitsOfTheRateAndLongTimesLeft)
{
    StatusOrigin from = origin_at(0, 0, 0);
    EXPECT_EQ(figures(true, 1, 32767, 999, from, 1000), "    0.0%  999 B/s  9:06:06 left");
    EXPECT_EQ(figures(true, 1, 2, 11520, from, 1000), "   50.0%  11.5 kB/s  0:01 left");
    EXPECT_EQ(figures(true, 1, 2, 2500000, from, 1000), "   50.0%  2.5 MB/s  0:01 left");
}

TEST(StatusFigures, UnknownTotalRateOrPaceShowPlaceholders)
{
    StatusOrigin none;
    // Before the header: no total, no origin.
    EXPECT_EQ(figures(true, 0, -1, 40, none, 5000), "  --.-%  -- B/s  --:-- left");
    // The origin's own instant: no time yet to measure a rate in.
    StatusOrigin from = origin_at(5000, 0, 40);
    EXPECT_EQ(figures(true, 0, 10, 40, from, 5000), "    0.0%  -- B/s  --:-- left");
    // Bytes move, no record is done yet: a rate, but no pace for the rest.
    EXPECT_EQ(figures(true, 0, 10, 540, from, 6000), "    0.0%  500 B/s  --:-- left");
    // An empty file: nothing to count.
    EXPECT_EQ(figures(true, 0, 0, 40, from, 6000), "  --.-%  0 B/s  --:-- left");
}

TEST(StatusFigures, BarStyleCountsRecordsInsteadOfThePercentage)
{
    StatusOrigin from = origin_at(0, 1, 0);
    // 2 records in 2 s since the origin: the other 6 take 6 s.
    EXPECT_EQ(figures(false, 3, 9, 2000, from, 2000), "  3/9  1.0 kB/s  0:06 left");
    EXPECT_EQ(figures(false, 0, -1, 0, StatusOrigin(), 0), "  0/?  -- B/s  --:-- left");
    // More done than announced (a repeated record): nothing left, no wrap.
    EXPECT_EQ(figures(true, 12, 10, 2000, from, 2000), "  120.0%  1.0 kB/s  0:00 left");
}

TEST(StatusThrottle, DrawsAtMostEvery200msAndCatchesUpOnPendingChanges)
{
    StatusThrottle t;
    EXPECT_EQ(status_due_in(t, false, 0), -1) << "nothing to draw yet";
    ASSERT_TRUE(status_changed(t, 1000)) << "the first change is drawn at once";
    status_drawn(t, 1000);
    EXPECT_FALSE(status_changed(t, 1050));
    EXPECT_FALSE(status_changed(t, 1199));
    EXPECT_EQ(status_due_in(t, false, 1199), 1)
        << "the pending change is due 200 ms after the draw";
    EXPECT_EQ(status_due_in(t, false, 1200), 0);
    status_drawn(t, 1210);
    EXPECT_EQ(status_due_in(t, false, 1300), -1) << "drawn: nothing pending, no rate to follow";
    EXPECT_TRUE(status_changed(t, 1410)) << "200 ms after the last draw a change is drawn at once";
}

TEST(StatusThrottle, AStalledLineIsRefreshedEverySecond)
{
    StatusThrottle t;
    ASSERT_TRUE(status_changed(t, 0));
    status_drawn(t, 0);
    EXPECT_EQ(status_due_in(t, true, 400), 600);
    EXPECT_EQ(status_due_in(t, true, 1000), 0);
    EXPECT_EQ(status_due_in(t, true, 5000), 0);
}

// ---- the line on a terminal ------------------------------------------------

// stderr on a pseudo-terminal for the life of the record.
struct Pty {
    int master = -1, slave = -1, saved = -1;
    Pty()
    {
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            return;
        saved = dup(STDERR_FILENO);
        dup2(slave, STDERR_FILENO);
    }
    ~Pty()
    {
        if (master < 0)
            return;
        dup2(saved, STDERR_FILENO);
        close(saved);
        close(slave);
        close(master);
    }
    // What was drawn since the last call.
    std::string drain()
    {
        std::string out;
        char buf[4096];
        struct pollfd pfd = {master, POLLIN, 0};
        while (poll(&pfd, 1, 100) > 0) {
            ssize_t r = read(master, buf, sizeof buf);
            if (r <= 0)
                break;
            out.append(buf, static_cast<size_t>(r));
        }
        return out;
    }
};

size_t count_of(const std::string &s, char c)
{
    size_t n = 0;
    for (char x : s)
        n += x == c;
    return n;
}

TEST(PosixStatusLine, ManyQuickRecordsDrawAFewLinesAndTheLastOneAtTheEnd)
{
    PlatDisplay display{};   // the session's display, as its run-time record keeps it
    Pty pty;
    ASSERT_GE(pty.master, 0);
    ASSERT_TRUE(plat_progress_create(display, nullptr, 1, "ZDX-Ir  Receiving", {0, 0, 0}, {}));
    plat_progress_set_name(display, "DATA.TXT");
    char text[32];
    for (int done = 0; done <= 100; ++done) {
        plat_progress_show_counts(display, static_cast<uint32_t>(done), 100, 1000u + 10u * done);
        std::snprintf(text, sizeof text, "%05d / 00100", done);
        plat_progress_show_counter(display, text);
    }
    EXPECT_GE(posix_progress_due_in_ms(display), 0) << "the pending count waits for the pump";
    plat_progress_destroy(display);
    EXPECT_EQ(posix_progress_due_in_ms(display), -1) << "no display, nothing due";
    std::string out = pty.drain();
    // The name, maybe a count or two if the machine was slow, and the
    // last state at the end: far fewer than the 101 counts.
    // (The terminal shows the final newline as "\r\n".)
    EXPECT_LE(count_of(out, '\r'), 5u) << out;
    size_t last = out.rfind("\rZDX");
    ASSERT_NE(last, std::string::npos);
    std::string tail = out.substr(last);
    EXPECT_EQ(tail.find("\rZDX-Ir  Receiving  DATA.TXT  00100 / 00100  100.0%  "), 0u) << tail;
    EXPECT_NE(tail.find("0:00 left\033[K"), std::string::npos) << tail;
}

TEST(PosixStatusLine, ThePumpDrawsAPendingChangeWhenItIsDue)
{
    PlatDisplay display{};   // the session's display, as its run-time record keeps it
    Pty pty;
    ASSERT_GE(pty.master, 0);
    ASSERT_TRUE(plat_progress_create(display, nullptr, 1, "ZDX-Ir  Sending", {0, 0, 0}, {}));
    plat_progress_show_counts(display, 0, 3, 0);
    plat_progress_show_counter(display, "00000 / 00003");
    plat_progress_show_counts(display, 1, 3, 50);
    plat_progress_show_counter(display, "00001 / 00003");
    int due = posix_progress_due_in_ms(display);
    EXPECT_GT(due, 0);
    EXPECT_LE(due, 200);
    std::string first = pty.drain();
    EXPECT_EQ(first.find("00001 / 00003"), std::string::npos) << "drawn too soon: " << first;
    usleep(static_cast<useconds_t>(due + 20) * 1000);
    posix_progress_pump(display);
    std::string pumped = pty.drain();
    plat_progress_destroy(display);
    EXPECT_NE(pumped.find("00001 / 00003"), std::string::npos)
        << "the pump drew the count that came too soon: " << pumped;
}

// The session's pump services the display its clock names: the pending
// count is drawn by a wait, with no call to the display itself.
TEST(PosixStatusLine, TheSessionsPumpDrawsItsOwnDisplay)
{
    PlatDisplay display{};
    PlatClock clock{};
    clock.display = &display;
    Pty pty;
    ASSERT_GE(pty.master, 0);
    ASSERT_TRUE(plat_progress_create(display, nullptr, 1, "ZDX-Ir  Sending", {0, 0, 0}, {}));
    plat_progress_show_counts(display, 0, 3, 0);
    plat_progress_show_counter(display, "00000 / 00003");
    plat_progress_show_counts(display, 2, 3, 50);
    plat_progress_show_counter(display, "00002 / 00003");
    pty.drain();
    // A wait with no timer sleeps until the line is due, then draws it.
    plat_pump_wait(clock, PLAT_PORT_INVALID);
    std::string pumped = pty.drain();
    // Another session's clock does not reach this display.
    PlatClock other{};
    plat_progress_show_counts(display, 3, 3, 60);
    plat_progress_show_counter(display, "00003 / 00003");
    usleep(250 * 1000);
    plat_pump_messages(other);
    std::string elsewhere = pty.drain();
    plat_progress_destroy(display);
    EXPECT_NE(pumped.find("00002 / 00003"), std::string::npos) << pumped;
    EXPECT_EQ(elsewhere.find("00003 / 00003"), std::string::npos) << elsewhere;
}

TEST(PosixStatusLine, IsCutShortOfANarrowTerminalsWidth)
{
    PlatDisplay display{};   // the session's display, as its run-time record keeps it
    Pty pty;
    ASSERT_GE(pty.master, 0);
    struct winsize ws = {};
    ws.ws_col = 40;
    ws.ws_row = 24;
    ASSERT_EQ(ioctl(pty.master, TIOCSWINSZ, &ws), 0);
    ASSERT_TRUE(plat_progress_create(display, nullptr, 2, "ZDX-Ir  Receiving", {0, 0, 0}, {}));
    plat_progress_set_name(display, "DATA.TXT");
    plat_progress_show_counts(display, 1, 3, 100);
    plat_progress_show_bar(display, 1, 3, " 33.3%");
    plat_progress_destroy(display);
    std::string out = pty.drain();
    size_t last = out.rfind("\rZDX");
    ASSERT_NE(last, std::string::npos) << out;
    size_t end = out.find("\033[K", last);
    ASSERT_NE(end, std::string::npos) << out;
    // 39 characters: the cursor stays on the line's last column, no wrap.
    EXPECT_EQ(out.substr(last + 1, end - last - 1), "ZDX-Ir  Receiving  DATA.TXT  [#########");
}

}   // namespace
