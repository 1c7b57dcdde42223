// options.h - the command-text parser.
#pragma once

#include "orv5w32.h"
#include "format/dos_name.h"
#include "runtime/settings.h"

// Parses argv[1..argc-1] into s (freshly reset); keeps the first error and
// runs check_settings when there was none.  0 or a result code.  Reads no
// file: the session driver completes the settings from the files they name
// afterwards (complete_settings, session/complete.h).
[[nodiscard]] Orv5Result parse_args(SessionSettings &s, int argc, char **argv);

// One argument: options and/or the file argument.  0 or the first error.
[[nodiscard]] Orv5Result parse_token(SessionSettings &s, const char *token);

// One option; *cursor stands on the character after the sign (sign 1 for
// '+', 0 for '-') and is left at the end of the token or at a blank.
[[nodiscard]] Orv5Result parse_option(SessionSettings &s, const char **cursor, int sign);

// One width of option F at *cursor appended to ddigits: 0, 4 (0 or above
// DDIGITS_MAX), 5 (a seventeenth width) or 9 (no digit).
[[nodiscard]] Orv5Result add_field_width(SessionSettings &s, const char **cursor);

// The file argument: the rest of the token from *cursor.  0 or 2.
[[nodiscard]] Orv5Result set_file_arg(SessionSettings &s, const char **cursor);

// Decodes the escapes of a separator text into out (at most TSEP_MAX bytes);
// returns the number of bytes produced.
int decode_escapes(char *out, const char *text);

// Cross-checks what the command text said, before any file is looked at:
// 0 when receiving; 7 widths for a program file; 8 a .FLD file to send;
// 6 given widths too long for a record.  Sets record_length unless the
// widths are still to be read from the data file's .FLD file.
[[nodiscard]] Orv5Result check_settings(SessionSettings &s);

// ddigits_sum and record_length from the ditems widths in ddigits; 0, or 6
// when the fields and their widths exceed DDSUM_MAX.
[[nodiscard]] Orv5Result settle_record_length(SessionSettings &s);
