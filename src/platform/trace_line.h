// trace_line.h - one line of a trace file, in the format the byte trace
// (link/byte_trace) and the network port's socket trace (net/net_trace)
// share, so that both can write to one file:
//
//       1234 TX 10 02 41 42 ...  |..AB...|
//       1250 -- port closed
//
// the time in ms since start_ms, a tag, the bytes in hex ("!" after a byte
// with a line error) and between bars as text, '.' for what is not
// printable ASCII; or a note.  A line goes out piecewise through a small
// fixed buffer, so a burst of any length needs no allocation, and is
// flushed at its end, so that the lines of two streams on one file never
// interleave and a trace is complete up to the last burst if the host dies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "platform/session_clock.h"

namespace trace_line_detail {

// Characters gathered before they go to the stream: a hex triple and its
// "!" for a few dozen bytes.
constexpr size_t CHUNK_SIZE = 128;

// Room for a time stamp and a tag: 20 digits of uint64_t, blanks, a tag
// of a dozen characters and NUL.
constexpr size_t PREFIX_SIZE = 48;

constexpr char HEX_DIGITS[] = "0123456789ABCDEF";

struct Chunk {
    std::FILE *file;
    char text[CHUNK_SIZE];
    size_t used;

    void put(char c)
    {
        if (used == sizeof text) {
            std::fwrite(text, 1, used, file);
            used = 0;
        }
        text[used++] = c;
    }
    void flush()
    {
        if (used > 0)
            std::fwrite(text, 1, used, file);
        used = 0;
    }
};

inline void put_prefix(std::FILE *f, uint64_t start_ms, const char *tag)
{
    char prefix[PREFIX_SIZE];
    unsigned long long ms = plat_clock_ms() - start_ms;
    std::snprintf(prefix, sizeof prefix, "%8llu %s", ms, tag);
    std::fputs(prefix, f);
}

inline void end_line(std::FILE *f)
{
    std::fputc('\n', f);
    std::fflush(f);
}

}   // namespace trace_line_detail

// A line of n bytes under tag ("TX", "NR" ...); errors, when not null,
// marks each byte received with a line error.
inline void trace_line_bytes(std::FILE *f, uint64_t start_ms, const char *tag, const uint8_t *bytes,
                             const uint8_t *errors, size_t n)
{
    using namespace trace_line_detail;
    put_prefix(f, start_ms, tag);
    Chunk c{f, {}, 0};
    for (size_t i = 0; i < n; ++i) {
        c.put(' ');
        c.put(HEX_DIGITS[bytes[i] >> 4]);
        c.put(HEX_DIGITS[bytes[i] & 0x0F]);
        if (errors != nullptr && errors[i] != 0)
            c.put('!');
    }
    c.put(' ');
    c.put(' ');
    c.put('|');
    for (size_t i = 0; i < n; ++i) {
        const bool printable = bytes[i] >= 0x20 && bytes[i] <= 0x7E;
        c.put(printable ? static_cast<char>(bytes[i]) : '.');
    }
    c.put('|');
    c.flush();
    end_line(f);
}

// A note line: the time, then lead ("-- ", "-- telnet: " ...) and text.
inline void trace_line_note(std::FILE *f, uint64_t start_ms, const char *lead, const char *text)
{
    trace_line_detail::put_prefix(f, start_ms, lead);
    std::fputs(text, f);
    trace_line_detail::end_line(f);
}
