// fld_writer.cpp - the field-definition file of a received data file.
#include "format/fld_writer.h"

#include "link/text_chars.h"

#include <cstdio>
#include <cstring>

#include "format/fld_reader.h"
#include "orv5w32.h"
#include "platform/os_reason.h"

static_assert(FLD_RAW_LINE_SIZE == FLD_LINE_MAX + 2, "a reader's line and its CR LF");

// Our lines: the longest is "fields" TAB and 16 widths of 3 digits, each
// but the first behind a space: 6 + 1 + 3 + 15 * 4 + CR LF = 72.
constexpr int FLD_OUT_LINE_SIZE = 80;

static const char FLD_EXT_UPPER[] = ".FLD";
static const char FLD_EXT_LOWER[] = ".fld";
static const char COMMENT_CREATED[] =
    "* created by Orvane Transfer Utility 5R for Windows95/NT DLL Version 1.01S";
static const char COMMENT_NOTICE[] = "*   field layout of a file received from a terminal";

[[nodiscard]] static Orv5Result code_of(PlatFileStatus st)
{
    return st == PLAT_FILE_DISK_FULL ? ORV5_E_DISK_FULL : ORV5_E_FILE_IO;
}

static bool join(char *out, const char *a, const char *b, const char *c)
{
    int n = std::snprintf(out, PATH_SIZE, "%s%s%s", a, b, c);
    return n >= 0 && n < PATH_SIZE;
}

// --- our section -----------------------------------------------------------------

static PlatFileStatus put_line(plat_file f, const char *path, const char *text)
{
    char line[FLD_OUT_LINE_SIZE];
    int n = std::snprintf(line, sizeof line, "%s\r\n", text);
    if (n < 0 || n >= static_cast<int>(sizeof line))
        return PLAT_FILE_FAILED;
    return plat_file_write(f, line, static_cast<uint32_t>(n), path);
}

static void format_widths(char *text, const FldSection &c)
{
    if (c.ditems <= 0) {
        std::strcpy(text, "fields");   // the keyword alone: no fields
        return;
    }
    int used = std::snprintf(text, FLD_OUT_LINE_SIZE, c.ditems == 1 ? "field\t%u" : "fields\t%u",
                             static_cast<unsigned>(c.ddigits[0]));
    for (int i = 1; i < c.ditems; ++i)
        used += std::snprintf(text + used, static_cast<size_t>(FLD_OUT_LINE_SIZE - used), " %u",
                              static_cast<unsigned>(c.ddigits[i]));
}

static PlatFileStatus put_section(plat_file f, const char *path, const FldSection &c)
{
    char text[FLD_OUT_LINE_SIZE];
    PlatFileStatus st = put_line(f, path, COMMENT_CREATED);
    if (st == PLAT_FILE_OK)
        st = put_line(f, path, COMMENT_NOTICE);
    std::snprintf(text, sizeof text, "file\t%s", c.file_text);
    if (st == PLAT_FILE_OK)
        st = put_line(f, path, text);
    if (st == PLAT_FILE_OK && c.has_date) {
        std::snprintf(text, sizeof text, "date\t%4u-%02u-%02u %2u:%02u:%02u",
                      static_cast<unsigned>(c.date.year), static_cast<unsigned>(c.date.month),
                      static_cast<unsigned>(c.date.day), static_cast<unsigned>(c.date.hour),
                      static_cast<unsigned>(c.date.minute), static_cast<unsigned>(c.date.second));
        st = put_line(f, path, text);
    }
    std::snprintf(text, sizeof text, "size\t%llu", static_cast<unsigned long long>(c.size));
    if (st == PLAT_FILE_OK)
        st = put_line(f, path, text);
    std::snprintf(text, sizeof text, c.records > 1 ? "records\t%lu" : "record\t%lu",
                  static_cast<unsigned long>(c.records));
    if (st == PLAT_FILE_OK)
        st = put_line(f, path, text);
    format_widths(text, c);
    if (st == PLAT_FILE_OK)
        st = put_line(f, path, text);
    return st;
}

// --- the old file's other sections ---------------------------------------------

// The byte k places ahead in the old file (k = 0 or 1), or -1 at its end.
static int peek(FldOutput &o, plat_file f, uint32_t k, PlatFileStatus &st)
{
    while (o.block_pos + k >= o.block_len && st == PLAT_FILE_OK) {
        std::memmove(o.block, o.block + o.block_pos, o.block_len - o.block_pos);
        o.block_len -= o.block_pos;
        o.block_pos = 0;
        uint32_t got = 0;
        st = plat_file_read(f, o.block + o.block_len, FLD_BLOCK_SIZE - o.block_len, &got, o.path);
        if (got == 0)
            break;
        o.block_len += got;
    }
    return o.block_pos + k < o.block_len ? o.block[o.block_pos + k] : -1;
}

// Reads the next line as the field-file reader sees it (at most
// FLD_LINE_MAX characters; a longer line goes on as the next one) into
// o.line with its line end as found.  *content: characters before the line
// end.  0 at the end of the file.
static int next_line(FldOutput &o, plat_file f, int *content, PlatFileStatus &st)
{
    int raw = 0;
    *content = 0;
    while (*content < FLD_LINE_MAX) {
        int c = peek(o, f, 0, st);
        if (c < 0)
            return raw;
        if (c == '\n' || (c == '\r' && peek(o, f, 1, st) == '\n'))
            break;
        o.line[raw++] = o.block[o.block_pos++];
        ++*content;
    }
    // A line end right behind belongs to the line.
    int c = peek(o, f, 0, st);
    if (c == '\r' && peek(o, f, 1, st) == '\n')
        o.line[raw++] = o.block[o.block_pos++];
    if (peek(o, f, 0, st) == '\n')
        o.line[raw++] = o.block[o.block_pos++];
    return raw;
}

// True when the n characters at p start with word (upper case), ignoring case.
static bool starts_with(const uint8_t *p, int n, const char *word)
{
    int len = static_cast<int>(std::strlen(word));
    if (n < len)
        return false;
    for (int i = 0; i < len; ++i)
        if (ascii_upper(static_cast<char>(p[i])) != word[i])
            return false;
    return true;
}

enum class LineKind { OurSection, OtherSection, Other };

// Decides a line the way the reader does: a "file" line opens a section;
// it is ours when it names name (upper case) followed only by blanks, a
// comment or the line end.
static LineKind classify(const uint8_t *line, int n, const char *name)
{
    int i = 0;
    while (i < n && is_blank(static_cast<char>(line[i])))
        ++i;
    if (starts_with(line + i, n - i, "FIELD") || !starts_with(line + i, n - i, "FILE"))
        return LineKind::Other;
    i += 4;
    while (i < n && is_blank(static_cast<char>(line[i])))
        ++i;
    if (!starts_with(line + i, n - i, name))
        return LineKind::OtherSection;
    i += static_cast<int>(std::strlen(name));
    while (i < n && is_blank(static_cast<char>(line[i])))
        ++i;
    return (i == n || line[i] == '*') ? LineKind::OurSection : LineKind::OtherSection;
}

// Copies the sections of other files from the old file at o.path to f.
static PlatFileStatus keep_other_sections(FldOutput &o, plat_file f, const char *tmp_what,
                                          const char *name)
{
    plat_file old = PLAT_FILE_NONE;
    PlatFileStatus st = plat_file_open_read(o.path, &old);
    if (st != PLAT_FILE_OK)
        return st;
    o.block_len = o.block_pos = 0;
    bool keeping = false;   // lines before the first section give way to ours
    PlatFileStatus wst = PLAT_FILE_OK;
    int content = 0;
    int raw = next_line(o, old, &content, st);
    while (raw > 0 && wst == PLAT_FILE_OK) {
        LineKind kind = classify(o.line, content, name);
        if (kind != LineKind::Other)
            keeping = kind == LineKind::OtherSection;
        if (keeping)
            wst = plat_file_write(f, o.line, static_cast<uint32_t>(raw), tmp_what);
        raw = next_line(o, old, &content, st);
    }
    plat_file_close(old, o.path);
    return wst != PLAT_FILE_OK ? wst : st;
}

// --- preparing and installing ------------------------------------------------------

// The .FLD file's name: the upper-case extension unless only a lower-case
// one exists (file systems that tell case apart; elsewhere they are one).
static bool choose_path(FldOutput &o, const char *dir, const char *base)
{
    if (!join(o.path, dir, base, FLD_EXT_UPPER))
        return false;
    if (plat_file_exists(o.path))
        return true;
    char lower[PATH_SIZE];
    if (join(lower, dir, base, FLD_EXT_LOWER) && plat_file_exists(lower))
        std::strcpy(o.path, lower);
    return true;
}

Orv5Result fld_prepare(FldOutput &o, const char *dir, const char *base, const FldSection &section)
{
    o.tmp_path[0] = '\0';
    if (!choose_path(o, dir, base)) {
        plat_reason_set(base, "path too long");
        return ORV5_E_FILE_IO;
    }
    plat_file f = PLAT_FILE_NONE;
    PlatFileStatus st = plat_file_create_unique(dir, o.tmp_path, PATH_SIZE, &f);
    if (st != PLAT_FILE_OK)
        return code_of(st);
    st = put_section(f, o.tmp_path, section);
    if (st == PLAT_FILE_OK && plat_file_exists(o.path))
        st = keep_other_sections(o, f, o.tmp_path, section.file_text);
    if (st == PLAT_FILE_OK)
        st = plat_file_sync(f, o.tmp_path);
    PlatFileStatus closed = plat_file_close(f, o.tmp_path);
    if (st == PLAT_FILE_OK)
        st = closed;
    if (st != PLAT_FILE_OK) {
        fld_drop(o);
        return code_of(st);
    }
    return ORV5_OK;
}

Orv5Result fld_install(FldOutput &o)
{
    if (o.tmp_path[0] == '\0')
        return ORV5_E_FILE_IO;
    PlatFileStatus st = plat_file_replace(o.tmp_path, o.path);
    if (st != PLAT_FILE_OK) {
        fld_drop(o);
        return ORV5_E_FILE_IO;
    }
    o.tmp_path[0] = '\0';
    return ORV5_OK;
}

void fld_drop(FldOutput &o)
{
    if (o.tmp_path[0] != '\0' && plat_file_exists(o.tmp_path))
        plat_file_remove(o.tmp_path);
    o.tmp_path[0] = '\0';
}
