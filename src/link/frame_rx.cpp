// frame_rx.cpp - byte-at-a-time receiver of frames and control messages.
#include "link/frame_rx.h"

// Receiver states.
enum {
    RX_HUNT = 0,       // discarding bytes until DLE
    RX_OPENING,        // after DLE: opening or control code
    RX_BODY,           // storing the body
    RX_BODY_DLE,       // after a DLE in the body
    RX_CHECK,          // storing the two check bytes
    RX_STATION         // reading the two station bytes of a control message
};

constexpr int CHECK_BYTES = 2;
constexpr int STATION_BYTES = 2;

void frame_rx_reset(FrameRx *rx)
{
    rx->state = RX_HUNT;
    rx->tail = 0;
}

static void store(FrameRx *rx, uint8_t byte)
{
    if (rx->len < FRAME_RX_STORE)
        rx->text[rx->len++] = byte;
    else
        rx->over = true;
}

static void begin_control(FrameRx *rx, uint8_t code, bool abandoned)
{
    rx->code = code;
    rx->abandoned = abandoned;
    rx->tail = STATION_BYTES;
    rx->state = RX_STATION;
}

static bool is_control_code(uint8_t byte)
{
    return byte == cENQ || byte == cACK || byte == cNAK || byte == cEOT || byte == cWACK;
}

int frame_rx_feed(FrameRx *rx, uint8_t byte)
{
    switch (rx->state) {
    case RX_OPENING:
        if (byte == cSOH || byte == cSTX) {
            rx->kind = byte;
            rx->len = 0;
            rx->over = false;
            rx->state = RX_BODY;
        } else if (is_control_code(byte)) {
            begin_control(rx, byte, false);
        } else {
            rx->state = RX_HUNT;   // a second DLE included
        }
        return FRX_NONE;
    case RX_BODY:
        if (byte == cDLE)
            rx->state = RX_BODY_DLE;
        else
            store(rx, byte);
        return FRX_NONE;
    case RX_BODY_DLE:
        if (byte == cENQ) {
            // The terminal's enquiry breaks off the frame.
            begin_control(rx, byte, true);
            return FRX_NONE;
        }
        store(rx, byte);   // a doubled DLE yields one 0x10
        if (byte == cETX) {
            rx->tail = CHECK_BYTES;
            rx->state = RX_CHECK;
        } else {
            rx->state = RX_BODY;
        }
        return FRX_NONE;
    case RX_CHECK:
        store(rx, byte);
        if (rx->tail < 1 || rx->tail > CHECK_BYTES)
            rx->tail = 1;
        if (--rx->tail > 0)
            return FRX_NONE;
        rx->state = RX_HUNT;
        return FRX_FRAME;
    case RX_STATION:
        if (rx->tail < 1 || rx->tail > STATION_BYTES) {
            frame_rx_reset(rx);
            return FRX_NONE;
        }
        rx->station[STATION_BYTES - rx->tail] = byte;
        if (--rx->tail > 0)
            return FRX_NONE;
        rx->state = RX_HUNT;
        return FRX_CTRL;
    default:   // hunting
        if (byte == cDLE)
            rx->state = RX_OPENING;
        return FRX_NONE;
    }
}
