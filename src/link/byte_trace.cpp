// byte_trace.cpp - writing the byte trace.
//
// Lines are written piecewise through a small fixed buffer, so a burst of
// any length needs no allocation, and flushed at their end, so a trace
// stays complete up to the last burst even if the host dies.
#include "link/byte_trace.h"

#include <cstring>

#include "platform/session_clock.h"

namespace {

// Characters gathered before they go to the stream: a hex triple and its
// "!" for a few dozen bytes.
constexpr size_t CHUNK_SIZE = 128;

// Room for a time stamp, a direction and the blanks around them:
// 20 digits of uint64_t + " TX " + NUL.
constexpr size_t PREFIX_SIZE = 32;

constexpr char HEX_DIGITS[] = "0123456789ABCDEF";

struct Chunk {
    std::FILE *file;
    char text[CHUNK_SIZE];
    size_t used = 0;

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

void put_prefix(ByteTrace &t, const char *what)
{
    char prefix[PREFIX_SIZE];
    unsigned long long ms = plat_clock_ms() - t.start_ms;
    std::snprintf(prefix, sizeof prefix, "%8llu %s", ms, what);
    std::fputs(prefix, t.file);
}

void end_line(ByteTrace &t)
{
    std::fputc('\n', t.file);
    std::fflush(t.file);
}

bool printable(uint8_t b) { return b >= 0x20 && b <= 0x7E; }

}   // namespace

bool trace_open(ByteTrace &t, const char *path, unsigned com_number, uint32_t baud_rate)
{
    t.file = nullptr;
    if (path == nullptr || *path == '\0')
        return false;
    std::FILE *f = std::fopen(path, "a");
    if (f == nullptr)
        return false;
    std::setvbuf(f, t.io_buffer, _IOFBF, sizeof t.io_buffer);
    t.file = f;
    t.start_ms = plat_clock_ms();
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
    put_prefix(t, dir == TraceDir::Out ? "TX" : "RX");
    Chunk c{t.file, {}, 0};
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
    for (size_t i = 0; i < n; ++i)
        c.put(printable(bytes[i]) ? static_cast<char>(bytes[i]) : '.');
    c.put('|');
    c.flush();
    end_line(t);
}

void trace_note(ByteTrace &t, const char *text)
{
    if (t.file == nullptr)
        return;
    put_prefix(t, "-- ");
    std::fputs(text, t.file);
    end_line(t);
}

void trace_close(ByteTrace &t)
{
    if (t.file == nullptr)
        return;
    trace_note(t, "port closed");
    std::fclose(t.file);
    t.file = nullptr;
}
