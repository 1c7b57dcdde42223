// session_report.h - one session run through ExecOrv5 and what it did,
// for --json, --verbose and the collecting station's log.
#pragma once

#include <string>

#include "json_out.h"

struct SessionReport {
    int code = 0;
    bool receiving = false;
    std::string name_buf;        // as ExecOrv5 left it; "" when untouched
    std::string file;            // the file sent or received; "" when not known
    long long records = 0;       // moved by a completed session; -1 not known
    long long bytes = 0;         // the same, bytes
    long long duration_ms = 0;   // the ExecOrv5 call, milliseconds
    std::string reason;          // the system's words behind a failure; "" none
};

SessionReport run_session(const std::string &text);

// The report's fields into j: result, message, direction, name_buf, file,
// records, bytes, duration_ms, reason (null when unknown or none).
void report_fields(JsonLine &j, const SessionReport &r);
