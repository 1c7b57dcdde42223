// packet.h - building the header and data packets of the file being sent.
#pragma once

#include <cstdint>
#include <cstdio>

#include "orv5w32.h"
#include "runtime/settings.h"

// Record buffer: the widest record is DDSUM_MAX - 1 = 254 bytes, and a
// fixed-length read takes the record + CR LF: 256 bytes.
constexpr int REC_BUF_SIZE = 256;

// The file being sent, read one record at a time.
struct SendFile {
    std::FILE *fp;                  // opened for binary reading
    int fixed_read_error;           // the last fixed-length record was faulty
    uint8_t record[REC_BUF_SIZE];   // one data-file record before it is split
};

// What building a data packet came to.
enum class PacketBuild {
    Built,        // length holds the built length
    ReadFailed,   // the record could not be read
    FixedFault,   // a fixed-length record lacks its CR LF
};

struct DataPacket {
    PacketBuild status;
    int length;   // built bytes, when Built
};

// The session result of a data packet that could not be built: 71
// (ReadFailed) or 76 (FixedFault); ORV5_OK when it was built.
[[nodiscard]] Orv5Result packet_build_result(PacketBuild status);

// Header frame (opening, station, name, count, layout, ETX, check) into
// out; returns its built length, 0 when a value does not fit its field.
int make_hd_text(const SessionSettings &s, const uint8_t station[2], int32_t records_total,
                 uint8_t *out);

// The data frame of record serial_no (the next record of f) into out.
DataPacket make_dt_text(const SessionSettings &s, const uint8_t station[2], int32_t serial_no,
                        SendFile &f, uint8_t *out);

// Fills exactly length bytes at dst from the next record of f; returns
// dst + length, or nullptr on failure.  Fixed-length records (option C) are
// read only for data files; program files are always read by lines.  A
// short line is padded with '0' (program file) or spaces (data file).
uint8_t *read_record(const SessionSettings &s, SendFile &f, uint8_t *dst, int length);
