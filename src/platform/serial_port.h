// serial_port.h - the platform's serial port.
//
// The portable serial channel (link/serial.cpp) builds the session's port
// handling from these.  The interface speaks of line settings, modem lines
// and line errors in its own terms; each backend translates: Win32 into
// the communications API, POSIX into termios and ioctl, the simulated one
// into a virtual line driven by a scripted terminal.
//
// Every failure of open, configure and write is also kept, in the system's
// own words and naming the device, by plat_reason_note (os_reason.h).
#pragma once

#include <cstddef>
#include <cstdint>

using plat_port = intptr_t;            // HANDLE on Win32, fd on POSIX
constexpr plat_port PLAT_PORT_INVALID = -1;

// Modem lines reported by plat_port_modem_status (set = line on).
constexpr uint32_t PLAT_MODEM_CTS = 0x01;    // clear to send
constexpr uint32_t PLAT_MODEM_DSR = 0x02;    // data set ready
constexpr uint32_t PLAT_MODEM_RING = 0x04;   // ring indicator
constexpr uint32_t PLAT_MODEM_DCD = 0x08;    // data carrier detect

// Line errors, per received byte (plat_port_read).  Any of them makes the
// byte unusable.
constexpr uint8_t PLAT_LINE_OVERRUN = 0x01;   // the UART lost bytes before this one
constexpr uint8_t PLAT_LINE_PARITY = 0x02;    // parity error
constexpr uint8_t PLAT_LINE_FRAMING = 0x04;   // framing error (or the stream is out of step)
constexpr uint8_t PLAT_LINE_BREAK = 0x08;     // break condition
constexpr uint8_t PLAT_LINE_QUEUE_FULL = 0x10;   // the driver's input queue overflowed
constexpr uint8_t PLAT_LINE_OTHER = 0x80;     // an error the platform does not name

struct LineSettings {
    uint32_t baud_rate;        // bit/s
    int eight_data_bits;       // non-zero = 8, zero = 7
    int parity;                // 1 odd, 2 even, other none
    int two_stop_bits;         // non-zero = 2
};

// Opens "COM<com_number>" for exclusive read/write.  POSIX: the device is
// $ORV5_DEVICE when set (the CLI's --device), else $ORV5_COM<n>, else
// /dev/ttyS<n-1>.  Returns PLAT_PORT_INVALID on failure.
plat_port plat_port_open(unsigned com_number);

// Requests driver queue sizes, bytes.  Result not checked by callers.
void plat_port_setup_queues(plat_port port, uint32_t in_bytes, uint32_t out_bytes);

// Applies speed, data bits, parity and stop bits, raw binary transfer, no
// flow control, RTS and DTR held on.  False = refused.
bool plat_port_configure(plat_port port, const LineSettings &settings);

// Reads the modem lines (PLAT_MODEM_*).  A port without modem lines (a
// pseudo-terminal) reports success with no line on; false only on a real
// failure.
bool plat_port_modem_status(plat_port port, uint32_t *lines);

void plat_port_purge_tx(plat_port port);   // discard pending output
void plat_port_purge_rx(plat_port port);   // discard pending input

// Synchronous write of len bytes; false on failure (*written: bytes that
// went out before it).
bool plat_port_write(plat_port port, const void *bytes, uint32_t len, uint32_t *written);

// Fetches what is waiting, at most capacity bytes, in one go and without
// waiting for more: bytes[i] with its PLAT_LINE_* flags in errors[i].
// *count is 0 when nothing waits.  A line error the driver reports without
// a byte to pin it on flags the next byte fetched.  False when the port
// failed (hang-up, device gone).
bool plat_port_read(plat_port port, uint8_t *bytes, uint8_t *errors, uint32_t capacity,
                    uint32_t *count);

void plat_port_close(plat_port port);

// The byte-trace file named by the environment variable ORV5_TRACE, read
// from the process environment as it is now.  False when it is unset,
// empty or longer than size - 1.
bool plat_trace_path(char *out, size_t size);
