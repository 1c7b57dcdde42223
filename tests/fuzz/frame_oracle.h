// frame_oracle.h - which frame did the library acknowledge?
//
// An independent reading of the terminal's bytes, used to check what a
// receiving session wrote to disk.  When the library answers, it has read
// exactly the bytes that arrived so far (see line_script.h), and it reads
// a frame only after its previous answer.  So an acknowledged frame is a
// stretch of those bytes that opens with DLE SOH or DLE STX after the
// previous answer and ends, with its two check bytes, where the answer was
// given.  Inside the body a DLE takes the next byte as data (a doubled DLE
// gives one), DLE ETX ends the body and DLE ENQ abandons the frame.
#pragma once

#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "link/wire.h"

namespace fuzz {

// Bytes kept of a frame: body, terminator, two check bytes.
using Stored = Bytes;

// Decodes the frame opening at s[q] that must end at s[end].
inline bool decode_frame(const Bytes &s, size_t q, size_t end, Stored *out)
{
    out->clear();
    size_t i = q + 2;
    while (i < end) {
        uint8_t c = s[i++];
        if (c != cDLE) {
            out->push_back(c);
            continue;
        }
        if (i >= end)
            return false;
        uint8_t b = s[i++];
        out->push_back(b);
        if (b == cETX) {
            if (i + 2 != end)
                return false;
            out->push_back(s[i]);
            out->push_back(s[i + 1]);
            return crc16(out->data(), out->size()) == 0;
        }
        if (b == cENQ)
            return false;
    }
    return false;
}

enum class Found { None, One, Ambiguous };

// The frame with the given opening (cSOH or cSTX) that ends at s[end] and
// opens at or after s[from].
inline Found acknowledged_frame(const Bytes &s, size_t from, size_t end, uint8_t opening,
                                Stored *out)
{
    Found found = Found::None;
    Stored candidate;
    for (size_t q = from; q + 5 < end + 1 && q + 1 < end; ++q) {
        if (s[q] != cDLE || s[q + 1] != opening || !decode_frame(s, q, end, &candidate))
            continue;
        if (found == Found::One && candidate != *out)
            return Found::Ambiguous;
        *out = candidate;
        found = Found::One;
    }
    return found;
}

// Five decimal digits, or -1.
inline int serial_of(const uint8_t *p)
{
    int v = 0;
    for (int i = 0; i < 5; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return -1;
        v = v * 10 + (p[i] - '0');
    }
    return v;
}

// Offsets in the stored bytes.
constexpr size_t STATION_LEN = 2;
constexpr size_t SERIAL_LEN = 5;
constexpr size_t NAME_FIELD_LEN = 12;
constexpr size_t HEADER_COUNT_AT = STATION_LEN + NAME_FIELD_LEN;
constexpr size_t RECORD_AT = STATION_LEN + SERIAL_LEN;
constexpr size_t TRAILER_LEN = 3;   // terminator and check

// What the acknowledged frames say the file must hold.
struct Expected {
    bool header = false;      // a header was acknowledged
    int announced = -1;       // its record count
    int written = 0;          // new records acknowledged
    std::string lines;        // their lines (record + CR LF)
    bool ambiguous = false;   // an answer could belong to two frames
    bool complete() const { return header && written == announced; }
};

// Follows one answer of the library: consumed bytes of s, the previous
// answer's position.
inline void follow_ack(const Bytes &s, size_t from, size_t end, Expected &e)
{
    Stored st;
    Found f = acknowledged_frame(s, from, end, e.header ? cSTX : cSOH, &st);
    if (f == Found::Ambiguous) {
        e.ambiguous = true;
        return;
    }
    if (f == Found::None && e.header && e.written == 0) {
        // A repeat of the header whose answer was lost.
        if (acknowledged_frame(s, from, end, cSOH, &st) != Found::None)
            return;
    }
    if (f == Found::None)
        return;
    if (!e.header) {
        if (st.size() < HEADER_COUNT_AT + SERIAL_LEN + TRAILER_LEN)
            broken("acknowledged header too short");
        e.header = true;
        e.announced = serial_of(st.data() + HEADER_COUNT_AT);
        return;
    }
    if (st.size() < RECORD_AT + TRAILER_LEN)
        broken("acknowledged data frame too short");
    int serial = serial_of(st.data() + STATION_LEN);
    if (serial == e.written && e.written > 0)
        return;   // the last record again: acknowledged, not written
    e.lines.append(st.begin() + RECORD_AT, st.end() - TRAILER_LEN);
    e.lines += "\r\n";
    e.written += 1;
}

}   // namespace fuzz
