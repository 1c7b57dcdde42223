// complete.h - the settings completed from the files they name.
#pragma once

#include "session/settings.h"

// Reads the widths for the file of s into its ditems/ddigits from the .FLD
// file beside it (".FLD", then ".fld", under the spelled base name).
// 0 read; 1 the data file cannot be opened; 8 no valid definition.
int read_field_file(SessionSettings &s);

// True when path names a file that can be opened and read (a directory
// cannot).
bool file_can_be_read(const char *path);
