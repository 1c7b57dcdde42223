// escapes.cpp - the backslash escapes of a separator text (option T).
#include "runtime/settings.h"
#include "session/options.h"

static int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

static bool is_octal(char c) { return c >= '0' && c <= '7'; }

// Decodes the escape whose backslash has been read; *cursor stands on the
// character after it and is moved past the escape.
static char decode_one(const char **cursor)
{
    const char *p = *cursor;
    char c = *p;
    unsigned value = 0;
    switch (c) {
    case 'b':
    case 'B': *cursor = p + 1; return '\x08';
    case 'f':
    case 'F': *cursor = p + 1; return '\x0C';
    case 'n':
    case 'N': *cursor = p + 1; return '\x0A';
    case 'r':
    case 'R': *cursor = p + 1; return '\x0D';
    case 't':
    case 'T': *cursor = p + 1; return '\x09';
    case 'x':
    case 'X':
        ++p;
        for (int i = 0; i < 2 && hex_value(*p) >= 0; ++i, ++p)
            value = value * 16 + static_cast<unsigned>(hex_value(*p));
        *cursor = p;
        return static_cast<char>(value);
    case '\0': return '\\';   // a trailing backslash stands for itself
    default: break;
    }
    if (is_octal(c)) {
        for (int i = 0; i < 3 && is_octal(*p); ++i, ++p)
            value = value * 8 + static_cast<unsigned>(*p - '0');
        *cursor = p;
        return static_cast<char>(value & 0xFF);
    }
    // Any other character after a backslash is taken literally ("\\" is one
    // backslash, "\'" a single quote).
    *cursor = p + 1;
    return c;
}

int decode_escapes(char *out, const char *text)
{
    int n = 0;
    if (!out || !text)
        return 0;
    const char *p = text;
    while (*p != '\0' && n < TSEP_MAX) {
        char c = *p++;
        out[n++] = (c == '\\') ? decode_one(&p) : c;
    }
    return n;
}
