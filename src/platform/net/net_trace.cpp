// net_trace.cpp - writing the network port's trace lines.
//
// The byte trace's line format (platform/trace_line.h), through a stream
// of its own: the platform sits below the channel that owns that trace.
#include "platform/net/net_trace.h"

#include <cstdio>
#include <new>

#include "platform/serial_port.h"
#include "platform/session_clock.h"
#include "platform/trace_line.h"

namespace {

// stdio buffer of the trace stream, bytes (as the byte trace's).
constexpr size_t IO_BUFFER = 4096;

// The trace file's path, as the byte trace reads it.
constexpr size_t PATH_SIZE = 4096;

}   // namespace

struct NetTrace {
    std::FILE *file;
    uint64_t start_ms;   // the port's opened_ms: the byte trace's zero too
    bool telnet;         // notes say "telnet:", else "tcp:"
    char io_buffer[IO_BUFFER];
};

NetTrace *net_trace_open(const char *shown, bool telnet, uint64_t start_ms)
{
    char path[PATH_SIZE];
    if (!plat_trace_telnet() || !plat_trace_path(path, sizeof path))
        return nullptr;
    NetTrace *t = new (std::nothrow) NetTrace;
    if (t == nullptr)
        return nullptr;
    t->start_ms = start_ms;
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
    trace_line_bytes(t->file, t->start_ms, dir == NetTraceDir::Sent ? "NT" : "NR", bytes, nullptr,
                     n);
}

void net_trace_note(NetTrace *t, const char *text)
{
    if (t == nullptr)
        return;
    trace_line_note(t->file, t->start_ms, t->telnet ? "-- telnet: " : "-- tcp: ", text);
}

void net_trace_close(NetTrace *t)
{
    if (t == nullptr)
        return;
    net_trace_note(t, "socket closed");
    std::fclose(t->file);
    delete t;
}
