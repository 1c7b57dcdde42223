// line_log.h - reading the modem-line shim's event log and checking what
// an adapter plug-in did to the port against the procedure of its model.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct LineEvent {
    enum Kind { LINES, SPEED, WRITE, DRAIN, FLUSH, MARK } kind = MARK;
    uint64_t us = 0;   // monotonic time stamp, microseconds
    int fd = -1;
    bool rts = false, dtr = false;   // LINES: the lines after the request
    std::string what;                // LINES: request and mask; MARK: its text
    uint32_t from = 0, to = 0;       // SPEED, bit/s
    std::vector<uint8_t> bytes;      // WRITE
};

// Parses the log text; lines it does not know are skipped.  Events on the
// standard descriptors 0 to 2 (a test's own terminal) are left out.
std::vector<LineEvent> parse_line_log(const std::string &text);

// The events after the line "mark call LABEL" up to "mark return LABEL".
std::vector<LineEvent> call_events(const std::vector<LineEvent> &all, const std::string &label);

struct PortState {
    uint32_t baud;
    bool rts;
    bool dtr;
};

// What the check asks of the port's driver.
struct CheckOptions {
    // The procedure waits for the output to drain before every RTS change
    // and before the speed is restored (a "drain" event is logged).
    bool expect_drain = true;
};

// Checks one InitIrDevice call of the plug-in model ("Orv5EESI",
// "Orv5AIRM", "Orv5KKCI", "Orv5FMIR") on a port set to before.baud with
// RTS and DTR on: its result, the line and speed changes and bytes in
// order, the waits between them, and the port after the call.  Returns
// one message per fault; empty when all is as it should be.
std::vector<std::string> check_init_call(const std::string &model, const PortState &before,
                                         int result, const std::vector<LineEvent> &events,
                                         const PortState &after, const CheckOptions &options);

// The speeds InitIrDevice of the model accepts, bit/s.
std::vector<uint32_t> model_speeds(const std::string &model);
