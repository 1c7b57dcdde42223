// option_parse.h - helpers shared by the option handlers of the command text.
#pragma once

#include "orv5w32.h"
#include <cstdint>

#include "link/text_chars.h"
#include "runtime/settings.h"

// An option handler: *cursor stands after the option letter; it consumes
// its value and returns 0 or a result code.  sign is 1 for '+', 0 for '-'.
typedef Orv5Result (*OptionHandler)(SessionSettings &s, const char **cursor, int sign);

static inline bool at_item_end(const char *p) { return *p == '\0' || is_blank(*p); }

// Moves *cursor to the next blank or the end of the token.
void skip_item(const char **cursor);

// Reads decimal digits at *cursor into *value; the value sticks at cap + 1
// (cap below 0xFFFFFFFF)
// once it passes cap, so no digit string can overflow.  Returns the number
// of digits read.
int read_decimal(const char **cursor, uint32_t cap, uint32_t *value);

// Handlers, one per option character.
[[nodiscard]] Orv5Result opt_receive(SessionSettings &s, const char **cursor, int sign);      // R
[[nodiscard]] Orv5Result opt_append(SessionSettings &s, const char **cursor, int sign);       // A
[[nodiscard]] Orv5Result opt_fixed(SessionSettings &s, const char **cursor, int sign);        // C
[[nodiscard]] Orv5Result opt_name_check(SessionSettings &s, const char **cursor, int sign);   // N
[[nodiscard]] Orv5Result opt_port(SessionSettings &s, const char **cursor, int sign);         // P
[[nodiscard]] Orv5Result opt_baud(SessionSettings &s, const char **cursor, int sign);         // B
[[nodiscard]] Orv5Result opt_timeout(SessionSettings &s, const char **cursor, int sign);      // L
[[nodiscard]] Orv5Result opt_turnaround(SessionSettings &s, const char **cursor, int sign);   // !
[[nodiscard]] Orv5Result opt_station(SessionSettings &s, const char **cursor, int sign);      // #
[[nodiscard]] Orv5Result opt_fields(SessionSettings &s, const char **cursor, int sign);       // F
[[nodiscard]] Orv5Result opt_separator(SessionSettings &s, const char **cursor, int sign);    // T
[[nodiscard]] Orv5Result opt_window(SessionSettings &s, const char **cursor, int sign);       // V
[[nodiscard]] Orv5Result opt_adapter(SessionSettings &s, const char **cursor, int sign);      // I
[[nodiscard]] Orv5Result opt_win_x(SessionSettings &s, const char **cursor, int sign);        // X
[[nodiscard]] Orv5Result opt_win_y(SessionSettings &s, const char **cursor, int sign);        // Y
[[nodiscard]] Orv5Result opt_nothing(SessionSettings &s, const char **cursor, int sign);      // ?
