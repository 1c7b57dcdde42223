// sender_source.h - the file the sending terminal holds: a data or program
// file read from disk, or records made up on the spot.
//
// A data file's widths come from --widths ("5,3") or from its
// field-definition file beside it (the spelled base name plus .FLD, then
// .fld).  Its lines (ended by CR LF or LF alone; a final Ctrl-Z dropped)
// are cut or filled with spaces to the record length; a program file's
// lines are cut or filled with '0' to 128 (.PD3) or 130 (.EX3, .FN3)
// bytes.  Generated record k (see generated_record) is deterministic.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "sender_model.h"

namespace zdxsim {

// Record length of a program file: .PD3 128 bytes, .EX3 and .FN3 130.
constexpr int PD3_RECORD_LEN = 128;
constexpr int EX3_RECORD_LEN = 130;
// Name given to generated records unless --send-name says otherwise.
constexpr char GENERATED_NAME[] = "SIMDATA.TXT";

struct SendRequest {
    const char *path = nullptr;    // --send FILE
    int generated = -1;            // --send-records N (-1: none)
    const char *widths = nullptr;  // --widths W,W,...
    const char *name = nullptr;    // --send-name NAME
};

// 0 data file; 1 .PD3, 2 .EX3, 3 .FN3 by the name's extension, any case.
int file_kind(const char *name);

// "5,3": 1 to 16 widths of 1 to 254 with fields + widths <= 255.
bool parse_widths(const char *text, SendFile *file);

// The field list that applies to data_name (NAME.EXT) in a field-definition
// file: the first FIELD/FIELDS line before any FILE line, or the first one
// in the FILE section naming data_name.  False when none applies or the
// list is not valid.
bool fld_widths(FILE *fp, const char *data_name, SendFile *file);

// Record `serial` of generated records: its serial number in five digits,
// then letters from 'A' + serial on, cycling; every third record carries a
// DLE byte (0x10) in its middle.  Shorter records are cut.
void generated_record(int serial, uint8_t *out, int len);

class SendSource : public RecordSource {
public:
    // Prepares the file asked for; false with a message in err.
    bool open(const SendRequest &req, SendFile *file, char *err, size_t err_size);
    bool record(int serial, uint8_t *out, int len) override;

private:
    bool load(const char *path, SendFile *file, char *err, size_t err_size);

    bool generated_ = false;
    std::vector<std::string> records_;
};

}  // namespace zdxsim
