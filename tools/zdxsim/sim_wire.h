// sim_wire.h - the simulator's own view of the wire: control codes and the
// frame check.  Kept apart from the library on purpose, so that the
// simulator checks the library rather than repeating its mistakes.
#pragma once

#include <cstdint>

namespace zdxsim {

constexpr uint8_t DLE = 0x10, ENQ = 0x05, ACK = 0x06, NAK = 0x15, EOT = 0x04, WACK = 0x3B,
                  SOH = 0x01, STX = 0x02, ETX = 0x03;

// CRC-16/ARC: reflected polynomial 0xA001, initial 0, no final XOR; bit by
// bit, unlike the library's table.  crc continues a running value.
inline uint16_t crc16_arc(const uint8_t *p, int n, uint16_t crc = 0) {
    for (int i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

}  // namespace zdxsim
