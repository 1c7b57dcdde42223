// rx_helpers.h - settings and packets for the receiving side's tests.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/settings.h"

namespace rxtest {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t STATION[2] = {0x12, 0x34};

// Receiving settings for the file argument dir + spelled ("" for a bare
// directory), the way the option parser leaves them.
inline SessionSettings settings_for(const std::string &dir, const std::string &spelled)
{
    SessionSettings s{};
    s.exchange.chk_len = 2;
    s.exchange.seq_flag = 1;
    s.receive_mode = 1;
    std::snprintf(s.file.file_dir, sizeof s.file.file_dir, "%s", dir.c_str());
    std::snprintf(s.file.file_spelled, sizeof s.file.file_spelled, "%s", spelled.c_str());
    size_t dot = spelled.rfind('.');
    std::string base = dot == std::string::npos ? spelled : spelled.substr(0, dot);
    std::string ext = dot == std::string::npos ? "" : spelled.substr(dot);
    for (char &c : base)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    for (char &c : ext)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    std::snprintf(s.file.file_name, sizeof s.file.file_name, "%s", base.c_str());
    std::snprintf(s.file.file_ext, sizeof s.file.file_ext, "%s", ext.c_str());
    s.exchange.station_id[0] = STATION[0];
    s.exchange.station_id[1] = STATION[1];
    return s;
}

// Stored bytes of a header frame: station, name field, count, widths (a
// program file has none), terminator, two check bytes.  count is the text
// of the record count, so that bad digits can be sent.
inline Bytes header(const std::string &name, const std::string &count,
                    const std::vector<std::string> &widths, bool data_file = true)
{
    Bytes b = {STATION[0], STATION[1]};
    std::string field = name;
    field.resize(12, ' ');
    b.insert(b.end(), field.begin(), field.end());
    b.insert(b.end(), count.begin(), count.end());
    if (data_file) {
        char n[8];
        std::snprintf(n, sizeof n, "%02zu", widths.size());
        b.insert(b.end(), n, n + 2);
        for (const std::string &w : widths)
            b.insert(b.end(), w.begin(), w.end());
    }
    b.push_back(0x03);
    b.push_back(0xAA);
    b.push_back(0x55);
    return b;
}

// Stored bytes of a data frame: station, serial number text, record,
// terminator, check bytes.
inline Bytes data_packet(const std::string &serial, const std::string &record)
{
    Bytes b = {STATION[0], STATION[1]};
    b.insert(b.end(), serial.begin(), serial.end());
    b.insert(b.end(), record.begin(), record.end());
    b.push_back(0x03);
    b.push_back(0xAA);
    b.push_back(0x55);
    return b;
}

}   // namespace rxtest
