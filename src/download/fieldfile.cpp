// fieldfile.cpp - reading a data file's field-definition (.FLD) file.
//
// The file is read in binary mode and CR LF is folded here, so that a file
// written on either system reads the same everywhere.
#include "download/fieldfile.h"

#include <cstdio>
#include <cstring>

#include "orv5w32.h"
#include "session/settings.h"

// Line buffer: FLD_LINE_MAX characters, a '\n' marking a real line end
// (absent when the line was cut or the file ended), and a NUL.
constexpr int FLD_BUF_SIZE = FLD_LINE_MAX + 2;
constexpr int FLD_NAME_MAX = NAME_TEXT_SIZE - 1;   // "NAME.EXT": 8 + 4 characters

enum FldState { FLD_SEARCHING = 0, FLD_SKIPPING = 1, FLD_INSIDE = 2, FLD_DONE = 3, FLD_FAILED = 4 };
enum WidthResult { WIDTH_ERROR = -1, WIDTH_END = 0, WIDTH_READ = 1 };

static int fld_state;
static char fld_name[NAME_TEXT_SIZE];   // file_name + file_ext, upper case
static int fld_name_len;

// Characters given back to the stream (a CR that did not start a CR LF),
// read again before the file.  Two: a CR and the character after it.
static int pushed[2];
static int pushed_count;

static int next_char(std::FILE *fp)
{
    return pushed_count > 0 ? pushed[--pushed_count] : std::fgetc(fp);
}

static void push_back(int c)
{
    if (pushed_count < 2)
        pushed[pushed_count++] = c;
}

// After a CR: true (and the LF consumed) when the CR starts a CR LF.
static bool crlf_follows(std::FILE *fp)
{
    int d = next_char(fp);
    if (d == '\n')
        return true;
    push_back(d);
    return false;
}

// Reads one line into buf (see FLD_BUF_SIZE); false at the end of the file.
static bool fld_read_line(std::FILE *fp, char *buf)
{
    int n = 0;
    while (n < FLD_LINE_MAX) {
        int c = next_char(fp);
        if (c == EOF) {
            buf[n] = '\0';
            return n > 0;
        }
        if (c == '\n' || (c == '\r' && crlf_follows(fp))) {
            buf[n++] = '\n';
            buf[n] = '\0';
            return true;
        }
        buf[n++] = static_cast<char>(c);
    }
    // A full line: a line end right behind it still belongs to it; anything
    // else starts the next line.
    int c = next_char(fp);
    if (c == '\n' || (c == '\r' && crlf_follows(fp))) {
        buf[n++] = '\n';
    } else if (c == '\r') {
        push_back(c);   // on top of the character after it: read first
    } else if (c != EOF) {
        push_back(c);
    }
    buf[n] = '\0';
    return true;
}

static bool is_blank(char c) { return c == ' ' || c == '\t'; }
static bool is_digit(char c) { return c >= '0' && c <= '9'; }
static char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

static const char *skip_blanks(const char *p)
{
    while (is_blank(*p))
        ++p;
    return p;
}

// p after the keyword kw when the line starts with it (any case), else null.
static const char *after_keyword(const char *p, const char *kw)
{
    for (; *kw != '\0'; ++p, ++kw)
        if (upper(*p) != *kw)
            return nullptr;
    return p;
}

static int fld_next_width(const char **cursor)
{
    SessionSettings &s = session_settings;
    const char *p = skip_blanks(*cursor);
    if (*p == '*' || *p == '\n')
        return WIDTH_END;
    if (*p == ',')
        p = skip_blanks(p + 1);
    if (!is_digit(*p))
        return WIDTH_ERROR;
    int value = 0;
    for (; is_digit(*p); ++p) {
        value = value * 10 + (*p - '0');
        if (value > DDIGITS_MAX)
            return WIDTH_ERROR;
    }
    if (!is_blank(*p) && *p != ',' && *p != '*' && *p != '\n')
        return WIDTH_ERROR;
    if (s.ditems >= DITEMS_MAX)
        return WIDTH_ERROR;   // refused before it is stored: ddigits holds 16
    s.ddigits[s.ditems++] = value;
    *cursor = p;
    return WIDTH_READ;
}

static void fld_width_list(const char *rest)
{
    int r;
    while ((r = fld_next_width(&rest)) == WIDTH_READ) {
    }
    fld_state = (r == WIDTH_END) ? FLD_DONE : FLD_FAILED;
}

static void fld_file_match(const char *rest)
{
    const char *p = skip_blanks(rest);
    for (int i = 0; i < fld_name_len; ++i)
        if (upper(p[i]) != fld_name[i])   // a NUL in p never matches
        {
            fld_state = FLD_SKIPPING;
            return;
        }
    p = skip_blanks(p + fld_name_len);
    fld_state = (*p == '\n' || *p == '*') ? FLD_INSIDE : FLD_SKIPPING;
}

static void handle_line(const char *line)
{
    const char *p = skip_blanks(line);
    const char *rest;
    if ((rest = after_keyword(p, "FIELDS")) != nullptr ||
        (rest = after_keyword(p, "FIELD")) != nullptr) {
        if (fld_state != FLD_SKIPPING)
            fld_width_list(rest);
    } else if ((rest = after_keyword(p, "FILE")) != nullptr) {
        if (fld_state == FLD_INSIDE)
            fld_state = FLD_FAILED;   // the section ended without a field list
        else
            fld_file_match(rest);
    }
    // Blank, comment and information lines change nothing.
}

bool file_can_be_read(const char *path)
{
    std::FILE *fp = std::fopen(path, "rb");
    if (!fp)
        return false;
    std::fgetc(fp);   // a directory opens on some systems but cannot be read
    bool ok = !std::ferror(fp);
    std::fclose(fp);
    return ok;
}

static bool set_fld_name()
{
    const SessionSettings &s = session_settings;
    size_t n = std::strlen(s.file_name);
    size_t e = std::strlen(s.file_ext);
    if (n + e > static_cast<size_t>(FLD_NAME_MAX))
        return false;
    std::memcpy(fld_name, s.file_name, n);
    std::memcpy(fld_name + n, s.file_ext, e);
    fld_name_len = static_cast<int>(n + e);
    for (int i = 0; i < fld_name_len; ++i)
        fld_name[i] = upper(fld_name[i]);
    fld_name[fld_name_len] = '\0';
    return true;
}

// Beside the data file, under its spelled base name: ".FLD", then ".fld".
static std::FILE *open_fld()
{
    char path[PATH_SIZE];
    std::FILE *fp = nullptr;
    if (join_file_path(path, PATH_SIZE, ".FLD"))
        fp = std::fopen(path, "rb");
    if (!fp && join_file_path(path, PATH_SIZE, ".fld"))
        fp = std::fopen(path, "rb");
    return fp;
}

int read_field_file()
{
    char path[PATH_SIZE];
    if (session_settings.file_name[0] == '\0' || !join_file_path(path, PATH_SIZE, nullptr) ||
        !file_can_be_read(path))
        return ORV5_E_SEND_FILE;
    if (!set_fld_name())
        return ORV5_E_FIELD_FILE;
    std::FILE *fp = open_fld();
    if (!fp)
        return ORV5_E_FIELD_FILE;

    char line[FLD_BUF_SIZE];
    pushed_count = 0;
    fld_state = FLD_SEARCHING;
    while (fld_state <= FLD_INSIDE) {
        if (!fld_read_line(fp, line))
            fld_state = FLD_FAILED;
        else
            handle_line(line);
    }
    std::fclose(fp);
    return fld_state == FLD_DONE ? 0 : ORV5_E_FIELD_FILE;
}
