// complete.h - the settings completed from the files they name.
#pragma once

#include "orv5w32.h"
#include "runtime/settings.h"

// Reads the widths for the file of s into its ditems/ddigits from the .FLD
// file beside it (".FLD", then ".fld", under the spelled base name).
// 0 read; 1 the data file cannot be opened; 8 no valid definition.
[[nodiscard]] Orv5Result read_field_file(SessionSettings &s);

// True when path names a file that can be opened and read (a directory
// cannot).
bool file_can_be_read(const char *path);

// Completes the settings of a sending session from its files, after
// check_settings: the widths from the .FLD file when the command text gave
// none, the record length from them, and the file to send, which must be
// readable.  Results in the order they are checked: those of
// check_settings, then 1 or 8 from the .FLD file, 6, and 1.
[[nodiscard]] Orv5Result complete_settings(SessionSettings &s);
