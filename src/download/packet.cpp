// packet.cpp - builds the header packet and the data packets of the file
// being sent, reading its records one at a time.
#include "download/packet.h"

#include <cstring>

#include "download/line_reader.h"
#include "link/wire.h"
#include "orv5w32.h"

// Field widths of the packets, in characters.
constexpr int NAME_FIELD = 12;   // 8.3 name, space-filled
constexpr int COUNT_FIELD = 5;   // record count and serial number
constexpr int ITEMS_FIELD = 2;   // number of fields of a data file
constexpr int WIDTH_FIELD = 3;   // width of one field

// Widest record a packet carries: a fixed-length read takes CR LF behind it
// in the same buffer size.
constexpr int RECORD_MAX = REC_BUF_SIZE - 2;

constexpr uint8_t CH_CR = 0x0D;
constexpr uint8_t CH_LF = 0x0A;
constexpr uint8_t PAD_PROGRAM = '0';
constexpr uint8_t PAD_DATA = ' ';

// Appends the check of [span, p) low byte first; returns the new end.
static uint8_t *put_check(uint8_t *p, const uint8_t *span)
{
    uint16_t crc = crc16(span, static_cast<size_t>(p - span));
    *p++ = static_cast<uint8_t>(crc & 0xFF);
    *p++ = static_cast<uint8_t>(crc >> 8);
    return p;
}

static uint8_t *put_station(uint8_t *p, const uint8_t station[2])
{
    *p++ = station[0];
    *p++ = station[1];
    return p;
}

// base + ext into out (NAME_TEXT_SIZE bytes), cut to the 12-byte field.
static void join_name(char *out, const char *base, const char *ext)
{
    int n = 0;
    for (; *base != '\0' && n < NAME_TEXT_SIZE - 1; ++base)
        out[n++] = *base;
    for (; *ext != '\0' && n < NAME_TEXT_SIZE - 1; ++ext)
        out[n++] = *ext;
    out[n] = '\0';
}

int make_hd_text(const SessionSettings &s, const uint8_t station[2], int32_t records_total,
                 uint8_t *out)
{
    uint8_t *p = put_seq(out, DLEstr);
    p = put_seq(p, SOHstr);
    const uint8_t *span = p;
    p = put_station(p, station);

    char name[NAME_TEXT_SIZE];
    join_name(name, s.file.file_name, s.file.file_ext);
    p = put_text(p, name, NAME_FIELD);

    p = put_number(p, records_total, COUNT_FIELD);
    if (p == nullptr)
        return 0;
    if (s.file.file_type == FT_DATA) {
        if (s.send.ditems < 0 || s.send.ditems > DITEMS_MAX)
            return 0;
        p = put_number(p, s.send.ditems, ITEMS_FIELD);
        for (int i = 0; p != nullptr && i < s.send.ditems; ++i)
            p = put_number(p, s.send.ddigits[i], WIDTH_FIELD);
        if (p == nullptr)
            return 0;
    }
    p = put_seq(p, ETXstr);
    p = put_check(p, span);
    return static_cast<int>(p - out);
}

// Copies the record into the packet field by field, SEPstr
// between two fields.  nullptr when the widths do not fit the record.
static uint8_t *put_fields(const SessionSettings &s, const uint8_t *record, uint8_t *p)
{
    if (s.send.ditems < 0 || s.send.ditems > DITEMS_MAX)
        return nullptr;
    int used = 0;
    for (int i = 0; i < s.send.ditems; ++i) {
        int w = s.send.ddigits[i];
        if (w < 0 || w > s.send.record_length - used)
            return nullptr;
        std::memcpy(p, record + used, static_cast<size_t>(w));
        p += w;
        used += w;
        if (i + 1 < s.send.ditems)
            p = put_seq(p, SEPstr);
    }
    return p;
}

Orv5Result packet_build_result(PacketBuild status)
{
    switch (status) {
    case PacketBuild::Built: return ORV5_OK;
    case PacketBuild::FixedFault: return ORV5_E_FIXED_RECORD;
    default: return ORV5_E_FILE_IO;
    }
}

static DataPacket failed(PacketBuild status) { return DataPacket{status, 0}; }

DataPacket make_dt_text(const SessionSettings &s, const uint8_t station[2], int32_t serial_no,
                        SendFile &f, uint8_t *out)
{
    uint8_t *p = put_seq(out, DLEstr);
    p = put_seq(p, STXstr);
    const uint8_t *span = p;
    p = put_station(p, station);
    if (s.exchange.seq_flag) {
        p = put_number(p, serial_no, COUNT_FIELD);
        if (p == nullptr)
            return failed(PacketBuild::ReadFailed);
    }
    if (s.send.record_length < 0 || s.send.record_length > RECORD_MAX)
        return failed(PacketBuild::ReadFailed);

    uint8_t *dst = s.file.file_type != FT_DATA ? p : f.record;
    if (read_record(s, f, dst, s.send.record_length) == nullptr)
        return failed(f.fixed_read_error ? PacketBuild::FixedFault : PacketBuild::ReadFailed);
    if (s.file.file_type != FT_DATA) {
        p += s.send.record_length;
    } else {
        p = put_fields(s, f.record, p);
        if (p == nullptr)
            return failed(PacketBuild::ReadFailed);
    }
    p = put_seq(p, ETXstr);
    p = put_check(p, span);
    return DataPacket{PacketBuild::Built, static_cast<int>(p - out)};
}

uint8_t *read_record(const SessionSettings &s, SendFile &f, uint8_t *dst, int length)
{
    std::FILE *fp = f.fp;
    f.fixed_read_error = 0;
    if (fp == nullptr || length < 0)
        return nullptr;
    const size_t len = static_cast<size_t>(length);

    if (s.send.fixed_records && s.file.file_type == FT_DATA) {
        // The record goes out byte for byte; its CR LF is read apart so that
        // nothing is written past the caller's area.
        uint8_t line_end[2];
        if (std::fread(dst, 1, len, fp) != len || std::fread(line_end, 1, 2, fp) != 2 ||
            line_end[0] != CH_CR || line_end[1] != CH_LF) {
            f.fixed_read_error = 1;
            return nullptr;
        }
        return dst + length;
    }

    int n = 0;
    char *line = read_line(reinterpret_cast<char *>(dst), length, fp, &n);
    // A read error, also in the middle of a line, must not go out as a
    // shortened record padded to its width.
    if (std::ferror(fp))
        return nullptr;
    if (line == nullptr) {
        if (!std::feof(fp))
            return nullptr;
        n = 0;   // asked for past the last line: a record of padding only
    }
    int keep = n < length ? n : length;
    uint8_t pad = s.file.file_type == FT_DATA ? PAD_DATA : PAD_PROGRAM;
    std::memset(dst + keep, pad, static_cast<size_t>(length - keep));
    return dst + length;
}
