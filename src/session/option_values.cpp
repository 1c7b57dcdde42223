// option_values.cpp - the option handlers and the values they take.
#include <cstring>

#include "orv5w32.h"
#include "runtime/settings.h"
#include "session/option_parse.h"
#include "session/options.h"

constexpr uint32_t PORT_NUMBER_MAX = 99;          // COM1..COM99 (P0 = COM0 fails to open)
constexpr uint32_t U16_MAX = 65535;               // time-out (s), station identifier
constexpr uint32_t WIN_COORD_MAX = 65535;         // |x|, |y| of the progress window, pixels
constexpr uint32_t TURNAROUND_MAX = 0x7FFFFFFF;   // fits turnaround_delay (ms, signed 32 bit)
constexpr int32_t TIMEOUT_DEFAULT_S = 30;         // -L without a value
constexpr int32_t TURNAROUND_DEFAULT_MS = 2;      // -! without a value

// Line speeds the port accepts, bit/s.
static const uint32_t baud_rates[] = {
    256000, 128000, 115200, 57600, 56000, 38400, 19200, 14400, 9600, 4800, 2400, 1200, 600, 300,
};

static bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

Orv5Result opt_receive(SessionSettings &s, const char **, int sign)
{
    s.receive_mode = static_cast<uint8_t>(sign);
    return ORV5_OK;
}

Orv5Result opt_append(SessionSettings &s, const char **, int sign)
{
    s.receive.append_flag = sign;
    return ORV5_OK;
}

Orv5Result opt_fixed(SessionSettings &s, const char **, int sign)
{
    s.send.fixed_records = sign;
    return ORV5_OK;
}

Orv5Result opt_name_check(SessionSettings &s, const char **, int sign)
{
    s.receive.name_check = sign;
    return ORV5_OK;
}

Orv5Result opt_nothing(SessionSettings &, const char **, int) { return ORV5_OK; }

Orv5Result opt_port(SessionSettings &s, const char **cursor, int)
{
    uint32_t v;
    if (read_decimal(cursor, PORT_NUMBER_MAX, &v) == 0 || v > PORT_NUMBER_MAX)
        return ORV5_E_COMMAND;
    s.line.port_index = static_cast<int32_t>(v) - 1;
    return ORV5_OK;
}

Orv5Result opt_baud(SessionSettings &s, const char **cursor, int)
{
    const char *p = *cursor;
    if (is_letter(*p))
        ++p;   // "-Bx19200" reads like "-B19200"
    while (is_blank(*p))
        ++p;
    bool negative = (*p == '-');
    if (*p == '+' || *p == '-')
        ++p;
    uint32_t v;
    read_decimal(&p, baud_rates[0], &v);
    *cursor = p;
    if (negative)
        return ORV5_E_COMMAND;
    for (uint32_t rate : baud_rates) {
        if (v == rate) {
            s.line.baud_rate = rate;
            return ORV5_OK;
        }
    }
    return ORV5_E_COMMAND;
}

// A decimal value up to max, or the default when the option stands alone.
[[nodiscard]] static Orv5Result optional_number(const char **cursor, uint32_t max, uint32_t dflt,
                                                uint32_t *value)
{
    if (at_item_end(*cursor)) {
        *value = dflt;
        return ORV5_OK;
    }
    if (read_decimal(cursor, max, value) == 0 || *value > max)
        return ORV5_E_COMMAND;
    return ORV5_OK;
}

Orv5Result opt_timeout(SessionSettings &s, const char **cursor, int)
{
    uint32_t v;
    Orv5Result r = optional_number(cursor, U16_MAX, TIMEOUT_DEFAULT_S, &v);
    if (r == 0)
        s.exchange.timeout_s = static_cast<int32_t>(v);
    return r;
}

Orv5Result opt_turnaround(SessionSettings &s, const char **cursor, int)
{
    uint32_t v;
    Orv5Result r = optional_number(cursor, TURNAROUND_MAX, TURNAROUND_DEFAULT_MS, &v);
    if (r == 0)
        s.exchange.turnaround_delay = static_cast<int32_t>(v);
    return r;
}

Orv5Result opt_station(SessionSettings &s, const char **cursor, int)
{
    uint32_t v;
    Orv5Result r = optional_number(cursor, U16_MAX, 0, &v);
    if (r == 0) {
        s.exchange.station_id[0] = static_cast<uint8_t>(v >> 8);
        s.exchange.station_id[1] = static_cast<uint8_t>(v & 0xFF);
    }
    return r;
}

Orv5Result add_field_width(SessionSettings &s, const char **cursor)
{
    uint32_t v;
    if (read_decimal(cursor, DDIGITS_MAX, &v) == 0)
        return ORV5_E_COMMAND;
    if (v == 0 || v > DDIGITS_MAX)
        return ORV5_E_FIELD_WIDTH;
    if (s.send.ditems >= DITEMS_MAX)
        return ORV5_E_TOO_MANY_FIELDS;
    s.send.ddigits[s.send.ditems++] = static_cast<int32_t>(v);
    return ORV5_OK;
}

Orv5Result opt_fields(SessionSettings &s, const char **cursor, int)
{
    for (;;) {
        Orv5Result r = add_field_width(s, cursor);
        if (r != 0) {
            skip_item(cursor);
            return r;
        }
        if (**cursor != ',' && **cursor != ';')
            return ORV5_OK;   // anything but a blank or the end is refused by the caller
        ++*cursor;            // a separator must be followed by another width
    }
}

Orv5Result opt_separator(SessionSettings &s, const char **cursor, int sign)
{
    const char *p = *cursor;
    if (!sign || *p == '\0') {
        // "-T" must stand alone; the caller refuses what follows it.
        s.receive.tsep_len = 0;
        s.receive.tsep_flag = 0;
        return ORV5_OK;
    }
    // The separator takes the rest of the token, blanks included: a blank
    // separator is written inside double quotes.
    size_t n = std::strlen(p);
    *cursor = p + n;
    if (p[0] == '\'' && p[1] != '\0' && p[2] == '\'') {
        s.receive.tsep_str[0] = p[1];   // 'x': one character taken as it is
        s.receive.tsep_len = 1;
    } else if (n > static_cast<size_t>(TSEP_MAX)) {
        return ORV5_E_COMMAND;
    } else {
        s.receive.tsep_len = decode_escapes(s.receive.tsep_str, p);
    }
    s.receive.tsep_flag = 1;
    return ORV5_OK;
}

Orv5Result opt_window(SessionSettings &s, const char **cursor, int sign)
{
    if (!sign) {
        s.display.dialog_mode = 0;   // "-V" must stand alone
        return ORV5_OK;
    }
    char c = **cursor;
    s.display.dialog_mode = (c == '0') ? 0 : (c == '2') ? 2 : 1;
    skip_item(cursor);
    return ORV5_OK;
}

Orv5Result opt_adapter(SessionSettings &s, const char **cursor, int sign)
{
    // The path takes the rest of the token: it may contain quoted blanks.
    const char *p = *cursor;
    size_t n = std::strlen(p);
    *cursor = p + n;
    if (!sign) {
        s.line.adapter_path[0] = '\0';
        return ORV5_OK;
    }
    // A cut path could name another library: refuse it instead.
    if (n >= static_cast<size_t>(PATH_SIZE))
        return ORV5_E_COMMAND;
    std::memcpy(s.line.adapter_path, p, n + 1);
    return ORV5_OK;
}

[[nodiscard]] static Orv5Result window_position(SessionSettings &s, const char **cursor,
                                                int32_t *coord, uint32_t given_bit)
{
    if (at_item_end(*cursor)) {
        s.display.win_pos_flags &= ~given_bit;   // back to the default place
        return ORV5_OK;
    }
    bool negative = (**cursor == '-');
    if (negative)
        ++*cursor;
    uint32_t v;
    if (read_decimal(cursor, WIN_COORD_MAX, &v) == 0 || v > WIN_COORD_MAX)
        return ORV5_E_COMMAND;
    *coord = negative ? -static_cast<int32_t>(v) : static_cast<int32_t>(v);
    s.display.win_pos_flags |= given_bit;
    return ORV5_OK;
}

Orv5Result opt_win_x(SessionSettings &s, const char **cursor, int)
{
    return window_position(s, cursor, &s.display.win_x, WIN_X_GIVEN);
}

Orv5Result opt_win_y(SessionSettings &s, const char **cursor, int)
{
    return window_position(s, cursor, &s.display.win_y, WIN_Y_GIVEN);
}
