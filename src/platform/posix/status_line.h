// status_line.h - the figures of the terminal's progress line, and when
// the line is drawn.
//
// Pure: every function is given the time (ms, any monotonic origin) by its
// caller, so that tests need no clock.  The line is redrawn at most every
// STATUS_DRAW_EVERY_MS however fast records go, and a change that comes
// sooner is drawn once that time is up; while nothing changes it is
// redrawn every STATUS_REFRESH_MS, so that the rate and the time left
// follow a stalled line.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint64_t STATUS_DRAW_EVERY_MS = 200;
constexpr uint64_t STATUS_REFRESH_MS = 1000;

// Room for the figures, whatever the numbers.
constexpr size_t STATUS_FIGURES_SIZE = 128;

// Where the rate and the time left are measured from: the first count of
// the transfer (the received header, or the first record sent).
struct StatusOrigin {
    bool set = false;
    uint64_t at_ms = 0;
    uint32_t done = 0;    // records done then
    uint64_t bytes = 0;   // bytes moved then
};

// The figures after the counter or the bar, each with two blanks before:
// the percentage (counter style) or "done/total" records (bar style, whose
// bar shows the percentage already), the line's rate in bytes per second
// and the time left, e.g. "   12.5%  1.9 kB/s  0:12 left".  A total < 0
// (not known yet) or 0 leaves the percentage and the time left unknown:
// "--.-%", "--:-- left"; a rate needs time since the origin: "-- B/s".
void status_figures(char *out, size_t size, bool counter_style, uint32_t done, int32_t total,
                    uint64_t bytes, const StatusOrigin &from, uint64_t now_ms);

struct StatusThrottle {
    bool drawn = false;      // drawn since the display was created
    uint64_t drawn_ms = 0;   // when last drawn
    bool pending = false;    // a change waits to be drawn
};

// Something shown changed at now_ms: true when the line is to be drawn now
// (then call status_drawn); otherwise the change is kept pending.
bool status_changed(StatusThrottle &t, uint64_t now_ms);

// ms until the line is due to be drawn again: 0 now, -1 not at all.
// refreshing: the figures move with time (a rate is being measured).
int64_t status_due_in(const StatusThrottle &t, bool refreshing, uint64_t now_ms);

void status_drawn(StatusThrottle &t, uint64_t now_ms);
