// wire_frames.h - frames as the terminal puts them on the line, for the
// frame reader's tests and its fuzz target.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "link/wire.h"

namespace wire_frames {

using Bytes = std::vector<uint8_t>;

// The bytes a good frame stores: body, terminator, check (low byte first).
inline Bytes stored_of(const Bytes &body)
{
    Bytes s = body;
    s.push_back(cETX);
    const uint16_t crc = crc16(s.data(), s.size());
    s.push_back(static_cast<uint8_t>(crc & 0xFF));
    s.push_back(static_cast<uint8_t>(crc >> 8));
    return s;
}

// The wire form of a frame with this opening and body: DLE, opening, the
// body with its DLEs doubled, DLE ETX and the check.  Empty when the body
// does not fit a frame.
inline Bytes wire_frame(uint8_t opening, const Bytes &body)
{
    const Bytes stored = stored_of(body);
    uint8_t built[FRAME_BUF_SIZE];
    if (stored.size() + 2 > sizeof built)
        return {};
    built[0] = cDLE;
    built[1] = opening;
    std::memcpy(built + 2, stored.data(), stored.size());
    uint8_t out[FRAME_BUF_SIZE];
    const int len = stuff_frame(built, static_cast<int>(stored.size() + 2), out);
    return len > 0 ? Bytes(out, out + len) : Bytes{};
}

}   // namespace wire_frames
