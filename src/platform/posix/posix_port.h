// posix_port.h - what the POSIX serial port shares with the pump and tests.
#pragma once

#include <cstdint>

// Line error flags reported by plat_port_clear_errors (the Win32 CE_* bit
// values, so every platform reports the same word).
constexpr uint32_t POSIX_CE_OVERRUN = 0x0002;   // the UART lost bytes
constexpr uint32_t POSIX_CE_RXPARITY = 0x0004;  // parity error
constexpr uint32_t POSIX_CE_FRAME = 0x0008;     // framing error
constexpr uint32_t POSIX_CE_BREAK = 0x0010;     // break condition

// With PARMRK the line discipline marks a byte received with a parity or
// framing error as 0xFF 0x00 byte, a break as 0xFF 0x00 0x00, and doubles a
// real 0xFF.  The decoder undoes that one raw byte at a time.
struct ParmrkDecoder {
    uint8_t marks;   // mark bytes seen so far: 0, 1 (0xFF) or 2 (0xFF 0x00)
};

// Feeds one raw byte.  True when a data byte is complete: it is in *out and
// its error flags have been or'ed into *errors.
bool parmrk_feed(ParmrkDecoder &dec, uint8_t raw, uint8_t *out, uint32_t *errors);

// True when the port (an fd from plat_port_open) has a byte ready to read
// without sleeping: decoded ahead or waiting in the driver.
bool posix_port_input_ready(int fd);

// Sets a line speed that has no Bnnn constant (56000, 128000, 256000 ...)
// on a port already configured otherwise.  False when the platform cannot.
bool posix_set_custom_speed(int fd, uint32_t baud);
