// posix_port.h - what the POSIX serial port shares with the pump and tests.
#pragma once

#include <cstdint>
#include "platform/serial_port.h"

// The backend of terminal devices (serial_posix.cpp).
extern const PortOps POSIX_TTY_OPS;

// With PARMRK the line discipline marks a byte received with a parity or
// framing error as 0xFF 0x00 byte, a break as 0xFF 0x00 0x00, and doubles a
// real 0xFF.  The decoder undoes that one raw byte at a time.
struct ParmrkDecoder {
    uint8_t marks;   // mark bytes seen so far: 0, 1 (0xFF) or 2 (0xFF 0x00)
};

// Feeds one raw byte.  True when a data byte is complete: it is in *out and
// its PLAT_LINE_* flags have been or'ed into *errors.
bool parmrk_feed(ParmrkDecoder &dec, uint8_t raw, uint8_t *out, uint8_t *errors);

// True when the tty descriptor fd has raw input waiting in the driver.
bool posix_port_input_ready(int fd);

// How long the pump may sleep on port before a hinted wait (PortOps::expect)
// runs out, ms; -1 when no hinted wait runs (or the port is no tty).
int posix_port_wait_limit_ms(const PlatPort &port);

// How long, in a hinted wait, the pump sleeps without watching port (the
// due bytes cannot all be in yet, and a tty wakes a poller on every byte),
// us; 0 when it watches the port now.
int64_t posix_port_quiet_us(const PlatPort &port);

// Sets a line speed that has no Bnnn constant (56000, 128000, 256000 ...)
// on a port already configured otherwise.  False when the platform cannot.
bool posix_set_custom_speed(int fd, uint32_t baud);

// The progress line's part in the pump (progress_posix.cpp): ms until it
// is due to be drawn again (-1: not at all), and the draw when it is due.
struct PlatDisplay;
int posix_progress_due_in_ms(PlatDisplay &display);
void posix_progress_pump(PlatDisplay &display);
