// status_line.cpp - the figures of the terminal's progress line, and when
// the line is drawn.
#include "platform/posix/status_line.h"

#include <cstdio>

namespace {

constexpr uint64_t MS_PER_S = 1000;
constexpr uint64_t S_PER_MIN = 60;
constexpr uint64_t S_PER_HOUR = 3600;
constexpr uint64_t KILO = 1000;   // kB and MB are decimal, as line speeds are

// "1234 B/s", "12.3 kB/s", "1.2 MB/s" (tenths truncated).
void rate_text(char *out, size_t size, uint64_t per_s)
{
    if (per_s < KILO) {
        std::snprintf(out, size, "%llu B/s", static_cast<unsigned long long>(per_s));
        return;
    }
    const char *unit = "kB/s";
    uint64_t scale = KILO;
    if (per_s >= KILO * KILO) {
        unit = "MB/s";
        scale = KILO * KILO;
    }
    std::snprintf(out, size, "%llu.%llu %s", static_cast<unsigned long long>(per_s / scale),
                  static_cast<unsigned long long>(per_s % scale * 10 / scale), unit);
}

// "m:ss left", or "h:mm:ss left" from an hour on.
void left_text(char *out, size_t size, uint64_t seconds)
{
    unsigned long long h = seconds / S_PER_HOUR, m = seconds % S_PER_HOUR / S_PER_MIN,
                       s = seconds % S_PER_MIN;
    if (h > 0)
        std::snprintf(out, size, "%llu:%02llu:%02llu left", h, m, s);
    else
        std::snprintf(out, size, "%llu:%02llu left", m, s);
}

}   // namespace

void status_figures(char *out, size_t size, bool counter_style, uint32_t done, int32_t total,
                    uint64_t bytes, const StatusOrigin &from, uint64_t now_ms)
{
    char head[24];
    if (!counter_style) {
        if (total < 0)
            std::snprintf(head, sizeof head, "%lu/?", static_cast<unsigned long>(done));
        else
            std::snprintf(head, sizeof head, "%lu/%ld", static_cast<unsigned long>(done),
                          static_cast<long>(total));
    } else if (total > 0) {
        // 64-bit products: done * 1000 overflows 32 bits for large counts.
        uint64_t permille = uint64_t(done) * 1000 / static_cast<uint64_t>(total);
        std::snprintf(head, sizeof head, "%3llu.%llu%%",
                      static_cast<unsigned long long>(permille / 10),
                      static_cast<unsigned long long>(permille % 10));
    } else {
        std::snprintf(head, sizeof head, "--.-%%");
    }

    uint64_t elapsed = from.set && now_ms > from.at_ms ? now_ms - from.at_ms : 0;
    char rate[48] = "-- B/s";
    if (elapsed > 0) {
        uint64_t moved = bytes > from.bytes ? bytes - from.bytes : 0;
        rate_text(rate, sizeof rate, moved * MS_PER_S / elapsed);
    }

    char left[32] = "--:-- left";
    if (total > 0 && from.set) {
        uint64_t remaining = done < static_cast<uint32_t>(total) ? uint64_t(total) - done : 0;
        uint64_t progressed = done > from.done ? uint64_t(done) - from.done : 0;
        if (remaining == 0) {
            left_text(left, sizeof left, 0);
        } else if (progressed > 0 && elapsed > 0) {
            // At the pace since the origin; rounded up, so that "0:00"
            // means done.
            uint64_t left_ms = elapsed * remaining / progressed;
            left_text(left, sizeof left, (left_ms + MS_PER_S - 1) / MS_PER_S);
        }
    }
    std::snprintf(out, size, "  %s  %s  %s", head, rate, left);
}

bool status_changed(StatusThrottle &t, uint64_t now_ms)
{
    if (!t.drawn || now_ms >= t.drawn_ms + STATUS_DRAW_EVERY_MS)
        return true;
    t.pending = true;
    return false;
}

int64_t status_due_in(const StatusThrottle &t, bool refreshing, uint64_t now_ms)
{
    uint64_t due;
    if (t.pending && t.drawn)
        due = t.drawn_ms + STATUS_DRAW_EVERY_MS;
    else if (t.pending)
        return 0;
    else if (refreshing && t.drawn)
        due = t.drawn_ms + STATUS_REFRESH_MS;
    else
        return -1;
    return due <= now_ms ? 0 : static_cast<int64_t>(due - now_ms);
}

void status_drawn(StatusThrottle &t, uint64_t now_ms)
{
    t.drawn = true;
    t.drawn_ms = now_ms;
    t.pending = false;
}
