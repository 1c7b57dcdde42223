// received_file.h - putting a received file on disk.
//
// The records of a reception go to a temporary file created in the
// destination directory.  Only when the reception has succeeded does the
// finishing step put them in place: the temporary file replaces the
// destination in one step or, when appending to a file that existed, is
// copied onto its end (cut back to the old length if that fails part-way);
// a replaced data file is kept aside until the new field-definition file is
// in place as well, and put back if that fails.
// A failed reception therefore leaves every file the user had exactly as
// it was, and no temporary file behind.  A data file gets a companion
// field-definition file (format/fld_writer.h).
#pragma once

#include "orv5w32.h"
#include <cstdint>

#include "format/fld_writer.h"
#include "platform/fs.h"
#include "runtime/settings.h"
#include "upload/header_check.h"

// The longest output line: 16 fields of together DDSUM_MAX - DITEMS_MAX =
// 239 bytes, 15 separators of TSEP_MAX (32) bytes, CR LF: 721 bytes.  A
// program file's line (130 + 2) is shorter.
constexpr int RX_LINE_SIZE = (DDSUM_MAX - DITEMS_MAX) + (DITEMS_MAX - 1) * TSEP_MAX + 2;
// Bytes copied per step when appending the new records to the existing file.
constexpr int RX_COPY_SIZE = 1024;

// All state of one reception's output.  Fresh (or after discard or a
// commit) nothing is open.
struct ReceivedFile {
    bool open = false;       // between a successful open and commit/discard
    ReceivedHeader header;   // what the accepted header announced
    bool tsep = false;       // separators go between the fields
    char tsep_str[TSEP_MAX];
    int32_t tsep_len = 0;
    char dir[PATH_SIZE];                 // destination drive + directory
    char dest_path[PATH_SIZE];           // the destination file
    char tmp_path[PATH_SIZE];            // this reception's records; "" when none
    char old_copy_path[PATH_SIZE];       // the replaced data file while its .FLD file is
                                         // put in place; "" when none
    plat_file tmp = PLAT_FILE_NONE;      // open on tmp_path while records come
    bool file_existed = false;           // append mode onto a file there at the open
    plat_file target = PLAT_FILE_NONE;   // that file, open for appending
    uint64_t old_length = 0;             // its length at the open, bytes
    bool target_grown = false;           // bytes were appended to it: cut back on failure
    uint64_t bytes_written = 0;          // lines of this reception, bytes
    int32_t records_written = 0;
    uint8_t line[RX_LINE_SIZE];
    uint8_t copy[RX_COPY_SIZE];
    FldOutput fld;
};

// Bytes of one output line for h with the separators of s.
int32_t received_line_length(const SessionSettings &s, const ReceivedHeader &h);

// Starts the output of an accepted header: checks the free space of the
// destination directory (skipped when the platform cannot tell), opens an
// existing file to append to, creates the temporary file.  An output still
// open from an earlier header is discarded first.  0, ORV5_E_FILE_IO or
// ORV5_E_DISK_FULL (nothing open then).
[[nodiscard]] Orv5Result received_file_open(ReceivedFile &f, const SessionSettings &s,
                                            const ReceivedHeader &h);

// Writes one record (header.record_length bytes) as one line: the record,
// separators between its fields when asked for, CR LF.  0, ORV5_E_FILE_IO
// or ORV5_E_DISK_FULL.
[[nodiscard]] Orv5Result received_file_put(ReceivedFile &f, const uint8_t *record);

// Everything that must happen before the terminal is told the file is
// complete: flush and sync, close, replace or append into place, write the
// field-definition file.  0: the data is durably on disk.  ORV5_E_FILE_IO or
// ORV5_E_DISK_FULL: the user's files are as they were; the data file and
// its field-definition file change together or not at all.  Nothing is
// open afterwards either way.
[[nodiscard]] Orv5Result received_file_commit(ReceivedFile &f);

// A failed reception: closes what is open, cuts an appended file back,
// removes the temporary files.  Idempotent; nothing to do when nothing is
// open.
void received_file_discard(ReceivedFile &f);
