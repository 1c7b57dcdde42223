// wire.cpp - control sequences, field writers, CRC-16, DLE transparency,
// control messages, the line reader and the check of a received frame.
#include "link/wire.h"

#include "link/limits.h"

#include <cstdio>
#include <cstring>

const CtrlSeq DLEstr = {1, {cDLE}};
const CtrlSeq SOHstr = {1, {cSOH}};
const CtrlSeq STXstr = {1, {cSTX}};
const CtrlSeq ETXstr = {1, {cETX}};
// The terminal ends every frame with 0x03, blocks that are followed by more
// blocks included: this is not the ASCII ETB code 0x17.
const CtrlSeq ETBstr = {1, {cETX}};
// Fields of a record follow one another directly.
const CtrlSeq SEPstr = {0, {0}};

uint8_t *put_seq(uint8_t *dst, const CtrlSeq &seq)
{
    std::memcpy(dst, seq.bytes, seq.len);
    return dst + seq.len;
}

uint8_t *put_text(uint8_t *dst, const char *text, int width)
{
    int i = 0;
    for (; i < width && text[i] != '\0'; ++i)
        dst[i] = static_cast<uint8_t>(text[i]);
    for (; i < width; ++i)
        dst[i] = ' ';
    return width > 0 ? dst + width : dst;
}

// Widest number field: five digits hold the largest count, 32767.
constexpr int NUMBER_WIDTH_MAX = 5;
constexpr long NUMBER_MAX = RECORDS_MAX;

uint8_t *put_number(uint8_t *dst, long value, int width)
{
    if (width < 1 || width > NUMBER_WIDTH_MAX || value < 0 || value > NUMBER_MAX)
        return nullptr;
    char digits[NUMBER_WIDTH_MAX + 1];
    int n = std::snprintf(digits, sizeof digits, "%0*ld", width, value);
    // A value with more digits than the field would be cut to its leading
    // digits and go out as a different number: refuse it instead.
    if (n != width)
        return nullptr;
    return put_text(dst, digits, width);
}

// The 256 remainders of the reflected polynomial 0xA001, one per byte value.
struct CrcTable {
    uint16_t v[256];
};

static constexpr CrcTable make_crc_table()
{
    CrcTable t{};
    for (int i = 0; i < 256; ++i) {
        uint16_t r = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 1) ? static_cast<uint16_t>((r >> 1) ^ 0xA001) : static_cast<uint16_t>(r >> 1);
        t.v[i] = r;
    }
    return t;
}

static constexpr CrcTable crc_table = make_crc_table();
static_assert(crc_table.v[1] == 0xC0C1 && crc_table.v[2] == 0xC181, "CRC-16 table");

uint16_t crc16_update(uint16_t crc, const uint8_t *bytes, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        crc = static_cast<uint16_t>(crc_table.v[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8));
    return crc;
}

uint16_t crc16(const uint8_t *bytes, size_t length) { return crc16_update(0, bytes, length); }

// Built frame: DLE, SOH/STX, content, terminator, check low, check high.
constexpr int BUILT_FRAME_MIN = 5;
// Bytes that stand after the content: terminator and two check bytes.
constexpr int FRAME_TAIL = 3;

int stuff_frame(const uint8_t *built, int length, uint8_t *out)
{
    if (length < BUILT_FRAME_MIN)
        return 0;
    int w = 0;
    out[w++] = cDLE;
    const int content_end = length - FRAME_TAIL;
    for (int i = 1; i < content_end; ++i) {
        int need = built[i] == cDLE ? 2 : 1;
        // Room for this byte and the tail: DLE, 0x03, two check bytes.
        if (w + need + 4 > FRAME_BUF_SIZE)
            return 0;
        out[w++] = built[i];
        if (need == 2)
            out[w++] = cDLE;
    }
    out[w++] = cDLE;
    out[w++] = cETX;
    out[w++] = built[length - 2];
    out[w++] = built[length - 1];
    return w;
}

void make_ctrl_msg(uint8_t *out, uint8_t code, const uint8_t station[2])
{
    out[0] = cDLE;
    out[1] = code;
    out[2] = station[0];
    out[3] = station[1];
}

FrameCheck frame_check(const uint8_t *stored, int length, bool overflow, int chk_len)
{
    if (overflow || length < chk_len + 1)
        return FRAME_BAD_LENGTH;
    if (crc16(stored, static_cast<size_t>(length)) != 0)
        return FRAME_BAD_CHECK;
    return FRAME_GOOD;
}
