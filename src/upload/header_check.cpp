// header_check.cpp - checks of a received header packet and of data packets.
#include "upload/header_check.h"

#include "link/text_chars.h"

#include <cstring>

#include "format/dos_name.h"
#include "format/dos_name.h"
#include "link/wire.h"

// Header layout, byte offsets.
constexpr int HDR_NAME_AT = 2;                                // behind the station
constexpr int HDR_COUNT_AT = HDR_NAME_AT + FNAME_FIELD;       // 14: record count
constexpr int HDR_DITEMS_AT = HDR_COUNT_AT + SERIAL_DIGITS;   // 19: field count
constexpr int HDR_WIDTHS_AT = HDR_DITEMS_AT + 2;              // 21: widths, 3 digits each
constexpr int DITEMS_DIGITS = 2;
constexpr int WIDTH_DIGITS = 3;

// The destination base name that stands for the terminal's own name.
static const char TERMINAL_NAME[] = "(file)";

// The 12-byte name field: a valid space-filled 8.3 name that is no device;
// upper case in name and ext.
static bool parse_name_field(const uint8_t *field, char *name, char *ext)
{
    return get_fname(field, name, ext) == NameFieldCheck::Valid && check_dos_name(name, ext) == 0;
}

// Copies text into out (size bytes); false when it does not fit.
static bool copy_text(char *out, size_t size, const char *text)
{
    size_t n = std::strlen(text);
    if (n >= size)
        return false;
    std::memcpy(out, text, n + 1);
    return true;
}

// The destination named by the file argument: its name rule, the name
// check and the kind of file.
static HeaderVerdict take_argument_name(const SessionSettings &s, const char *rname,
                                        const char *rext, int32_t rkind, ReceivedHeader &out)
{
    if (!copy_text(out.name, sizeof out.name, s.file.file_name) ||
        !copy_text(out.ext, sizeof out.ext, s.file.file_ext) ||
        check_dos_name(out.name, out.ext) != 0 ||
        !copy_text(out.dest_base, sizeof out.dest_base, s.file.file_spelled))
        return HeaderVerdict::BadContent;   // a bare directory leaves the name empty
    if (s.receive.name_check &&
        !(ascii_equal_ignoring_case(out.name, rname) && ascii_equal_ignoring_case(out.ext, rext)))
        return HeaderVerdict::NameMismatch;
    if (file_kind_of_ext(out.ext) != rkind)
        return HeaderVerdict::WrongKind;
    return HeaderVerdict::Accepted;
}

// Field count and widths of a data file's header.
static HeaderVerdict take_layout(const uint8_t *stored, int length, int trailer,
                                 ReceivedHeader &out)
{
    if (length <= HDR_WIDTHS_AT + trailer)
        return HeaderVerdict::LengthDisagrees;
    out.ditems = get_ddigits(stored + HDR_DITEMS_AT, DITEMS_DIGITS);
    if (out.ditems < 1 || out.ditems > DITEMS_MAX)
        return HeaderVerdict::BadContent;
    if (length != HDR_WIDTHS_AT + WIDTH_DIGITS * out.ditems + trailer)
        return HeaderVerdict::LengthDisagrees;
    out.ddigits_sum = 0;
    for (int i = 0; i < out.ditems; ++i) {
        int w = get_ddigits(stored + HDR_WIDTHS_AT + WIDTH_DIGITS * i, WIDTH_DIGITS);
        if (w <= 0 || w > DDIGITS_MAX)
            return HeaderVerdict::BadContent;
        out.ddigits[i] = w;
        out.ddigits_sum += w;
    }
    if (out.ditems + out.ddigits_sum > DDSUM_MAX)
        return HeaderVerdict::BadContent;
    out.record_length = out.ddigits_sum;
    return HeaderVerdict::Accepted;
}

HeaderVerdict check_header(const uint8_t *stored, int length, const uint8_t station[2],
                           const SessionSettings &s, ReceivedHeader &out)
{
    std::memset(&out, 0, sizeof out);
    out.chk_len = s.exchange.chk_len;
    // Terminator and check field behind the content.
    const int trailer = (ETXstr.len > ETBstr.len ? ETXstr.len : ETBstr.len) + out.chk_len;
    if (length < HDR_COUNT_AT + SERIAL_DIGITS + trailer)
        return HeaderVerdict::TooShort;
    if (stored[0] != station[0] || stored[1] != station[1])
        return HeaderVerdict::OtherStation;

    char rname[FNAME_BASE_SIZE], rext[FNAME_EXT_SIZE];
    if (!parse_name_field(stored + HDR_NAME_AT, rname, rext))
        return HeaderVerdict::BadContent;
    const int32_t rkind = file_kind_of_ext(rext);

    if (!ascii_equal_ignoring_case(s.file.file_name, TERMINAL_NAME)) {
        HeaderVerdict v = take_argument_name(s, rname, rext, rkind, out);
        if (v != HeaderVerdict::Accepted)
            return v;
    } else {
        // The terminal's name, upper case, in the argument's directory.
        std::strcpy(out.name, rname);
        std::strcpy(out.ext, rext);
        std::strcpy(out.dest_base, rname);
        std::strcat(out.dest_base, rext);
    }
    out.named = true;
    out.file_type = file_kind_of_ext(out.ext);
    out.append = s.receive.append_flag != 0 && out.file_type == FT_DATA;

    out.records_announced = get_serial_no(stored + HDR_COUNT_AT);
    if (out.records_announced < 0)
        return HeaderVerdict::BadContent;
    if (out.file_type != FT_DATA) {
        if (length != HDR_DITEMS_AT + trailer)
            return HeaderVerdict::LengthDisagrees;
        out.record_length = out.file_type == FT_PD3 ? PD3_RECORD : EX3_RECORD;
        out.ditems = 0;
        return HeaderVerdict::Accepted;
    }
    return take_layout(stored, length, trailer, out);
}

Orv5Result header_refusal_result(HeaderVerdict v)
{
    switch (v) {
    case HeaderVerdict::BadContent: return ORV5_E_BAD_HEADER;
    case HeaderVerdict::NameMismatch: return ORV5_E_NAME_MISMATCH;
    case HeaderVerdict::WrongKind: return ORV5_E_FILE_NAME;
    default: return ORV5_OK;   // accepted, or answered without ending the reception
    }
}

bool header_terminator_ok(const uint8_t *stored, int length, const ReceivedHeader &h)
{
    const CtrlSeq &term = h.records_announced > 0 ? ETBstr : ETXstr;
    int at = length - h.chk_len - term.len;
    return at >= 0 && std::memcmp(stored + at, term.bytes, term.len) == 0;
}

int data_packet_length(const ReceivedHeader &h)
{
    const int separators = h.file_type == FT_DATA ? (h.ditems - 1) * SEPstr.len : 0;
    return DATA_RECORD_OFFSET + h.record_length + separators + ETXstr.len + h.chk_len;
}

DataVerdict check_data_packet(const uint8_t *stored, int length, const ReceivedHeader &h,
                              int32_t records_accepted)
{
    if (length < DATA_RECORD_OFFSET)
        return DataVerdict::Reject;
    // A serial number that is no number is taken for the block expected next.
    int32_t block = get_serial_no(stored + 2);
    if (block < 0)
        block = records_accepted + 1;
    const CtrlSeq &term = block >= h.records_announced ? ETXstr : ETBstr;
    const int separators = h.file_type == FT_DATA ? (h.ditems - 1) * SEPstr.len : 0;
    if (length != DATA_RECORD_OFFSET + h.record_length + separators + term.len + h.chk_len)
        return DataVerdict::Reject;
    if (std::memcmp(stored + length - h.chk_len - term.len, term.bytes, term.len) != 0)
        return DataVerdict::Reject;
    if (block == records_accepted + 1 && records_accepted < h.records_announced)
        return DataVerdict::New;
    // Only a record that was accepted can be sent again.
    if (block == records_accepted && records_accepted > 0)
        return DataVerdict::Repeat;
    return DataVerdict::Reject;
}
