// packet_fields.cpp - parsers for the fields of a received packet.
#include "link/packet_fields.h"

#include "link/limits.h"
#include "link/text_chars.h"

#include <cstring>

constexpr int NAME_MAX = 8;
constexpr int EXT_MAX = 3;   // characters after the dot

static int get_decimal(const uint8_t *p, int n, int limit)
{
    if (n < 1)
        return -1;
    int value = 0;
    for (int i = 0; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return -1;
        value = value * 10 + (p[i] - '0');
        if (value > limit)
            return -1;
    }
    return value;
}

int get_serial_no(const uint8_t *p) { return get_decimal(p, SERIAL_DIGITS, RECORDS_MAX); }

int get_ddigits(const uint8_t *p, int n) { return get_decimal(p, n, DDIGITS_MAX); }

// Copies characters allowed after the first while fewer than max were
// copied; returns the position of the byte that stopped it.
static int copy_name_chars(const uint8_t *field, int i, char *out, int max)
{
    int n = 0;
    while (i < FNAME_FIELD && n < max && field[i] > 0x20 && field[i] < 0x7F &&
           is_dos_name_char(field[i], false))
        out[n++] = static_cast<char>(field[i++]);
    out[n] = '\0';
    return i;
}

NameFieldCheck get_fname(const uint8_t *field, char *name, char *ext)
{
    name[0] = '\0';
    ext[0] = '\0';
    if (!is_dos_name_char(field[0], true))
        return NameFieldCheck::Invalid;
    name[0] = static_cast<char>(field[0]);
    int i = copy_name_chars(field, 1, name + 1, NAME_MAX - 1);
    if (i < FNAME_FIELD && field[i] == '.') {
        ext[0] = '.';
        i = copy_name_chars(field, i + 1, ext + 1, EXT_MAX);
    }
    for (; i < FNAME_FIELD; ++i)
        if (field[i] != ' ')
            return NameFieldCheck::Invalid;
    return NameFieldCheck::Valid;
}
