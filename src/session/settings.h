// settings.h - the settings of one session, parsed from its command text.
//
// The session driver creates the record for the call, resets it, lets the
// option parser fill it and from then on hands it read-only to the code
// that uses it.  Path parts have
// the fixed buffer sizes of Windows paths (format/dos_name.h).
#pragma once

#include <cstdint>

#include "format/dos_name.h"
#include "link/limits.h"

constexpr int TSEP_MAX = 32;         // separator bytes of option T

struct SessionSettings {
    int32_t port_index;          // COM number - 1
    uint32_t baud_rate;          // bit/s
    int32_t eight_data_bits;     // 1 = 8 data bits
    int32_t parity;              // 0 none, 1 odd, 2 even
    int32_t two_stop_bits;       // 0 = one stop bit
    uint8_t chk_len;             // check field length of a frame, bytes (2)
    uint8_t seq_flag;            // data packets carry a block number (1)
    char file_path[PATH_SIZE];   // full path of the file being transferred
    char file_drive[DRIVE_SIZE]; // "C:" or empty
    char file_dir[PART_SIZE];    // directory with trailing separator, or empty
    char file_name[PART_SIZE];   // base name, upper case, at most 8 characters
    char file_ext[PART_SIZE];    // extension with its dot, at most 4 characters
    uint8_t receive_mode;        // 1 = receive from the terminal
    int32_t file_type;           // FileType
    int32_t ditems;              // number of fields, 0..16
    int32_t ddigits_sum;         // sum of the field widths
    int32_t fixed_records;       // option C
    int32_t append_flag;         // option A
    int32_t tsep_flag;           // option T given with a separator
    int32_t dialog_mode;         // 0 none, 1 counter, 2 bar
    uint8_t station_id[2];       // high byte first
    int32_t ddigits[DITEMS_MAX]; // field widths
    int32_t record_length;       // bytes of one record in a data packet
    char tsep_str[TSEP_MAX];     // separator bytes, no terminator
    int32_t tsep_len;            // bytes in tsep_str
    int32_t turnaround_delay;    // ms slept before every transmission
    int32_t timeout_s;           // session time-out, s
    char adapter_path[PATH_SIZE];// plug-in path, empty = none
    uint32_t win_pos_flags;      // WIN_X_GIVEN | WIN_Y_GIVEN
    int32_t win_x, win_y;        // screen position of the progress window
    int32_t name_check;          // option N
    uint8_t file_given;          // a file argument with a base name was taken
    // Base name and extension as the user spelled them, before upper-casing.
    // Files are opened by this spelling (case-sensitive file systems), while
    // the upper-case file_name + file_ext go on the wire and into name_buf.
    char file_spelled[PART_SIZE];
};

constexpr uint32_t WIN_X_GIVEN = 0x01;  // bit 0
constexpr uint32_t WIN_Y_GIVEN = 0x10;  // bit 4

// Stores every field's start-of-session value (those not reset keep theirs).
void reset_settings(SessionSettings &s);

// Joins file_drive + file_dir + the spelled base name + ext into out.  With
// ext null the spelled extension is used; otherwise ext replaces it (".FLD").
// Returns false when the result does not fit in size bytes.
bool join_file_path(const SessionSettings &s, char *out, int size, const char *ext);
