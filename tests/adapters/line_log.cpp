// line_log.cpp - checking a plug-in's work on the port from the shim's log.
#include "line_log.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

// The procedures as the adapters need them, written out here on their own
// so the check does not share the plug-ins' tables.
struct LineRow {
    uint32_t baud;
    bool rts, dtr;
};
const LineRow ESI_ROWS[] = {{9600, true, false}, {19200, false, true}, {115200, true, true}};

struct CommandRow {
    uint32_t baud;
    uint8_t two_byte, one_byte;
};
const CommandRow COMMAND_ROWS[] = {
    {2400, 0x13, 0xA2},  {9600, 0x23, 0xA4},  {19200, 0x33, 0xA5},
    {38400, 0x43, 0xA6}, {57600, 0x53, 0xA7}, {115200, 0x63, 0xA8},
};
constexpr uint32_t COMMAND_SPEED = 9600;   // bit/s
constexpr uint8_t WAKE_UP = 0x01;

// Least waits, microseconds: RTS off to byte 1 ms; byte to RTS on one
// character at 9600 bit/s (1.04 ms) plus 1 ms; RTS on between two bytes
// 10 ms.  A whole call far beyond its waits means mis-scaled sleeps.
constexpr uint64_t RTS_OFF_TO_BYTE_US = 1000;
constexpr uint64_t BYTE_TO_RTS_ON_US = 2000;
constexpr uint64_t BETWEEN_BYTES_US = 10000;
constexpr uint64_t CALL_LIMIT_US = 1000000;

bool is_esi(const std::string &model) { return model == "Orv5EESI"; }
bool two_bytes(const std::string &model) { return model == "Orv5AIRM" || model == "Orv5FMIR"; }

const LineRow *esi_row(uint32_t baud)
{
    for (const LineRow &r : ESI_ROWS)
        if (r.baud == baud)
            return &r;
    return nullptr;
}

const CommandRow *command_row(uint32_t baud)
{
    for (const CommandRow &r : COMMAND_ROWS)
        if (r.baud == baud)
            return &r;
    return nullptr;
}

// One change the plug-in made, as seen on the line.
struct Change {
    enum Kind { RTS_OFF, RTS_ON, DTR_OFF, DTR_ON, SPEED, WRITE } kind;
    uint32_t from = 0, to = 0;   // SPEED
    uint8_t byte = 0;            // WRITE (one byte per write)
    uint32_t at_speed = 0;       // WRITE: the speed it went out at
    uint64_t us = 0;
    bool drained_before = false;   // a drain since the previous change
};

std::string describe(const Change &c)
{
    char buf[64];
    switch (c.kind) {
    case Change::RTS_OFF: return "RTS off";
    case Change::RTS_ON: return "RTS on";
    case Change::DTR_OFF: return "DTR off";
    case Change::DTR_ON: return "DTR on";
    case Change::SPEED: std::snprintf(buf, sizeof buf, "speed %u->%u", c.from, c.to); return buf;
    case Change::WRITE: std::snprintf(buf, sizeof buf, "write %02x", c.byte); return buf;
    }
    return "?";
}

std::string describe(const std::vector<Change> &changes)
{
    std::string s;
    for (const Change &c : changes)
        s += (s.empty() ? "" : ", ") + describe(c);
    return s.empty() ? "(nothing)" : s;
}

// The changes the events make to a port that starts as before.
std::vector<Change> observed_changes(const PortState &before, const std::vector<LineEvent> &events)
{
    std::vector<Change> out;
    PortState now = before;
    bool drained = false;
    auto add = [&](Change c, uint64_t us) {
        c.us = us;
        c.drained_before = drained;
        drained = false;
        out.push_back(c);
    };
    for (const LineEvent &e : events) {
        switch (e.kind) {
        case LineEvent::LINES:
            if (e.rts != now.rts)
                add(Change{e.rts ? Change::RTS_ON : Change::RTS_OFF}, e.us);
            if (e.dtr != now.dtr)
                add(Change{e.dtr ? Change::DTR_ON : Change::DTR_OFF}, e.us);
            now.rts = e.rts;
            now.dtr = e.dtr;
            break;
        case LineEvent::SPEED: {
            Change c{Change::SPEED};
            c.from = e.from;
            c.to = e.to;
            add(c, e.us);
            now.baud = e.to;
            break;
        }
        case LineEvent::WRITE:
            for (uint8_t b : e.bytes) {
                Change c{Change::WRITE};
                c.byte = b;
                c.at_speed = now.baud;
                add(c, e.us);
            }
            break;
        case LineEvent::DRAIN: drained = true; break;
        default: break;
        }
    }
    return out;
}

std::vector<Change> expected_commands(uint32_t baud, const std::vector<uint8_t> &bytes)
{
    std::vector<Change> out;
    auto speed = [&](uint32_t from, uint32_t to) {
        Change c{Change::SPEED};
        c.from = from;
        c.to = to;
        out.push_back(c);
    };
    if (baud != COMMAND_SPEED)
        speed(baud, COMMAND_SPEED);
    for (uint8_t b : bytes) {
        out.push_back(Change{Change::RTS_OFF});
        Change w{Change::WRITE};
        w.byte = b;
        out.push_back(w);
        out.push_back(Change{Change::RTS_ON});
    }
    if (baud != COMMAND_SPEED)
        speed(COMMAND_SPEED, baud);
    return out;
}

bool same_steps(const std::vector<Change> &a, const std::vector<Change> &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].kind != b[i].kind || a[i].from != b[i].from || a[i].to != b[i].to ||
            a[i].byte != b[i].byte)
            return false;
    }
    return true;
}

void check_waits(const std::vector<Change> &seen, const CheckOptions &options,
                 std::vector<std::string> &faults)
{
    char buf[160];
    for (size_t i = 1; i < seen.size(); ++i) {
        const Change &prev = seen[i - 1], &cur = seen[i];
        uint64_t gap = cur.us - prev.us;
        uint64_t least = 0;
        if (prev.kind == Change::RTS_OFF && cur.kind == Change::WRITE)
            least = RTS_OFF_TO_BYTE_US;
        else if (prev.kind == Change::WRITE && cur.kind == Change::RTS_ON)
            least = BYTE_TO_RTS_ON_US;
        else if (prev.kind == Change::RTS_ON && cur.kind == Change::RTS_OFF)
            least = BETWEEN_BYTES_US;
        if (gap < least) {
            std::snprintf(buf, sizeof buf, "%s to %s after %llu us, wanted at least %llu us",
                          describe(prev).c_str(), describe(cur).c_str(), (unsigned long long)gap,
                          (unsigned long long)least);
            faults.push_back(buf);
        }
        bool after_output = prev.kind == Change::WRITE ||
                            (prev.kind == Change::RTS_ON && cur.kind == Change::SPEED);
        if (options.expect_drain && after_output && !cur.drained_before)
            faults.push_back(describe(cur) + " without waiting for the output to drain");
    }
    if (!seen.empty() && seen.back().us - seen.front().us > CALL_LIMIT_US)
        faults.push_back("the call took far longer than its waits");
    for (const Change &c : seen) {
        if (c.kind == Change::WRITE && c.at_speed != COMMAND_SPEED) {
            std::snprintf(buf, sizeof buf, "byte %02x went out at %u bit/s", c.byte, c.at_speed);
            faults.push_back(buf);
        }
    }
}

// Two line requests, RTS first: after the first only RTS may have its row
// value, after the second DTR too.  (The lines after each request are
// compared, so this holds whether the driver sets one line or all.)
void check_esi(const LineRow &row, const PortState &before, const std::vector<LineEvent> &events,
               std::vector<std::string> &faults)
{
    std::vector<const LineEvent *> requests;
    for (const LineEvent &e : events) {
        if (e.kind == LineEvent::LINES)
            requests.push_back(&e);
        else if (e.kind == LineEvent::SPEED || e.kind == LineEvent::WRITE)
            faults.push_back("the speed or the line data changed");
    }
    bool ok = requests.size() == 2 && requests[0]->rts == row.rts &&
              requests[0]->dtr == before.dtr && requests[1]->rts == row.rts &&
              requests[1]->dtr == row.dtr;
    if (!ok) {
        std::string got;
        for (const LineEvent *r : requests)
            got += " [" + r->what + (r->rts ? " RTS=1" : " RTS=0") +
                   (r->dtr ? " DTR=1]" : " DTR=0]");
        faults.push_back("wanted RTS " + std::string(row.rts ? "on" : "off") + ", then DTR " +
                         (row.dtr ? "on" : "off") + "; got" + (got.empty() ? " nothing" : got));
    }
}

void check_after(const PortState &want, const PortState &after, std::vector<std::string> &faults)
{
    char buf[160];
    if (want.baud != after.baud || want.rts != after.rts || want.dtr != after.dtr) {
        std::snprintf(buf, sizeof buf,
                      "port after the call: %u bit/s RTS=%d DTR=%d, wanted %u RTS=%d DTR=%d",
                      after.baud, after.rts, after.dtr, want.baud, want.rts, want.dtr);
        faults.push_back(buf);
    }
}

}   // namespace

std::vector<LineEvent> parse_line_log(const std::string &text)
{
    std::vector<LineEvent> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream f(line);
        LineEvent e;
        e.kind = LineEvent::MARK;
        std::string first, kind;
        f >> first;
        if (first == "mark") {
            std::getline(f >> std::ws, e.what);
            while (!e.what.empty() && (e.what.back() == '\r' || e.what.back() == ' '))
                e.what.pop_back();
            out.push_back(e);
            continue;
        }
        e.us = std::strtoull(first.c_str(), nullptr, 10);
        f >> e.fd >> kind;
        if (!f || e.fd <= 2)
            continue;
        if (kind == "lines") {
            std::string req, mask, rts, dtr;
            f >> req >> mask >> rts >> dtr;
            e.kind = LineEvent::LINES;
            e.what = req + " " + mask;
            e.rts = rts == "RTS=1";
            e.dtr = dtr == "DTR=1";
        } else if (kind == "speed") {
            e.kind = LineEvent::SPEED;
            f >> e.from >> e.to;
        } else if (kind == "write") {
            std::string hex;
            f >> hex;
            e.kind = LineEvent::WRITE;
            for (size_t i = 0; i + 1 < hex.size(); i += 2)
                e.bytes.push_back(
                    static_cast<uint8_t>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
        } else if (kind == "drain") {
            e.kind = LineEvent::DRAIN;
        } else if (kind == "flush") {
            e.kind = LineEvent::FLUSH;
            f >> e.what;
        } else {
            continue;
        }
        out.push_back(e);
    }
    return out;
}

std::vector<LineEvent> call_events(const std::vector<LineEvent> &all, const std::string &label)
{
    std::vector<LineEvent> out;
    bool inside = false;
    for (const LineEvent &e : all) {
        if (e.kind == LineEvent::MARK) {
            if (e.what == "call " + label)
                inside = true;
            else if (e.what == "return " + label)
                inside = false;
            continue;
        }
        if (inside)
            out.push_back(e);
    }
    return out;
}

std::vector<uint32_t> model_speeds(const std::string &model)
{
    std::vector<uint32_t> out;
    if (is_esi(model)) {
        for (const LineRow &r : ESI_ROWS)
            out.push_back(r.baud);
    } else {
        for (const CommandRow &r : COMMAND_ROWS)
            out.push_back(r.baud);
    }
    return out;
}

std::vector<std::string> check_init_call(const std::string &model, const PortState &before,
                                         int result, const std::vector<LineEvent> &events,
                                         const PortState &after, const CheckOptions &options)
{
    std::vector<std::string> faults;
    const LineRow *line_row = is_esi(model) ? esi_row(before.baud) : nullptr;
    const CommandRow *cmd_row = is_esi(model) ? nullptr : command_row(before.baud);
    int want = (line_row != nullptr || cmd_row != nullptr) ? 0 : -2;
    if (result != want)
        faults.push_back("InitIrDevice gave " + std::to_string(result) + ", wanted " +
                         std::to_string(want));

    if (want == -2) {
        for (const LineEvent &e : events)
            if (e.kind == LineEvent::LINES || e.kind == LineEvent::SPEED ||
                e.kind == LineEvent::WRITE)
                faults.push_back("a refused speed still changed the port");
        check_after(before, after, faults);
        return faults;
    }
    if (line_row != nullptr) {
        check_esi(*line_row, before, events, faults);
        check_after(PortState{before.baud, line_row->rts, line_row->dtr}, after, faults);
        return faults;
    }
    std::vector<uint8_t> bytes;
    if (two_bytes(model))
        bytes.push_back(WAKE_UP);
    bytes.push_back(two_bytes(model) ? cmd_row->two_byte : cmd_row->one_byte);
    std::vector<Change> seen = observed_changes(before, events);
    std::vector<Change> wanted = expected_commands(before.baud, bytes);
    if (!same_steps(seen, wanted))
        faults.push_back("steps: " + describe(seen) + "; wanted: " + describe(wanted));
    else
        check_waits(seen, options, faults);
    check_after(PortState{before.baud, true, before.dtr}, after, faults);
    return faults;
}
