// settings.h - the settings of one session, parsed from its command text.
//
// The session driver creates the record for the call, lets the option
// parser fill it, completes it from the files it names and from then on
// hands it read-only to the code that uses it; each part holds what one
// reader needs.  Path parts have the fixed buffer sizes of Windows paths
// (format/dos_name.h).
#pragma once

#include <cstdint>

#include "format/dos_name.h"
#include "link/limits.h"

constexpr int TSEP_MAX = 32;   // separator bytes of option T

// The serial line and what sets it up: read when the port opens and the
// adapter plug-in runs.
struct LineOptions {
    int32_t port_index = 0;              // COM number - 1
    uint32_t baud_rate = 9600;           // bit/s
    int32_t eight_data_bits = 1;         // 1 = 8 data bits
    int32_t parity = 0;                  // 0 none, 1 odd, 2 even
    int32_t two_stop_bits = 0;           // 0 = one stop bit
    char adapter_path[PATH_SIZE] = {};   // plug-in path, empty = none
};

// How the exchange with the terminal runs, read by both directions.
struct ExchangeOptions {
    uint8_t chk_len = 2;              // check field length of a frame, bytes
    uint8_t seq_flag = 1;             // data packets carry a block number
    uint8_t station_id[2] = {0, 0};   // high byte first
    int32_t turnaround_delay = 0;     // ms slept before every transmission
    int32_t timeout_s = 30;           // session time-out, s
};

// The file argument, read by both directions.
struct FileOptions {
    char file_path[PATH_SIZE] = {};     // full path of the file being transferred
    char file_drive[DRIVE_SIZE] = {};   // "C:" or empty
    char file_dir[PART_SIZE] = {};      // directory with trailing separator, or empty
    char file_name[PART_SIZE] = {};     // base name, upper case, at most 8 characters
    char file_ext[PART_SIZE] = {};      // extension with its dot, at most 4 characters
    // Base name and extension as the user spelled them, before upper-casing.
    // Files are opened by this spelling (case-sensitive file systems), while
    // the upper-case file_name + file_ext go on the wire and into name_buf.
    char file_spelled[PART_SIZE] = {};
    uint8_t file_given = 0;        // a file argument with a base name was taken
    int32_t file_type = FT_DATA;   // FileType
};

// What only sending reads: the record layout of a data file.
struct SendOptions {
    int32_t ditems = 0;                 // number of fields, 0..16
    int32_t ddigits[DITEMS_MAX] = {};   // field widths
    int32_t ddigits_sum = 0;            // sum of the field widths
    int32_t record_length = 0;          // bytes of one record in a data packet
    int32_t fixed_records = 0;          // option C
};

// What only receiving reads: how the received file is written.
struct ReceiveOptions {
    int32_t append_flag = 0;        // option A
    int32_t name_check = 0;         // option N
    int32_t tsep_flag = 0;          // option T given with a separator
    char tsep_str[TSEP_MAX] = {};   // separator bytes, no terminator
    int32_t tsep_len = 0;           // bytes in tsep_str
};

// The progress display.
struct DisplayOptions {
    int32_t dialog_mode = 1;        // 0 none, 1 counter, 2 bar
    uint32_t win_pos_flags = 0;     // WIN_X_GIVEN | WIN_Y_GIVEN
    int32_t win_x = 0, win_y = 0;   // screen position of the progress window
};

// A value-initialised record holds the start-of-session values.
struct SessionSettings {
    uint8_t receive_mode = 0;   // 1 = receive from the terminal
    LineOptions line;
    ExchangeOptions exchange;
    FileOptions file;
    SendOptions send;
    ReceiveOptions receive;
    DisplayOptions display;
};

constexpr uint32_t WIN_X_GIVEN = 0x01;   // bit 0
constexpr uint32_t WIN_Y_GIVEN = 0x10;   // bit 4

// Gives every field its start-of-session value, as a new record has.
void reset_settings(SessionSettings &s);

// Joins file_drive + file_dir + the spelled base name + ext into out.  With
// ext null the spelled extension is used; otherwise ext replaces it (".FLD").
// Returns false when the result does not fit in size bytes.
bool join_file_path(const SessionSettings &s, char *out, int size, const char *ext);
