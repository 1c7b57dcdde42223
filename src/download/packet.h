// packet.h - building the header and data packets of the file being sent.
#pragma once

#include <cstdint>
#include <cstdio>

// Record buffer: the widest record is DDSUM_MAX - 1 = 254 bytes, and a
// fixed-length read takes the record + CR LF: 256 bytes.
constexpr int REC_BUF_SIZE = 256;

extern uint8_t rec_buf[REC_BUF_SIZE];   // one data-file record before it is split
extern int fixed_read_error;            // set when a fixed-length record is faulty

// Header packet (opening, station, name, count, layout, ETX, check) into
// out; returns its length.  Sets serial_no to 0 and shows the file's name.
int make_hd_text(uint8_t *out);

// Next record's data packet into out; its length, -1 when the record could
// not be read, -2 for a faulty fixed-length record.
int make_dt_text(uint8_t *out);

// Fills exactly length bytes at dst from the next record of fp; returns
// dst + length, or nullptr on failure.  Fixed-length records (option C) are
// read only for data files; program files are always read by lines.  A
// short line is padded with '0' (program file) or spaces (data file).
uint8_t *read_record(uint8_t *dst, int length, FILE *fp);
