// limits.h - record limits and file kinds shared by both directions.
#pragma once

#include <cstdint>

#include "orv5w32.h"

constexpr int DDIGITS_MAX = 254;   // widest field, bytes
// Fields + sum of widths, at most (one record stays below 256 bytes).
constexpr int DDSUM_MAX = 255;
constexpr int DITEMS_MAX = 16;       // fields per record
constexpr int RECORDS_MAX = 32767;   // records per file (5 decimal digits, signed 16 bit)

constexpr int PD3_RECORD = 128;   // bytes per record of a .PD3 program file
constexpr int EX3_RECORD = 130;   // bytes per record of .EX3 and .FN3 program files

// An 8.3 name as text: 8 + 1 + 3 characters and the NUL.
constexpr int NAME_TEXT_SIZE = ORV5_NAME_BUF_SIZE;

// File kinds, by extension.
enum FileType { FT_DATA = 0, FT_PD3 = 1, FT_EX3 = 2, FT_FN3 = 3 };

// The kind of a file by its extension (".PD3" and so on, any case).
int32_t file_kind_of_ext(const char *ext);
