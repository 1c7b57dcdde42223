// adapter_port.h - the port operations an adapter procedure is built from.
//
// The plug-in borrows the session's open port for one call.  These wrap
// the platform's calls (Win32 communications functions, or termios and
// ioctl on a tty descriptor) so that the procedures read the same on every
// platform.  Every int result is 0 on success and -1 when the port call
// failed.
#pragma once

#include <cstdint>

#include "orv5_adapter.h"

#if defined(_WIN32)
using PortSettings = DCB;
#else
#  include <termios.h>
using PortSettings = struct termios;
#endif

// Speed to which the adapter listens for its commands, bit/s.
constexpr uint32_t ADAPTER_COMMAND_SPEED = 9600;

int port_read_settings(orv5_port_handle port, PortSettings *settings);

// The speed in settings, bit/s; 0 for a speed without a standard value.
uint32_t port_speed_of(const PortSettings &settings);

// Applies settings with their speed replaced by baud (one of the speeds of
// the adapters' tables).
int port_apply_speed(orv5_port_handle port, const PortSettings &settings, uint32_t baud);

// Applies settings unchanged.
int port_apply(orv5_port_handle port, const PortSettings &settings);

int port_set_rts(orv5_port_handle port, bool on);
int port_set_dtr(orv5_port_handle port, bool on);

// Returns once everything written has left the port, plus one character
// time at ADAPTER_COMMAND_SPEED for the byte the UART may still be
// shifting out: a line or speed change after that cannot cut it off.
int port_wait_sent(orv5_port_handle port);

void port_sleep_ms(unsigned ms);

// Discards pending input, checks the port answers for its modem status,
// writes the bytes and discards pending input again, so that nothing the
// adapter answers reaches the transfer.  The count written, or -1.
int adapter_write(orv5_port_handle port, uint32_t len, const uint8_t *bytes);
