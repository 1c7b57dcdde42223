// serial.h - the session's serial channel.
//
// One port per library; sessions never overlap.  Reception is polled: ask
// com_rx_count, then read one byte with com_getc, so the session thread can
// pump messages between polls.
#pragma once

#include <cstdint>
#include "platform/serial_port.h"

// Driver queue sizes requested at open, bytes.  The input queue is twice
// the output queue; 792 is also the receive-buffer limit of a frame.
constexpr uint32_t COM_IN_QUEUE = 1584;
constexpr uint32_t COM_OUT_QUEUE = 792;

// A com_getc result with any of these bits set is no usable byte.
constexpr int COM_NO_BYTE_MASK = 0xFF00;
constexpr int COM_FLAGGED = 0xFF00;   // + byte: read with a line error

extern plat_port com_handle;   // PLAT_PORT_INVALID while closed
extern uint32_t com_errors;    // line error flags of the last poll

int com_open();                // 0, 75 (cannot open) or 9 (settings refused)
int com_configure();           // 0 or 9
void com_close();              // safe when closed
void com_clear_tx();           // purge output, only while CTS is on
void com_clear_rx();           // purge input
int com_write(int length, const void *bytes);  // bytes written, or -1
int com_getc();                // 0..255, COM_FLAGGED + byte, or -1
uint32_t com_rx_count();       // bytes waiting (0 when the query fails)
