// sim_output.h - where the simulated terminal puts what it received.
#pragma once

#include <cstddef>
#include <cstdio>

#include "sender_model.h"
#include "sender_source.h"
#include "terminal_model.h"

// Writes each received record as one line (record bytes, CR LF) into
// <dir>/<name as received>; without a directory it only counts.
class FileSink : public zdxsim::RecordSink {
public:
    explicit FileSink(const char *dir) : dir_(dir) {}
    ~FileSink() override { close(); }
    void on_header(const zdxsim::TerminalHeader &header) override;
    bool on_record(int serial, const uint8_t *bytes, int len) override;
    void close();

private:
    const char *dir_;
    FILE *fp_ = nullptr;
    bool failed_ = false;
};

// Bytes that crossed the line during a transfer, each way.
struct LineBytes {
    long received;
    long sent;
};

// The one-line JSON summary of a transfer.  timed_out: the line fell
// silent before the transfer ended.
void format_summary(const zdxsim::TerminalSummary &s, bool timed_out, const LineBytes &bytes,
                    char *buf, size_t size);

// The one-line JSON summary of a transfer in the sending role.
// timed_out: the line fell silent before the transfer ended.
void format_send_summary(const zdxsim::SenderSummary &s, const zdxsim::SendFile &file,
                         bool timed_out, const LineBytes &bytes, char *buf, size_t size);

// Writes the file as the terminal sends it (each record, CR LF) into
// <dir>/<header name>: what the PC should write when it receives it.
bool write_sent_file(const char *dir, const zdxsim::SendFile &file, zdxsim::SendSource &source);

// Writes the summary line to <dir>/summary.json; false on failure.
bool write_summary_file(const char *dir, const char *json);
