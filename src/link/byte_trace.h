// byte_trace.h - a record of every byte through the serial channel, for
// people debugging a real adapter or terminal.
//
// One line per burst (one write, or one fetch of what was waiting):
//
//       1234 TX 10 02 41 42 ...  |..AB...|
//       1250 RX 10 06 30! 30  |..00|
//
// the time in ms since the port opened, TX for bytes to the terminal or RX
// for bytes from it, the bytes in hex ("!" after a byte received with a
// line error) and, between bars, the same bytes as text with '.' for what
// is not printable ASCII.  Lines with "--" instead of a direction are
// notes (unread input discarded, a failed write, the port closed); lines
// starting with "#" are headers.  A trace file is appended to, never
// truncated, so the sessions of one host stay in one file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// stdio buffer of the trace file, bytes: every line is flushed as soon as
// it is complete, so this only saves write calls within a line.
constexpr size_t TRACE_IO_BUFFER = 4096;

enum class TraceDir { Out, In };

struct ByteTrace {
    std::FILE *file = nullptr;   // null: tracing off
    uint64_t start_ms = 0;       // plat_clock_ms() its times count from
    char io_buffer[TRACE_IO_BUFFER];
};

// Opens (appends to) the file at path and writes the header naming the
// port and its speed; its lines count from start_ms (plat_clock_ms(), the
// port's opening).  False, with tracing off, when it cannot be opened.
bool trace_open(ByteTrace &t, const char *path, unsigned com_number, uint32_t baud_rate,
                uint64_t start_ms);

// One burst.  errors may be null (no byte flagged); else errors[i] != 0
// marks bytes[i] as received with a line error.
void trace_bytes(ByteTrace &t, TraceDir dir, const uint8_t *bytes, const uint8_t *errors, size_t n);

// A note line ("--").
void trace_note(ByteTrace &t, const char *text);

// Writes the closing note and closes the file.  Safe when tracing is off.
void trace_close(ByteTrace &t);

inline bool trace_on(const ByteTrace &t) { return t.file != nullptr; }
