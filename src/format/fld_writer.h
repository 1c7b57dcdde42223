// fld_writer.h - the field-definition (.FLD) file written beside a received
// data file.
//
// One .FLD file may describe several data files of the same base name
// (DATA.TXT and DATA.DAT), each in a section opened by its "file" line.
// Writing the section of a received file keeps the other files' sections
// as they were; lines before the first section (comments, or a field list
// meant for any file of that name, which would hide the new section) give
// way to our own two comment lines.  The new content goes to a temporary
// file beside the old one and replaces it in one step.
#pragma once

#include "orv5w32.h"
#include <cstdint>

#include "format/dos_name.h"
#include "platform/fs.h"

// Copy block for the old file's kept sections, bytes.
constexpr int FLD_BLOCK_SIZE = 1024;
// One line that the reader sees: at most FLD_LINE_MAX (255) characters,
// then CR LF; as kept from an old file the line end may be LF alone.
constexpr int FLD_RAW_LINE_SIZE = 255 + 2;

// What the section of a received data file says.
struct FldSection {
    const char *file_text;   // "DATA.TXT": upper-case 8.3 name, no directory
    bool has_date;           // false: no date line
    PlatLocalTime date;      // the data file's last write, local time
    uint64_t size;           // the data file's length, bytes
    int32_t records;         // records of this reception
    int32_t ditems;
    const int32_t *ddigits;
};

struct FldOutput {
    char path[PATH_SIZE];       // the .FLD file
    char tmp_path[PATH_SIZE];   // the prepared content; "" when there is none
    // Reading the old file: a block, its fill, and the read position.
    uint8_t block[FLD_BLOCK_SIZE];
    uint32_t block_len, block_pos;
    uint8_t line[FLD_RAW_LINE_SIZE];
};

// Writes the new content of the .FLD file that belongs to dir + base (the
// data file's base name as spelled, without extension) into a temporary
// file in dir, synced and closed.  The file chosen is dir + base + ".FLD",
// or the existing dir + base + ".fld" when only that one exists.
// 0, ORV5_E_FILE_IO or ORV5_E_DISK_FULL; on failure nothing is left behind.
[[nodiscard]] Orv5Result fld_prepare(FldOutput &o, const char *dir, const char *base,
                                     const FldSection &section);

// Puts the prepared content in place of the .FLD file.  0 or ORV5_E_FILE_IO;
// the prepared file is gone either way.
[[nodiscard]] Orv5Result fld_install(FldOutput &o);

// Removes prepared content that is not to be installed.  Idempotent.
void fld_drop(FldOutput &o);
