// fld_reader.h - reading a data file's field-definition (.FLD) file.
//
// A .FLD file holds "file NAME.EXT" sections, each with a "field" or
// "fields" line of widths; a field list before the first section applies to
// any data file.  Lines are read in binary mode, CR LF and LF alike, at
// most FLD_LINE_MAX characters each.
#pragma once

#include "orv5w32.h"
#include <cstdint>

#include "link/limits.h"

// Line kinds of a field-definition file; shared with the writer.
constexpr int FLD_LINE_MAX = 255;   // characters per line read

// Reads the widths that the .FLD file gives the data file name + ext
// (base name and extension with its dot, compared in upper case) from the
// file at path, or at alt_path when path does not open; either may be null.
// The widths are appended to ddigits (room for DITEMS_MAX) and counted in
// *ditems.  0, or ORV5_E_FIELD_FILE: no file opens, the name is longer than
// 8.3, or the file has no valid field list for this data file.
[[nodiscard]] Orv5Result fld_read_widths(const char *path, const char *alt_path, const char *name,
                                         const char *ext, int32_t *ditems, int32_t *ddigits);
