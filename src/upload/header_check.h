// header_check.h - the receiving side's checks of a header packet and of
// data packets.
//
// Both work on the stored bytes of a frame that passed the frame check:
// the packet content, the terminator byte and the check field.  They only
// decide; nothing is created, written or answered here.
#pragma once

#include <cstdint>

#include "link/packet_fields.h"
#include "orv5w32.h"
#include "runtime/settings.h"

// What the check of a header packet found.  The receiver answers each
// (receive_checks.cpp); the refusals that end the reception become a
// session result through header_refusal_result.
enum class HeaderVerdict {
    Accepted,          // out holds what it announces
    TooShort,          // shorter than the shortest header: NAK
    OtherStation,      // another station's header: no answer
    LengthDisagrees,   // the length disagrees with the content: NAK
    BadContent,        // a name, count or width is invalid, or the destination
                       // name is (a bare directory, a device)
    NameMismatch,      // name check on and the names differ
    WrongKind,         // the terminal's file is of another kind than the
                       // destination's extension
};

// What an accepted header announces, and where the file goes.
struct ReceivedHeader {
    int32_t records_announced;     // 0..RECORDS_MAX data packets follow
    int32_t file_type;             // FileType of the destination (= the terminal's file)
    int32_t ditems;                // fields per record, 1..16; 0 for a program file
    int32_t ddigits[DITEMS_MAX];   // field widths, the first ditems used
    int32_t ddigits_sum;           // sum of the widths
    int32_t record_length;         // record bytes in a data packet
    bool append;                   // append mode in force (never for a program file)
    int32_t chk_len;               // check field bytes behind the terminator
    // The destination's 8.3 name in upper case, as name_buf shows it.
    char name[FNAME_BASE_SIZE];
    char ext[FNAME_EXT_SIZE];
    // Base name and extension the file is created under: the user's spelling
    // of the file argument, or the terminal's name in upper case when the
    // argument was "(file)".
    char dest_base[NAME_TEXT_SIZE];
    // The names passed their checks: name and ext hold the destination,
    // also when a later check refuses the header.
    bool named;
};

// Checks the header packet in stored[0..length).  When it is not accepted,
// out.named tells whether the names passed (name, ext and dest_base are
// then set; the rest of out is undefined).  station: the PC's station
// identifier, high byte first.
HeaderVerdict check_header(const uint8_t *stored, int length, const uint8_t station[2],
                           const SessionSettings &s, ReceivedHeader &out);

// The session result of a header refused for its content: 70
// (BadContent), 77 (NameMismatch), 2 (WrongKind); ORV5_OK for the others.
[[nodiscard]] Orv5Result header_refusal_result(HeaderVerdict v);

// For an accepted header: the terminator stands right before the check
// field in its role (ETB when records follow, ETX for an empty file).
// False: answer NAK.
bool header_terminator_ok(const uint8_t *stored, int length, const ReceivedHeader &h);

// A data packet, after the station test and the frame check:
//   New     the next record, at stored + DATA_RECORD_OFFSET: write it
//   Repeat  the record accepted last, sent again: acknowledge, do not write
//   Reject  wrong length, terminator or serial number: NAK
enum class DataVerdict { New, Repeat, Reject };
constexpr int DATA_RECORD_OFFSET = 2 + SERIAL_DIGITS;   // station, serial number

// Stored bytes of a data packet of this header (station, serial number,
// record, separators, terminator, check field).
int data_packet_length(const ReceivedHeader &h);

// records_accepted: records written so far in this reception.
DataVerdict check_data_packet(const uint8_t *stored, int length, const ReceivedHeader &h,
                              int32_t records_accepted);
