// byte_trace.cpp - writing the byte trace (its lines: platform/trace_line.h).
#include "link/byte_trace.h"

#include "platform/trace_line.h"

bool trace_open(ByteTrace &t, const char *path, unsigned com_number, uint32_t baud_rate,
                uint64_t start_ms)
{
    t.file = nullptr;
    if (path == nullptr || *path == '\0')
        return false;
    std::FILE *f = std::fopen(path, "a");
    if (f == nullptr)
        return false;
    std::setvbuf(f, t.io_buffer, _IOFBF, sizeof t.io_buffer);
    t.file = f;
    t.start_ms = start_ms;
    std::fprintf(f,
                 "# byte trace of COM%u at %lu bit/s: ms since open, TX to the terminal, "
                 "RX from it, ! = received with a line error\n",
                 com_number, static_cast<unsigned long>(baud_rate));
    std::fflush(f);
    return true;
}

void trace_bytes(ByteTrace &t, TraceDir dir, const uint8_t *bytes, const uint8_t *errors, size_t n)
{
    if (t.file == nullptr || n == 0)
        return;
    trace_line_bytes(t.file, t.start_ms, dir == TraceDir::Out ? "TX" : "RX", bytes, errors, n);
}

void trace_note(ByteTrace &t, const char *text)
{
    if (t.file == nullptr)
        return;
    trace_line_note(t.file, t.start_ms, "-- ", text);
}

void trace_close(ByteTrace &t)
{
    if (t.file == nullptr)
        return;
    trace_note(t, "port closed");
    std::fclose(t.file);
    t.file = nullptr;
}
