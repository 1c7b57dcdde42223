// rx_terminal.h - a scripted terminal that sends a file, for whole
// receiving sessions on the simulated line.
#pragma once

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "link/wire.h"
#include "sim_session.h"

namespace rxterm {

using simtest::Bytes;
using simtest::Kind;
using simtest::kind_of;
using simtest::msg;

// A frame as the terminal sends it: DLE, opening, the body with doubled
// DLEs, DLE ETX and the check over body + ETX, low byte first.
inline Bytes frame(uint8_t opening, const std::string &body)
{
    Bytes check_span(body.begin(), body.end());
    check_span.push_back(0x03);
    uint16_t crc = crc16(check_span.data(), check_span.size());
    Bytes out = {0x10, opening};
    for (unsigned char c : body) {
        out.push_back(c);
        if (c == 0x10)
            out.push_back(c);
    }
    out.insert(out.end(),
               {0x10, 0x03, static_cast<uint8_t>(crc & 0xFF), static_cast<uint8_t>(crc >> 8)});
    return out;
}

// The PC's station in these sessions (no -# option): 0, 0.
const std::string STATION("\0\0", 2);

// Header body: station, the name filled to 12 bytes, the record count as
// five digits, then layout ("02005003": two fields of 5 and 3; "" for a
// program file).
inline std::string header_body(const std::string &name, int records, const std::string &layout,
                               const std::string &station = STATION)
{
    char count[8];
    std::snprintf(count, sizeof count, "%05d", records);
    std::string padded = name + std::string(12 - std::min<size_t>(12, name.size()), ' ');
    return station + padded.substr(0, 12) + count + layout;
}

inline std::string data_body(int serial, const std::string &record,
                             const std::string &station = STATION)
{
    char sn[8];
    std::snprintf(sn, sizeof sn, "%05d", serial);
    return station + sn + record;
}

// What the terminal sends next, step by step.  Each step is sent 1 ms after
// the PC has acknowledged the previous one and again after a NAK; a rule
// may replace that.  The first step goes out at 5 ms.
struct Terminal {
    std::vector<Bytes> script;         // the enquiry, the header, the records, the EOT
    size_t next = 0;                   // the step sent next
    std::vector<Bytes> answers;        // every control message of the PC
    std::vector<uint64_t> answer_ms;   // and when it went out
    // Called with each answer of the PC and the step it answered; returns
    // true when it has handled the answer itself.
    std::function<bool(Kind, size_t)> rule;

    void send(size_t step, uint32_t delay = 1) { sim::deliver(script[step], delay); }
    void install()
    {
        sim::set_peer([this](const uint8_t *b, size_t n) {
            answers.emplace_back(b, b + n);
            answer_ms.push_back(sim::now_ms());
            Kind k = kind_of(b, n);
            size_t answered = next - 1;
            if (rule && rule(k, answered))
                return;
            if (k == Kind::Ack && next < script.size())
                send(next++);
            else if (k == Kind::Nak)
                send(answered);   // send the same again
        });
        sim::at(5, [this] {
            if (!script.empty())
                send(next++, 0);
        });
    }
    int count(Kind k) const
    {
        int n = 0;
        for (const Bytes &a : answers)
            n += kind_of(a.data(), a.size()) == k;
        return n;
    }
};

// A data file DATA.TXT of records of widths 5 and 3: enquiry, header, one
// frame per record, the closing EOT.
inline std::vector<Bytes> data_file_script(const std::vector<std::string> &records,
                                           const std::string &name = "DATA.TXT")
{
    std::vector<Bytes> s;
    s.push_back(msg(0x05, 0x12, 0x34));   // the enquiry's station is not looked at
    s.push_back(frame(0x01, header_body(name, static_cast<int>(records.size()), "02005003")));
    for (size_t i = 0; i < records.size(); ++i)
        s.push_back(frame(0x02, data_body(static_cast<int>(i + 1), records[i])));
    s.push_back(msg(0x04));
    return s;
}

}   // namespace rxterm
