// serial.cpp - the session's serial channel on top of the platform port.
#include "link/serial.h"

#include <cstdio>

#include "orv5w32.h"

namespace {

// Trace file path: the platform's paths and a little more.
constexpr size_t TRACE_PATH_SIZE = 4096;

// A trace note: "write failed after 4294967295 of 4294967295 bytes".
constexpr size_t NOTE_SIZE = 64;

// opened_ms: plat_clock_ms() as the port's opening began, the trace's
// zero, which a network port's own trace lines share.
void start_trace(SerialChannel &ch, unsigned com_number, const LineSettings &line,
                 uint64_t opened_ms)
{
    char path[TRACE_PATH_SIZE];
    if (plat_trace_path(path, sizeof path))
        trace_open(ch.trace, path, com_number, line.baud_rate, opened_ms);
}

// Takes whatever waits in the driver into the (empty) receive buffer.
// False when the port failed.
bool refill(SerialChannel &ch)
{
    ch.rx_pos = ch.rx_fill = 0;
    uint32_t n = 0;
    if (!plat_port_read(ch.port, ch.rx_bytes, ch.rx_errors, COM_RX_BUFFER, &n)) {
        trace_note(ch.trace, "read failed");
        ++ch.failed_fetches;
        return false;
    }
    ch.failed_fetches = 0;
    ch.rx_fill = n;
    ch.bytes_moved += n;
    if (n > 0 && ch.rx_due > 0) {
        ch.rx_due = n < ch.rx_due ? ch.rx_due - n : 0;
        plat_port_expect(ch.port, ch.rx_due);
    }
    if (n > 0) {
        ch.line_errors = 0;
        for (uint32_t i = 0; i < n; ++i)
            ch.line_errors |= ch.rx_errors[i];
    }
    trace_bytes(ch.trace, TraceDir::In, ch.rx_bytes, ch.rx_errors, n);
    return true;
}

uint32_t buffered(const SerialChannel &ch) { return ch.rx_fill - ch.rx_pos; }

}   // namespace

Orv5Result com_open(SerialChannel &ch, unsigned com_number, const LineSettings &line)
{
    ch.line_errors = 0;
    ch.rx_fill = ch.rx_pos = 0;
    ch.failed_fetches = 0;
    ch.rx_due = 0;
    ch.bytes_moved = 0;
    ch.trace.file = nullptr;
    char name[PLAT_PORT_NAME_SIZE];
    if (!plat_port_name(com_number, name, sizeof name))
        return ORV5_E_PORT_OPEN;
    ch.port = plat_port_open(ch.port_object, name);
    if (ch.port == PLAT_PORT_INVALID)
        return ORV5_E_PORT_OPEN;
    plat_port_setup_queues(ch.port, COM_IN_QUEUE, COM_OUT_QUEUE);
    com_clear_tx(ch);
    com_clear_rx(ch);
    Orv5Result rc = com_configure(ch, com_number, line);
    if (rc != 0) {
        com_close(ch);
        return rc;
    }
    start_trace(ch, com_number, line, ch.port->opened_ms);
    return ORV5_OK;
}

Orv5Result com_configure(SerialChannel &ch, unsigned, const LineSettings &line)
{
    return plat_port_configure(ch.port, line) ? ORV5_OK : ORV5_E_COMMAND;
}

void com_close(SerialChannel &ch)
{
    if (ch.port == PLAT_PORT_INVALID)
        return;
    com_clear_tx(ch);
    plat_port_close(ch.port);
    ch.port = PLAT_PORT_INVALID;
    ch.rx_fill = ch.rx_pos = 0;
    ch.rx_due = 0;
    trace_close(ch.trace);
}

void com_clear_tx(SerialChannel &ch)
{
    // Pending output is discarded only while CTS is on: without a
    // listening adapter there is nothing worth saving either way.
    uint32_t lines = 0;
    if (!plat_port_modem_status(ch.port, &lines))
        return;
    if (lines & PLAT_MODEM_CTS)
        plat_port_purge_tx(ch.port);
}

void com_clear_rx(SerialChannel &ch)
{
    uint32_t unread = buffered(ch);
    if (unread > 0 && trace_on(ch.trace)) {
        char note[NOTE_SIZE];
        std::snprintf(note, sizeof note, "%lu fetched bytes discarded unread",
                      static_cast<unsigned long>(unread));
        trace_note(ch.trace, note);
    }
    ch.rx_fill = ch.rx_pos = 0;
    plat_port_purge_rx(ch.port);
    // What was due went with the purge.
    com_expect(ch, 0);
}

int com_write(SerialChannel &ch, int length, const void *bytes)
{
    // An answer to an earlier transmission that was never read is stale.
    com_clear_rx(ch);
    uint32_t lines = 0;
    if (!plat_port_modem_status(ch.port, &lines))
        return -1;
    uint32_t len = length > 0 ? static_cast<uint32_t>(length) : 0;
    uint32_t written = 0;
    bool ok = plat_port_write(ch.port, bytes, len, &written);
    ch.bytes_moved += written;
    trace_bytes(ch.trace, TraceDir::Out, static_cast<const uint8_t *>(bytes), nullptr, written);
    if (!ok) {
        // The backend keeps the line errors it learnt for the next byte.
        if (trace_on(ch.trace)) {
            char note[NOTE_SIZE];
            std::snprintf(note, sizeof note, "write failed after %lu of %lu bytes",
                          static_cast<unsigned long>(written), static_cast<unsigned long>(len));
            trace_note(ch.trace, note);
        }
        return -1;
    }
    return static_cast<int>(written);
}

int com_getc(SerialChannel &ch)
{
    if (buffered(ch) == 0) {
        if (!refill(ch))
            return COM_FLAGGED;   // a failed read: no usable byte
        if (buffered(ch) == 0)
            return -1;
    }
    uint8_t b = ch.rx_bytes[ch.rx_pos];
    bool damaged = ch.rx_errors[ch.rx_pos] != 0;
    ++ch.rx_pos;
    return damaged ? COM_FLAGGED + b : b;
}

uint32_t com_rx_count(SerialChannel &ch)
{
    if (buffered(ch) == 0 && !refill(ch))
        return 0;   // keeps the polling loops on their time-out paths
    return buffered(ch);
}

void com_expect(SerialChannel &ch, uint32_t bytes_due)
{
    // Those already fetched are no longer the port's to wait for.
    uint32_t unread = buffered(ch);
    uint32_t due = bytes_due > unread ? bytes_due - unread : 0;
    if (due == 0 && ch.rx_due == 0)
        return;   // no hint given, none to take back
    ch.rx_due = due;
    plat_port_expect(ch.port, due);
}

bool com_line_gone(const SerialChannel &ch) { return ch.failed_fetches >= COM_GONE_AFTER_FAILURES; }
