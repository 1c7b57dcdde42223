// frame_rx.h - byte-at-a-time receiver of the frames and control messages
// on the link, for the receiving side of a transfer.
//
// Feed every good byte; the receiver hunts for DLE, takes DLE SOH or DLE
// STX as a frame opening and DLE ENQ/ACK/NAK/EOT/WACK as a control message
// with two station bytes.  A frame body is stored with doubled DLEs undone,
// up to and including the terminator 0x03 and the two check bytes; the
// stored bytes are what frame_check() takes.  All state is in the caller's
// FrameRx, so several receivers may run side by side.
#pragma once

#include <cstdint>

#include "link/wire.h"

// Stored bytes of one frame: a byte is still stored when the write position
// stands exactly at the limit, so RCV_LIMIT + 1 bytes at most.
constexpr int FRAME_RX_STORE = RCV_LIMIT + 1;

enum FrameRxEvent {
    FRX_NONE = 0,    // nothing complete yet
    FRX_FRAME = 1,   // a frame is complete: kind, text, len, over
    FRX_CTRL = 2     // a control message is complete: code, station
};

struct FrameRx {
    int state;                      // internal; 0 = hunting
    int tail;                       // check or station bytes still to come
    // Frame in progress or just completed.
    uint8_t kind;                   // cSOH or cSTX
    uint8_t text[FRAME_RX_STORE];   // body, terminator, check bytes
    int len;                        // bytes stored in text
    bool over;                      // bytes were dropped past the limit
    // Control message just completed.
    uint8_t code;                   // cENQ, cACK, cNAK, cEOT or cWACK
    uint8_t station[2];             // high byte first
    bool abandoned;                 // an ENQ broke off a frame body
};

// Puts rx in the hunting state.
void frame_rx_reset(FrameRx *rx);

// Feeds one received byte; returns a FrameRxEvent.  After FRX_FRAME or
// FRX_CTRL the receiver hunts again; the results stay in rx until the next
// opening or control code.
int frame_rx_feed(FrameRx *rx, uint8_t byte);
