// win32_port.h - what the Win32 serial port offers the pump.
#pragma once

#include <cstdint>
#include "platform/serial_port.h"

// Longest a one-byte read waits for input, ms (the port's
// ReadTotalTimeoutConstant): the pump cannot dispatch messages meanwhile,
// so this bounds how late a message, a timer tick or an abort from
// another thread is noticed while the session waits for the terminal.
// One tick of the session timer.
constexpr uint32_t WIN32_READ_SLICE_MS = 10;

// The backend of COM handles (serial_port_win32.cpp).  Its wait_input
// waits until a byte arrives on the port (under a wait hint: until the due
// bytes have) or WIN32_READ_SLICE_MS have passed; what arrives is kept in
// the port's record and handed out first by the next read.  True when
// input is waiting.
extern const PortOps WIN32_COM_OPS;
