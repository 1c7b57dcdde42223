// fieldfile.h - reading a data file's field-definition (.FLD) file.
#pragma once

#include "session/settings.h"

// Reads the widths for the file of s into its ditems/ddigits.
// 0 read; 1 the data file cannot be opened; 8 no valid definition.
int read_field_file(SessionSettings &s);

// True when path names a file that can be opened and read (a directory
// cannot).
bool file_can_be_read(const char *path);

// Line kinds of a field-definition file; shared with the writer.
constexpr int FLD_LINE_MAX = 255;   // characters per line read
