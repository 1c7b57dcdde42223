// serial.h - the session's serial channel.
//
// One channel record per session, created by the session driver and handed
// to the code that talks to the terminal.  Reception is polled: ask
// com_rx_count, then read one byte with com_getc, so the session thread can
// pump messages between polls.  Underneath, the channel fetches everything
// that waits in the driver in one read and hands it out byte by byte.
//
// While a frame of known length comes in, the receiver tells the channel
// with com_expect how many bytes are still due; the channel keeps the port
// told how many of them it has not fetched yet, so that the pump waits for
// them in one go instead of waking per byte on a line that hands bytes
// over one at a time.
//
// Byte trace: when the process environment has ORV5_TRACE naming a file at
// com_open, every byte written and fetched is appended to it (format in
// byte_trace.h) until com_close.  A file that cannot be opened leaves the
// session untraced.
#pragma once

#include <cstdint>
#include "link/byte_trace.h"
#include "orv5w32.h"
#include "platform/serial_port.h"

// Driver queue sizes requested at open, bytes.  The input queue is twice
// the output queue; 792 is also the receive-buffer limit of a frame.
constexpr uint32_t COM_IN_QUEUE = 1584;
constexpr uint32_t COM_OUT_QUEUE = 792;

// Receive buffer of the channel, bytes: as much as the driver's input
// queue holds, so one fetch empties it.
constexpr uint32_t COM_RX_BUFFER = COM_IN_QUEUE;

// A com_getc result with any of these bits set is no usable byte.
constexpr int COM_NO_BYTE_MASK = 0xFF00;
constexpr int COM_FLAGGED = 0xFF00;   // + byte: read with a line error

// Fetches failing in a row after which the port counts as gone (device
// unplugged, line hung up).  One failure alone is forgiven: a driver may
// report a passing fault; each fetch is one turn of a waiting loop.
constexpr uint32_t COM_GONE_AFTER_FAILURES = 3;

struct SerialChannel {
    // The port object lives here, in the session's record, so opening a
    // port allocates nothing; port points at it while it is open.  The
    // record is not copied once open (port would point into the original).
    PlatPort port_object{};
    plat_port port = PLAT_PORT_INVALID;   // &port_object, or PLAT_PORT_INVALID while closed
    uint32_t line_errors = 0;             // PLAT_LINE_* flags of the bytes last fetched
    uint8_t rx_bytes[COM_RX_BUFFER];      // fetched, not yet handed out from rx_pos
    uint8_t rx_errors[COM_RX_BUFFER];     // PLAT_LINE_* flags of each
    uint32_t rx_fill = 0;                 // bytes in rx_bytes
    uint32_t rx_pos = 0;                  // next byte to hand out
    uint32_t failed_fetches = 0;          // fetches in a row that failed
    uint32_t rx_due = 0;                  // bytes still due (com_expect) and not fetched yet
    uint64_t bytes_moved = 0;             // written and fetched since com_open (the display's rate)
    ByteTrace trace;                      // off unless ORV5_TRACE was set at open
};

// Opens COM<com_number> and applies line.  0, 75 (cannot open) or 9
// (settings refused); the channel is closed again on failure.
[[nodiscard]] Orv5Result com_open(SerialChannel &ch, unsigned com_number, const LineSettings &line);
[[nodiscard]] Orv5Result com_configure(SerialChannel &ch, unsigned com_number,
                                       const LineSettings &line);   // 0 or 9
void com_close(SerialChannel &ch);                                  // safe when closed
void com_clear_tx(SerialChannel &ch);   // purge output, only while CTS is on
void com_clear_rx(SerialChannel &ch);   // purge input, fetched bytes included
int com_write(SerialChannel &ch, int length, const void *bytes);   // bytes written, or -1
int com_getc(SerialChannel &ch);            // 0..255, COM_FLAGGED + byte, or -1
uint32_t com_rx_count(SerialChannel &ch);   // bytes waiting (0 when the query fails)
// At least bytes_due more bytes follow those handed out so far (the rest
// of a frame whose length is known; a lower bound); 0 when the frame ended
// or broke off.  Only a hint for the waits: nothing is held back.
void com_expect(SerialChannel &ch, uint32_t bytes_due);
// True once COM_GONE_AFTER_FAILURES fetches in a row failed: no byte will
// come any more, and waiting for one would wait out the time-out (or for
// ever, where no time-out applies).
bool com_line_gone(const SerialChannel &ch);
