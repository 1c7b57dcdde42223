// options.cpp - walking the argument vector: tokens, options, dispatch.
#include "session/options.h"

#include <cstring>

#include "orv5w32.h"
#include "runtime/settings.h"
#include "session/option_parse.h"

void skip_item(const char **cursor)
{
    while (!at_item_end(*cursor))
        ++*cursor;
}

int read_decimal(const char **cursor, uint32_t cap, uint32_t *value)
{
    int digits = 0;
    uint64_t v = 0;   // at most (cap + 1) * 10 + 9: no wrap for a 32-bit cap
    for (; is_digit(**cursor); ++*cursor, ++digits) {
        if (v <= cap)
            v = v * 10 + static_cast<uint64_t>(**cursor - '0');
        if (v > cap)
            v = static_cast<uint64_t>(cap) + 1;
    }
    *value = static_cast<uint32_t>(v);
    return digits;
}

// Handlers by letter, 'A' to 'Z'; null = no such option.
static const OptionHandler letter_handlers[26] = {
    opt_append,                // A
    opt_baud,                  // B
    opt_fixed,                 // C
    nullptr,        nullptr,   // D E
    opt_fields,                // F
    nullptr,        nullptr,   // G H
    opt_adapter,               // I
    nullptr,        nullptr,   // J K
    opt_timeout,               // L
    nullptr,                   // M
    opt_name_check,            // N
    nullptr,                   // O
    opt_port,                  // P
    nullptr,                   // Q
    opt_receive,               // R
    nullptr,                   // S
    opt_separator,             // T
    nullptr,                   // U
    opt_window,                // V
    nullptr,                   // W
    opt_win_x,                 // X
    opt_win_y,                 // Y
    nullptr,                   // Z
};

static OptionHandler symbol_handler(char c)
{
    switch (c) {
    case '!': return opt_turnaround;
    case '#': return opt_station;
    case '?': return opt_nothing;
    default: return nullptr;
    }
}

Orv5Result parse_option(SessionSettings &s, const char **cursor, int sign)
{
    char c = **cursor;
    Orv5Result result;
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
        ++*cursor;
        OptionHandler h = letter_handlers[(c & ~0x20) - 'A'];
        result = h ? h(s, cursor, sign) : ORV5_E_COMMAND;
    } else if (OptionHandler h = symbol_handler(c)) {
        ++*cursor;
        result = h(s, cursor, sign);
    } else {
        if (!at_item_end(*cursor))
            ++*cursor;
        result = ORV5_E_INTERNAL;
    }
    // An option ends at a blank or the end of the token; anything else
    // that follows is refused and skipped so it cannot become a file name.
    if (!at_item_end(*cursor)) {
        skip_item(cursor);
        return ORV5_E_COMMAND;
    }
    return result;
}

Orv5Result parse_token(SessionSettings &s, const char *token)
{
    Orv5Result first = ORV5_OK;
    if (!token)
        return ORV5_OK;
    const char *p = token;
    while (*p != '\0') {
        unsigned char c = static_cast<unsigned char>(*p);
        Orv5Result r;
        if (c == '+' || c == '-') {
            ++p;
            r = parse_option(s, &p, c == '+' ? 1 : 0);
        } else if (c >= 0x21 && c <= 0x7E) {
            r = set_file_arg(s, &p);
        } else {
            ++p;   // blanks, control characters, DEL, bytes above 0x7F
            continue;
        }
        if (first == 0)
            first = r;
    }
    return first;
}

Orv5Result parse_args(SessionSettings &s, int argc, char **argv)
{
    Orv5Result first = ORV5_OK;
    s.file.file_given = 0;
    for (int i = 1; argv && i < argc; ++i) {
        Orv5Result r = parse_token(s, argv[i]);
        if (first == 0)
            first = r;
    }
    return first != 0 ? first : check_settings(s);
}

Orv5Result settle_record_length(SessionSettings &s)
{
    int32_t sum = 0;
    for (int i = 0; i < s.send.ditems; ++i)
        sum += s.send.ddigits[i];
    if (sum + s.send.ditems > DDSUM_MAX)
        return ORV5_E_RECORD_TOO_LONG;
    s.send.ddigits_sum = sum;
    s.send.record_length = sum;
    return ORV5_OK;
}

Orv5Result check_settings(SessionSettings &s)
{
    if (s.receive_mode)
        return ORV5_OK;
    if (s.file.file_type != FT_DATA) {
        if (s.send.ditems != 0)
            return ORV5_E_WIDTHS_FOR_PROG;
        s.send.record_length = (s.file.file_type == FT_PD3) ? PD3_RECORD : EX3_RECORD;
        return ORV5_OK;
    }
    if (s.send.ditems != 0)
        return settle_record_length(s);
    // The widths come from the data file's .FLD file, which cannot itself
    // be sent as data.
    return std::strcmp(s.file.file_ext, ".FLD") == 0 ? ORV5_E_FIELD_FILE : ORV5_OK;
}
