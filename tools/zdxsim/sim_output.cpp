// sim_output.cpp - received records and the transfer summary.
#include "sim_output.h"

#include <cstring>

namespace {

// Directory + '/' + 8.3 name + NUL, with room for long directories.
constexpr size_t PATH_SIZE = 4096;

}  // namespace

void FileSink::on_header(const zdxsim::TerminalHeader &header) {
    close();                        // a repeated header starts the file again
    failed_ = false;
    if (!dir_) return;
    char path[PATH_SIZE];
    // The model accepts only 8.3 names without separators, so the name
    // cannot leave the directory.
    std::snprintf(path, sizeof path, "%s/%s", dir_, header.name);
    fp_ = std::fopen(path, "wb");
    failed_ = fp_ == nullptr;
    if (failed_) std::fprintf(stderr, "zdxsim: cannot create %s\n", path);
}

bool FileSink::on_record(int, const uint8_t *bytes, int len) {
    if (!dir_) return true;
    if (failed_ || !fp_) return false;
    if (std::fwrite(bytes, 1, size_t(len), fp_) != size_t(len) ||
        std::fwrite("\r\n", 1, 2, fp_) != 2) {
        failed_ = true;
        return false;
    }
    return true;
}

void FileSink::close() {
    if (fp_) std::fclose(fp_);
    fp_ = nullptr;
}

void format_summary(const zdxsim::TerminalSummary &s, bool timed_out, const LineBytes &bytes,
                    char *buf, size_t size) {
    const char *status = timed_out && !s.finished ? "timeout" : zdxsim::status_text(s.status);
    char widths[zdxsim::MAX_FIELDS * 5 + 3] = "[";
    for (int i = 0; s.header_seen && i < s.header.fields; ++i) {
        size_t n = std::strlen(widths);
        std::snprintf(widths + n, sizeof widths - n, "%s%d", i ? "," : "", s.header.widths[i]);
    }
    std::strcat(widths, "]");
    // The name holds only 8.3 name characters; a quote or backslash never
    // passes the model's name check, so no escaping is needed.
    std::snprintf(buf, size,
                  "{\"status\":\"%s\",\"name\":\"%s\",\"type\":%d,\"announced\":%d,"
                  "\"widths\":%s,\"record_length\":%d,\"written\":%d,\"naks\":%d,"
                  "\"enquiries\":%d,\"frames\":%d,\"eot_seen\":%s,\"error\":%d,"
                  "\"bytes_in\":%ld,\"bytes_out\":%ld}",
                  status, s.header_seen ? s.header.name : "", s.header.file_type,
                  s.header_seen ? s.header.records : -1, widths, s.header.record_length,
                  s.records_written, s.naks_sent, s.enquiries, s.frames,
                  s.eot_seen ? "true" : "false", s.error_code, bytes.received, bytes.sent);
}

bool write_summary_file(const char *dir, const char *json) {
    char path[PATH_SIZE];
    std::snprintf(path, sizeof path, "%s/summary.json", dir);
    FILE *fp = std::fopen(path, "wb");
    if (!fp) return false;
    bool ok = std::fprintf(fp, "%s\n", json) > 0;
    return std::fclose(fp) == 0 && ok;
}
