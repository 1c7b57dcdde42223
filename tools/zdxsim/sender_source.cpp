// sender_source.cpp - the sending terminal's file; see sender_source.h.
#include "sender_source.h"

#include <cctype>
#include <cstring>

namespace zdxsim {

namespace {

constexpr int WIDTH_MAX = 254;      // one field, bytes
constexpr int WIDTH_SUM_MAX = 255;  // fields + sum of widths
// Name field of the header, characters.
constexpr int NAME_MAX = 12;
// A field-definition line, characters (longer lines are cut).
constexpr int FLD_LINE_MAX = 256;
// Path of the field-definition file: the data file's path + ".FLD".
constexpr size_t PATH_MAX_LEN = 4096;
constexpr uint8_t CTRL_Z = 0x1A;

bool blank(char c) { return c == ' ' || c == '\t'; }

const char *skip_blanks(const char *p) {
    while (blank(*p)) ++p;
    return p;
}

// Case-blind prefix test; returns the rest of s after the prefix, or null.
const char *after_word(const char *s, const char *word) {
    for (; *word; ++s, ++word)
        if (std::toupper(static_cast<unsigned char>(*s)) != *word) return nullptr;
    return s;
}

// A FIELD/FIELDS list: widths separated by blanks or one comma (one comma
// may also lead), ended by the line end or '*'.
bool width_list(const char *p, SendFile *file) {
    file->fields = 0;
    for (;;) {
        p = skip_blanks(p);
        if (*p == '\0' || *p == '*') return true;
        if (*p == ',') p = skip_blanks(p + 1);
        if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
        int w = 0;
        while (std::isdigit(static_cast<unsigned char>(*p))) {
            w = w * 10 + (*p++ - '0');
            if (w > WIDTH_MAX) return false;
        }
        if (*p != '\0' && *p != '*' && *p != ',' && !blank(*p)) return false;
        if (file->fields == MAX_FIELDS) return false;
        file->widths[file->fields++] = w;
    }
}

// Does a FILE line's rest name data_name (then only blanks or a comment)?
bool names_file(const char *p, const char *data_name) {
    p = skip_blanks(p);
    size_t n = std::strlen(data_name);
    for (size_t i = 0; i < n; ++i)
        if (std::toupper(static_cast<unsigned char>(p[i])) !=
            std::toupper(static_cast<unsigned char>(data_name[i])))
            return false;
    p = skip_blanks(p + n);
    return *p == '\0' || *p == '*';
}

bool set_record_length(SendFile *file, char *err, size_t err_size) {
    file->file_type = file_kind(file->name);
    if (file->file_type != 0) {
        file->fields = 0;
        file->record_length = file->file_type == 1 ? PD3_RECORD_LEN : EX3_RECORD_LEN;
        return true;
    }
    int sum = 0;
    for (int i = 0; i < file->fields; ++i) sum += file->widths[i];
    if (file->fields + sum > WIDTH_SUM_MAX) {
        std::snprintf(err, err_size, "the widths and their number exceed 255");
        return false;
    }
    file->record_length = sum;
    return true;
}

// The upper-case last component of path, when it fits the name field.
bool name_of(const char *path, char *name) {
    const char *base = std::strrchr(path, '/');
    const char *back = std::strrchr(path, '\\');
    if (back && (!base || back > base)) base = back;
    base = base ? base + 1 : path;
    size_t n = std::strlen(base);
    if (n == 0 || n > size_t(NAME_MAX)) return false;
    for (size_t i = 0; i <= n; ++i)
        name[i] = char(std::toupper(static_cast<unsigned char>(base[i])));
    return true;
}

}  // namespace

int file_kind(const char *name) {
    const char *dot = std::strrchr(name, '.');
    if (!dot || std::strlen(dot) != 4) return 0;
    char ext[5] = {0, 0, 0, 0, 0};
    for (int i = 0; i < 4; ++i) ext[i] = char(std::toupper(static_cast<unsigned char>(dot[i])));
    if (std::strcmp(ext, ".PD3") == 0) return 1;
    if (std::strcmp(ext, ".EX3") == 0) return 2;
    if (std::strcmp(ext, ".FN3") == 0) return 3;
    return 0;
}

bool parse_widths(const char *text, SendFile *file) {
    if (!width_list(text, file) || file->fields == 0) return false;
    int sum = 0;
    for (int i = 0; i < file->fields; ++i) {
        if (file->widths[i] < 1) return false;
        sum += file->widths[i];
    }
    return file->fields + sum <= WIDTH_SUM_MAX;
}

bool fld_widths(FILE *fp, const char *data_name, SendFile *file) {
    enum { searching, other_section, own_section } state = searching;
    char line[FLD_LINE_MAX];
    while (std::fgets(line, sizeof line, fp)) {
        line[std::strcspn(line, "\r\n")] = '\0';
        const char *p = skip_blanks(line);
        const char *rest = after_word(p, "FIELDS");
        if (!rest) rest = after_word(p, "FIELD");
        if (rest && state != other_section) return width_list(rest, file);
        if ((rest = after_word(p, "FILE")) != nullptr) {
            if (state == own_section) return false;  // section without a list
            state = names_file(rest, data_name) ? own_section : other_section;
        }
    }
    return false;
}

void generated_record(int serial, uint8_t *out, int len) {
    char digits[6];
    std::snprintf(digits, sizeof digits, "%05u", unsigned(serial) % 100000u);
    for (int j = 0; j < len; ++j)
        out[j] = j < 5 ? uint8_t(digits[j]) : uint8_t('A' + (serial + j) % 26);
    if (serial % 3 == 0 && len > 6) out[len / 2] = 0x10;
}

bool SendSource::open(const SendRequest &req, SendFile *file, char *err, size_t err_size) {
    std::memset(file, 0, sizeof *file);
    const char *name = req.name;
    if (!name && req.path) {
        if (!name_of(req.path, file->name)) {
            std::snprintf(err, err_size,
                          "%s: not a name of at most 12 characters; give --send-name", req.path);
            return false;
        }
    } else {
        if (!name) name = GENERATED_NAME;
        if (std::strlen(name) > size_t(NAME_MAX)) {
            std::snprintf(err, err_size, "--send-name: at most 12 characters");
            return false;
        }
        std::snprintf(file->name, sizeof file->name, "%s", name);
    }
    bool data = file_kind(file->name) == 0;
    if (data && req.widths && !parse_widths(req.widths, file)) {
        std::snprintf(err, err_size, "--widths: 1 to 16 widths of 1 to 254, in all at most 255");
        return false;
    }
    if (!data && req.widths) {
        std::snprintf(err, err_size, "--widths: not for a program file");
        return false;
    }
    if (data && !req.widths && !req.path) {
        std::snprintf(err, err_size, "--send-records: give --widths for a data file");
        return false;
    }
    generated_ = req.path == nullptr;
    if (generated_) {
        file->records = req.generated;
        return set_record_length(file, err, err_size);
    }
    if (data && !req.widths) {
        // Widths from the field-definition file beside the data file, found
        // by the spelled base name.
        char fld[PATH_MAX_LEN];
        const char *slash = std::strrchr(req.path, '/');
        const char *dot = std::strrchr(req.path, '.');
        size_t base = (dot && (!slash || dot > slash)) ? size_t(dot - req.path)
                                                       : std::strlen(req.path);
        FILE *fp = nullptr;
        for (const char *ext : {".FLD", ".fld"}) {
            std::snprintf(fld, sizeof fld, "%.*s%s", int(base), req.path, ext);
            if ((fp = std::fopen(fld, "rb")) != nullptr) break;
        }
        bool ok = fp && fld_widths(fp, file->name, file);
        if (fp) std::fclose(fp);
        if (!ok) {
            std::snprintf(err, err_size, "%s: no valid field definition for %s; give --widths", fld,
                          file->name);
            return false;
        }
    }
    return set_record_length(file, err, err_size) && load(req.path, file, err, err_size);
}

bool SendSource::load(const char *path, SendFile *file, char *err, size_t err_size) {
    FILE *fp = std::fopen(path, "rb");
    if (!fp) {
        std::snprintf(err, err_size, "%s: cannot open", path);
        return false;
    }
    const char fill = file->file_type == 0 ? ' ' : '0';
    std::string content;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, fp)) > 0) content.append(chunk, n);
    std::fclose(fp);
    if (!content.empty() && uint8_t(content.back()) == CTRL_Z) content.pop_back();
    records_.clear();
    size_t pos = 0;
    while (pos < content.size()) {
        size_t end = content.find('\n', pos);
        size_t next = end == std::string::npos ? content.size() : end + 1;
        if (end == std::string::npos) end = content.size();
        else if (end > pos && content[end - 1] == '\r') --end;
        std::string rec = content.substr(pos, end - pos);
        rec.resize(size_t(file->record_length), fill);
        records_.push_back(rec);
        pos = next;
    }
    if (records_.size() > size_t(MAX_RECORDS)) {
        std::snprintf(err, err_size, "%s: more than %d records", path, MAX_RECORDS);
        return false;
    }
    file->records = int(records_.size());
    return true;
}

bool SendSource::record(int serial, uint8_t *out, int len) {
    if (generated_) {
        generated_record(serial, out, len);
        return true;
    }
    if (serial < 1 || size_t(serial) > records_.size()) return false;
    std::memcpy(out, records_[size_t(serial - 1)].data(), size_t(len));
    return true;
}

}  // namespace zdxsim
