// wire.h - the link's wire format: control codes, control messages,
// frames with DLE transparency and CRC-16, field writers, the line reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Control codes.
constexpr uint8_t cDLE = 0x10;
constexpr uint8_t cENQ = 0x05;
constexpr uint8_t cACK = 0x06;
constexpr uint8_t cNAK = 0x15;
constexpr uint8_t cEOT = 0x04;
constexpr uint8_t cWACK = 0x3B;   // ';'
constexpr uint8_t cSOH = 0x01;
constexpr uint8_t cSTX = 0x02;
constexpr uint8_t cETX = 0x03;

// Counted control sequence: len bytes of bytes[].
struct CtrlSeq {
    uint8_t len;
    uint8_t bytes[1];
};
extern const CtrlSeq DLEstr, SOHstr, STXstr, ETXstr, ETBstr, SEPstr;

constexpr int CTRL_MSG_LEN = 4;   // DLE, code, station high, station low

// Frame buffer sizes, bytes.
// Largest built frame: opening 2 + station 2 + serial 5 + record 254 +
// terminator 1 + check 2 = 266; doubled DLEs at most double the 263 bytes
// from the SOH/STX to the terminator: 1 + 2*263 + 2 + 2 = 531.  The buffers
// keep the historic 796 bytes (= 792 receive limit + one control message).
constexpr int FRAME_BUF_SIZE = 796;
// Receive side: the stored bytes of one frame; a byte is still stored when
// the write position stands exactly at the limit.
constexpr int RCV_LIMIT = 792;
constexpr int RCV_TEXT_SIZE = 1588;

// Field writers; each returns the position after what it wrote.
uint8_t *put_seq(uint8_t *dst, const CtrlSeq &seq);
uint8_t *put_text(uint8_t *dst, const char *text, int width);
// width 1..5 and value 0..32767: zero-filled decimal of width digits.
// Otherwise writes nothing and returns nullptr.
uint8_t *put_number(uint8_t *dst, long value, int width);

// CRC-16/ARC (reflected 0xA001, init 0, no final XOR), table driven.
uint16_t crc16(const uint8_t *bytes, size_t length);
// Continues a running CRC.
uint16_t crc16_update(uint16_t crc, const uint8_t *bytes, size_t length);

// Writes the built frame (DLE, SOH/STX, content, 0x03, check lo, check hi)
// as it goes on the wire into out: DLE, then the bytes from SOH/STX up to
// the last content byte with every 0x10 doubled, then 0x10 0x03 and the two
// check bytes.  Returns the wire length.  out must hold FRAME_BUF_SIZE.
int stuff_frame(const uint8_t *built, int length, uint8_t *out);

// Builds a control message (DLE, code, station) into out[4].
void make_ctrl_msg(uint8_t *out, uint8_t code, const uint8_t station[2]);

// Check of a received frame's stored bytes (body, terminator, check).
enum FrameCheck { FRAME_GOOD = 0, FRAME_BAD_LENGTH = 1, FRAME_BAD_CHECK = 2 };
FrameCheck frame_check(const uint8_t *stored, int length, bool overflow, int chk_len);
