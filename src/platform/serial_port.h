// serial_port.h - the platform's serial port, one primitive per driver call.
//
// The portable serial channel (link/serial.cpp) builds the session's port
// handling from these.  They mirror the Win32 communications calls one to
// one; the POSIX implementation maps them onto termios and ioctl, the
// simulated one onto a virtual line driven by a scripted terminal.
#pragma once

#include <cstdint>

using plat_port = intptr_t;            // HANDLE on Win32, fd on POSIX
constexpr plat_port PLAT_PORT_INVALID = -1;

// Modem status bits, Win32 values.
constexpr uint32_t PLAT_MS_CTS_ON = 0x0010;
constexpr uint32_t PLAT_MS_DSR_ON = 0x0020;

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

// Applies the line settings.  mode is the Win32 mode string
// "COMn:baud,p,d,s"; POSIX uses settings instead.  False = refused.
bool plat_port_configure(plat_port port, const char *mode, const LineSettings &settings);

// Reads the modem lines.  A port without modem lines (a pseudo-terminal)
// reports success with status 0; false only on a real failure.
bool plat_port_modem_status(plat_port port, uint32_t *status);

void plat_port_purge_tx(plat_port port);   // discard pending output
void plat_port_purge_rx(plat_port port);   // discard pending input

// Synchronous write of len bytes; false on failure.
bool plat_port_write(plat_port port, const void *bytes, uint32_t len, uint32_t *written);

// Reads at most one byte; *n is 0 when none was waiting.  False on failure.
bool plat_port_read_byte(plat_port port, uint8_t *byte, uint32_t *n);

// Fetches and clears the line error flags (overrun, parity, framing,
// break) and the number of bytes waiting.  False on failure.
bool plat_port_clear_errors(plat_port port, uint32_t *errors, uint32_t *in_queue);

void plat_port_close(plat_port port);
