// session_report.cpp - running one session and describing it.
//
// Records and bytes are those of a completed session; a failed one moved
// nothing that stays (the terminal drops a file it was told EOT about, and
// the library removes a partly received one), so both are 0.
#include "session_report.h"

#include <chrono>
#include <cstring>

#include "command_text.h"
#include "orv5w32.h"
#include "transfer_counts.h"

namespace {

// Room for the system's reason: a path and a message, cut to fit.
constexpr int REASON_BUF_SIZE = 512;

void number_or_null(JsonLine &j, const char *key, long long value)
{
    if (value < 0)
        json_null(j, key);
    else
        json_number(j, key, value);
}

void string_or_null(JsonLine &j, const char *key, const std::string &value)
{
    if (value.empty())
        json_null(j, key);
    else
        json_string(j, key, value);
}

}   // namespace

SessionReport run_session(const std::string &text)
{
    SessionReport r;
    CommandTextFacts facts = read_command_text(text);
    r.receiving = facts.receive;
    TransferBaseline before = take_baseline(facts);

    char name_buf[ORV5_NAME_BUF_SIZE] = {};
    auto started = std::chrono::steady_clock::now();
    r.code = ExecOrv5(nullptr, text.c_str(), name_buf);
    r.duration_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - started)
                        .count();

    r.name_buf.assign(name_buf, strnlen(name_buf, ORV5_NAME_BUF_SIZE - 1));
    r.file = transfer_file(facts, r.name_buf);
    if (r.code != ORV5_OK) {
        char reason[REASON_BUF_SIZE] = {};
        if (GetOrv5LastReason(reason, REASON_BUF_SIZE) > 0)
            r.reason = reason;
        return r;
    }
    TransferCounts moved = r.receiving ? count_received(before, r.file) : count_sent(facts, r.file);
    r.records = moved.records;
    r.bytes = moved.bytes;
    return r;
}

void report_fields(JsonLine &j, const SessionReport &r)
{
    json_number(j, "result", r.code);
    json_string(j, "message", orv5_result_message(r.code));
    json_string(j, "direction", r.receiving ? "receive" : "send");
    json_string(j, "name_buf", r.name_buf);
    string_or_null(j, "file", r.file);
    number_or_null(j, "records", r.records);
    number_or_null(j, "bytes", r.bytes);
    json_number(j, "duration_ms", r.duration_ms);
    string_or_null(j, "reason", r.reason);
}
