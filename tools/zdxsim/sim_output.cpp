// sim_output.cpp - received records and the transfer summary.
#include "sim_output.h"

#include <cstring>

namespace {

// Directory + '/' + 8.3 name + NUL, with room for long directories.
constexpr size_t PATH_SIZE = 4096;

// Widths as a JSON array: "[" + up to 16 x ("," + 3 digits) + "]" + NUL.
constexpr size_t WIDTHS_SIZE = zdxsim::MAX_FIELDS * 4 + 3;
// A header name in JSON: 12 characters, each at most \u00XX.
constexpr size_t NAME_JSON_SIZE = 12 * 6 + 1;

void widths_json(const int *widths, int fields, char *out) {
    std::strcpy(out, "[");
    for (int i = 0; i < fields; ++i) {
        size_t n = std::strlen(out);
        std::snprintf(out + n, WIDTHS_SIZE - n, "%s%d", i ? "," : "", widths[i]);
    }
    std::strcat(out, "]");
}

// A name given with --send-name may hold any character.
void json_escape(const char *in, char *out, size_t size) {
    size_t o = 0;
    for (; *in && o + 7 < size; ++in) {
        unsigned char c = static_cast<unsigned char>(*in);
        if (c == '"' || c == '\\') {
            out[o++] = '\\';
            out[o++] = char(c);
        } else if (c < 0x20 || c >= 0x7F) {
            o += size_t(std::snprintf(out + o, size - o, "\\u%04x", c));
        } else {
            out[o++] = char(c);
        }
    }
    out[o] = '\0';
}

}  // namespace

void FileSink::on_header(const zdxsim::TerminalHeader &header) {
    close();  // a repeated header starts the file again
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

void format_send_summary(const zdxsim::SenderSummary &s, const zdxsim::SendFile &file,
                         bool timed_out, const LineBytes &bytes, char *buf, size_t size) {
    const char *status = timed_out && !s.finished ? "timeout" : zdxsim::status_text(s.status);
    char widths[WIDTHS_SIZE];
    widths_json(file.widths, file.fields, widths);
    char name[NAME_JSON_SIZE];
    json_escape(file.name, name, sizeof name);
    // The answer log holds only letters, digits and ". :!+".
    std::snprintf(buf, size,
                  "{\"role\":\"send\",\"status\":\"%s\",\"closing\":\"%s\",\"name\":\"%s\","
                  "\"type\":%d,\"records\":%d,\"widths\":%s,\"record_length\":%d,"
                  "\"acked\":%d,\"frames_sent\":%d,\"acks\":%d,\"naks\":%d,\"eots\":%d,"
                  "\"foreign\":%d,\"enquiries\":%d,\"connect_tries\":%d,\"timeouts\":%d,"
                  "\"pc_eot\":%s,\"answers\":\"%s\",\"bytes_in\":%ld,\"bytes_out\":%ld}",
                  status, zdxsim::closing_text(s.closing), name, file.file_type, file.records,
                  widths, file.record_length, s.acked, s.frames_sent, s.acks, s.naks, s.eots,
                  s.foreign, s.enquiries, s.connect_tries, s.timeouts, s.pc_eot ? "true" : "false",
                  s.answers, bytes.received, bytes.sent);
}

bool write_sent_file(const char *dir, const zdxsim::SendFile &file, zdxsim::SendSource &source) {
    char name[sizeof file.name];
    std::snprintf(name, sizeof name, "%s", file.name);
    for (char *p = name; *p; ++p)
        if (*p == '/' || *p == '\\') *p = '_';  // stays inside dir
    char path[PATH_SIZE];
    std::snprintf(path, sizeof path, "%s/%s", dir, name);
    FILE *fp = std::fopen(path, "wb");
    if (!fp) return false;
    uint8_t record[zdxsim::SEND_RECORD_MAX];
    bool ok = true;
    for (int k = 1; ok && k <= file.records; ++k) {
        size_t len = size_t(file.record_length);
        ok = source.record(k, record, file.record_length) &&
             std::fwrite(record, 1, len, fp) == len && std::fwrite("\r\n", 1, 2, fp) == 2;
    }
    return std::fclose(fp) == 0 && ok;
}
