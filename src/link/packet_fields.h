// packet_fields.h - parsers for the fields of a received header or data
// packet: record count or serial number, field count and widths, file name.
#pragma once

#include <cstdint>

// Sizes of the parsed name parts, NUL included.
constexpr int FNAME_BASE_SIZE = 9;   // at most 8 characters
constexpr int FNAME_EXT_SIZE = 5;    // dot and at most 3 characters

constexpr int SERIAL_DIGITS = 5;   // record count and serial number
constexpr int FNAME_FIELD = 12;    // space-filled 8.3 name

// Five decimal digits at p, value 0..32767; -1 for any other byte or a
// larger value.
int get_serial_no(const uint8_t *p);

// n decimal digits at p, value 0..254 (a field count or a width); -1 for
// any other byte, a larger value or n < 1.
int get_ddigits(const uint8_t *p, int n);

// Whether a name field holds a valid space-filled 8.3 name.
enum class NameFieldCheck { Valid, Invalid };

// Parses the 12-byte name field at field into name (FNAME_BASE_SIZE bytes)
// and ext (FNAME_EXT_SIZE bytes, the dot included, empty without one).
// Letters are copied as they are.
NameFieldCheck get_fname(const uint8_t *field, char *name, char *ext);
