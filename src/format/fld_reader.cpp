// fld_reader.cpp - reading a data file's field-definition (.FLD) file.
//
// The file is read in binary mode and CR LF is folded here, so that a file
// written on either system reads the same everywhere.
#include "format/fld_reader.h"

#include <cstdio>
#include <cstring>

#include "link/text_chars.h"
#include "orv5w32.h"

// Line buffer: FLD_LINE_MAX characters, a '\n' marking a real line end
// (absent when the line was cut or the file ended), and a NUL.
constexpr int FLD_BUF_SIZE = FLD_LINE_MAX + 2;
constexpr int FLD_NAME_MAX = NAME_TEXT_SIZE - 1;   // "NAME.EXT": 8 + 4 characters

enum FldState { FLD_SEARCHING = 0, FLD_SKIPPING = 1, FLD_INSIDE = 2, FLD_DONE = 3, FLD_FAILED = 4 };
enum WidthResult { WIDTH_ERROR = -1, WIDTH_END = 0, WIDTH_READ = 1 };

// The reader's state while it walks one field-definition file.
struct FldReader {
    std::FILE *fp;
    int32_t *ditems;             // widths read so far
    int32_t *ddigits;            // DITEMS_MAX of them
    int state;                   // FldState
    char name[NAME_TEXT_SIZE];   // file_name + file_ext, upper case
    int name_len;
    // Characters given back to the stream (a CR that did not start a CR
    // LF), read again before the file.  Two: a CR and the one after it.
    int pushed[2];
    int pushed_count;
};

static int next_char(FldReader &r)
{
    return r.pushed_count > 0 ? r.pushed[--r.pushed_count] : std::fgetc(r.fp);
}

static void push_back(FldReader &r, int c)
{
    if (r.pushed_count < 2)
        r.pushed[r.pushed_count++] = c;
}

// After a CR: true (and the LF consumed) when the CR starts a CR LF.
static bool crlf_follows(FldReader &r)
{
    int d = next_char(r);
    if (d == '\n')
        return true;
    push_back(r, d);
    return false;
}

// Reads one line into buf (see FLD_BUF_SIZE); false at the end of the file.
static bool fld_read_line(FldReader &r, char *buf)
{
    int n = 0;
    while (n < FLD_LINE_MAX) {
        int c = next_char(r);
        if (c == EOF) {
            buf[n] = '\0';
            return n > 0;
        }
        if (c == '\n' || (c == '\r' && crlf_follows(r))) {
            buf[n++] = '\n';
            buf[n] = '\0';
            return true;
        }
        buf[n++] = static_cast<char>(c);
    }
    // A full line: a line end right behind it still belongs to it; anything
    // else starts the next line.
    int c = next_char(r);
    if (c == '\n' || (c == '\r' && crlf_follows(r))) {
        buf[n++] = '\n';
    } else if (c == '\r') {
        push_back(r, c);   // on top of the character after it: read first
    } else if (c != EOF) {
        push_back(r, c);
    }
    buf[n] = '\0';
    return true;
}

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
        if (ascii_upper(*p) != *kw)
            return nullptr;
    return p;
}

static int fld_next_width(FldReader &r, const char **cursor)
{
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
    if (value == 0)
        return WIDTH_ERROR;   // a header announcing width 000 is refused by every receiver
    if (*r.ditems >= DITEMS_MAX)
        return WIDTH_ERROR;   // refused before it is stored: ddigits holds 16
    r.ddigits[(*r.ditems)++] = value;
    *cursor = p;
    return WIDTH_READ;
}

static void fld_width_list(FldReader &r, const char *rest)
{
    int w;
    int read = 0;
    while ((w = fld_next_width(r, &rest)) == WIDTH_READ)
        ++read;
    // An empty list would announce 00 fields, which no receiver accepts.
    r.state = (w == WIDTH_END && read > 0) ? FLD_DONE : FLD_FAILED;
}

static void fld_file_match(FldReader &r, const char *rest)
{
    const char *p = skip_blanks(rest);
    for (int i = 0; i < r.name_len; ++i)
        if (ascii_upper(p[i]) != r.name[i])   // a NUL in p never matches
        {
            r.state = FLD_SKIPPING;
            return;
        }
    p = skip_blanks(p + r.name_len);
    r.state = (*p == '\n' || *p == '*') ? FLD_INSIDE : FLD_SKIPPING;
}

static void handle_line(FldReader &r, const char *line)
{
    const char *p = skip_blanks(line);
    const char *rest;
    if ((rest = after_keyword(p, "FIELDS")) != nullptr ||
        (rest = after_keyword(p, "FIELD")) != nullptr) {
        if (r.state != FLD_SKIPPING)
            fld_width_list(r, rest);
    } else if ((rest = after_keyword(p, "FILE")) != nullptr) {
        if (r.state == FLD_INSIDE)
            r.state = FLD_FAILED;   // the section ended without a field list
        else
            fld_file_match(r, rest);
    }
    // Blank, comment and information lines change nothing.
}

static bool set_fld_name(FldReader &r, const char *name, const char *ext)
{
    size_t n = std::strlen(name);
    size_t e = std::strlen(ext);
    if (n + e > static_cast<size_t>(FLD_NAME_MAX))
        return false;
    std::memcpy(r.name, name, n);
    std::memcpy(r.name + n, ext, e);
    r.name_len = static_cast<int>(n + e);
    for (int i = 0; i < r.name_len; ++i)
        r.name[i] = ascii_upper(r.name[i]);
    r.name[r.name_len] = '\0';
    return true;
}

Orv5Result fld_read_widths(const char *path, const char *alt_path, const char *name,
                           const char *ext, int32_t *ditems, int32_t *ddigits)
{
    FldReader r{};
    if (!set_fld_name(r, name, ext))
        return ORV5_E_FIELD_FILE;
    r.ditems = ditems;
    r.ddigits = ddigits;
    if (path)
        r.fp = std::fopen(path, "rb");
    if (!r.fp && alt_path)
        r.fp = std::fopen(alt_path, "rb");
    if (!r.fp)
        return ORV5_E_FIELD_FILE;

    char line[FLD_BUF_SIZE];
    r.pushed_count = 0;
    r.state = FLD_SEARCHING;
    while (r.state <= FLD_INSIDE) {
        if (!fld_read_line(r, line))
            r.state = FLD_FAILED;
        else
            handle_line(r, line);
    }
    std::fclose(r.fp);
    return r.state == FLD_DONE ? ORV5_OK : ORV5_E_FIELD_FILE;
}
