// net_trace.cpp - writing the network port's trace lines.
//
// The same line format as the byte trace (link/byte_trace.cpp), written
// apart from it because the platform sits below the channel that owns
// that trace.  A line is built piecewise through a small fixed buffer, so
// a burst of any length needs no allocation, and flushed at its end, so
// that the lines of the two streams on the file never interleave.
#include "platform/net/net_trace.h"

#include <cstdio>
#include <new>

#include "platform/serial_port.h"
#include "platform/session_clock.h"

namespace {

// stdio buffer of the trace stream, bytes (as the byte trace's).
constexpr size_t IO_BUFFER = 4096;

// Characters gathered before they go to the stream.
constexpr size_t CHUNK_SIZE = 128;

// Room for a time stamp and a tag: 20 digits of uint64_t + " NT " + NUL.
constexpr size_t PREFIX_SIZE = 32;

// The trace file's path, as the byte trace reads it.
constexpr size_t PATH_SIZE = 4096;

constexpr char HEX_DIGITS[] = "0123456789ABCDEF";

bool printable(uint8_t b) { return b >= 0x20 && b <= 0x7E; }

}   // namespace

struct NetTrace {
    std::FILE *file;
    uint64_t start_ms;   // plat_clock_ms() when the port opened
    bool telnet;         // notes say "telnet:", else "tcp:"
    char io_buffer[IO_BUFFER];
};

namespace {

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

void put_prefix(NetTrace &t, const char *tag)
{
    char prefix[PREFIX_SIZE];
    unsigned long long ms = plat_clock_ms() - t.start_ms;
    std::snprintf(prefix, sizeof prefix, "%8llu %s", ms, tag);
    std::fputs(prefix, t.file);
}

void end_line(NetTrace &t)
{
    std::fputc('\n', t.file);
    std::fflush(t.file);
}

}   // namespace

NetTrace *net_trace_open(const char *shown, bool telnet)
{
    char path[PATH_SIZE];
    if (!plat_trace_telnet() || !plat_trace_path(path, sizeof path))
        return nullptr;
    NetTrace *t = new (std::nothrow) NetTrace;
    if (t == nullptr)
        return nullptr;
    t->start_ms = plat_clock_ms();
    t->telnet = telnet;
    t->file = std::fopen(path, "a");
    if (t->file == nullptr) {
        delete t;
        return nullptr;
    }
    std::setvbuf(t->file, t->io_buffer, _IOFBF, sizeof t->io_buffer);
    std::fprintf(t->file,
                 "# socket trace of %s: ms since open, NT sent on the socket, NR received from"
                 " it, %s\n",
                 shown, telnet ? "telnet framing included" : "raw bytes (no telnet)");
    std::fflush(t->file);
    return t;
}

void net_trace_bytes(NetTrace *t, NetTraceDir dir, const uint8_t *bytes, size_t n)
{
    if (t == nullptr || n == 0)
        return;
    put_prefix(*t, dir == NetTraceDir::Sent ? "NT" : "NR");
    Chunk c{t->file, {}, 0};
    for (size_t i = 0; i < n; ++i) {
        c.put(' ');
        c.put(HEX_DIGITS[bytes[i] >> 4]);
        c.put(HEX_DIGITS[bytes[i] & 0x0F]);
    }
    c.put(' ');
    c.put(' ');
    c.put('|');
    for (size_t i = 0; i < n; ++i)
        c.put(printable(bytes[i]) ? static_cast<char>(bytes[i]) : '.');
    c.put('|');
    c.flush();
    end_line(*t);
}

void net_trace_note(NetTrace *t, const char *text)
{
    if (t == nullptr)
        return;
    put_prefix(*t, t->telnet ? "-- telnet: " : "-- tcp: ");
    std::fputs(text, t->file);
    end_line(*t);
}

void net_trace_close(NetTrace *t)
{
    if (t == nullptr)
        return;
    net_trace_note(t, "socket closed");
    std::fclose(t->file);
    delete t;
}
