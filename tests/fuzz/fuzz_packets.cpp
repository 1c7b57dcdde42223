// fuzz_packets.cpp - the receiving side's frame, header and data-packet
// checks on any stored bytes.
//
// Option byte: bits 0-1 the file argument ((file), RECV.TXT, RECV.PD3,
// data.txt), bit 2 append, bit 3 name check, bit 4 the PC's station
// 0x1234 instead of 0.  Then a header packet (length byte, bytes) and data
// packets (length byte, bytes) checked against it.  Every packet lies in a
// buffer of its exact size, so a read past it is caught.
// Invariants: the header check gives one of its documented codes, and an
// accepted header keeps the record limits with a plain 8.3 destination
// name; a data packet called New is the next record and has the length
// the header gives; Repeat only for the record accepted last.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "link/wire.h"
#include "upload/header_check.h"

using namespace fuzz;

namespace {

SessionSettings settings_of(uint8_t opt)
{
    static const char *const args[][3] = {{"(file)", "(FILE)", ""},
                                          {"RECV.TXT", "RECV", ".TXT"},
                                          {"RECV.PD3", "RECV", ".PD3"},
                                          {"data.txt", "DATA", ".TXT"}};
    const auto &a = args[opt & 3];
    SessionSettings s;
    reset_settings(s);
    s.receive_mode = 1;
    s.exchange.chk_len = 2;
    s.exchange.seq_flag = 1;
    std::snprintf(s.file.file_dir, sizeof s.file.file_dir, "/tmp/");
    std::snprintf(s.file.file_spelled, sizeof s.file.file_spelled, "%s", a[0]);
    std::snprintf(s.file.file_name, sizeof s.file.file_name, "%s", a[1]);
    std::snprintf(s.file.file_ext, sizeof s.file.file_ext, "%s", a[2]);
    s.receive.append_flag = (opt & 4) != 0;
    s.receive.name_check = (opt & 8) != 0;
    s.exchange.station_id[0] = opt & 16 ? 0x12 : 0;
    s.exchange.station_id[1] = opt & 16 ? 0x34 : 0;
    return s;
}

std::vector<uint8_t> next_packet(Input &in)
{
    size_t n = 0;
    size_t want = in.byte();
    if (want == 255)
        want = RCV_LIMIT + 1;   // the longest a frame can be stored
    const uint8_t *p = in.take(want, &n);
    return std::vector<uint8_t>(p, p + n);
}

bool plain_name(const char *s)
{
    return std::strchr(s, '/') == nullptr && std::strchr(s, '\\') == nullptr &&
           std::strchr(s, ':') == nullptr && std::strcmp(s, "..") != 0 && s[0] != '\0';
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Input in(data, size);
    const SessionSettings s = settings_of(in.byte());
    std::vector<uint8_t> hdr = next_packet(in);
    (void)frame_check(hdr.data(), static_cast<int>(hdr.size()), false, 2);

    ReceivedHeader h;
    std::memset(&h, 0xA5, sizeof h);
    const HeaderVerdict rc = check_header(hdr.data(), static_cast<int>(hdr.size()),
                                          s.exchange.station_id, s, h);
    switch (rc) {
    case HeaderVerdict::Accepted:
    case HeaderVerdict::TooShort:
    case HeaderVerdict::OtherStation:
    case HeaderVerdict::LengthDisagrees:
    case HeaderVerdict::BadContent:
    case HeaderVerdict::NameMismatch:
    case HeaderVerdict::WrongKind: break;
    default: broken("header check result", std::to_string(static_cast<int>(rc)));
    }
    // A refusal that ends the reception has its documented session result.
    const int result = header_refusal_result(rc);
    require(result == 0 || result == ORV5_E_BAD_HEADER || result == ORV5_E_NAME_MISMATCH ||
                result == ORV5_E_FILE_NAME,
            "header refusal result", std::to_string(result));
    if (rc != HeaderVerdict::Accepted)
        return 0;
    (void)header_terminator_ok(hdr.data(), static_cast<int>(hdr.size()), h);
    require(h.records_announced >= 0 && h.records_announced <= RECORDS_MAX, "record count");
    require(h.ditems >= 0 && h.ditems <= DITEMS_MAX, "field count");
    if (h.ditems > 0) {
        int32_t sum = 0;
        for (int i = 0; i < h.ditems; ++i) {
            require(h.ddigits[i] >= 1 && h.ddigits[i] <= DDIGITS_MAX, "width");
            sum += h.ddigits[i];
        }
        require(sum == h.record_length && h.ditems + sum <= DDSUM_MAX, "layout");
    } else {
        require(h.record_length == 128 || h.record_length == 130, "program record length");
    }
    require(std::memchr(h.name, 0, sizeof h.name) && std::memchr(h.ext, 0, sizeof h.ext) &&
                std::memchr(h.dest_base, 0, sizeof h.dest_base),
            "names not terminated");
    require(std::strlen(h.name) <= 8 && std::strlen(h.ext) <= 4, "8.3 name");
    require(plain_name(h.dest_base), "destination is no plain name", h.dest_base);

    int32_t accepted = 0;
    while (in.left() > 0) {
        std::vector<uint8_t> pkt = next_packet(in);
        DataVerdict v = check_data_packet(pkt.data(), static_cast<int>(pkt.size()), h, accepted);
        if (v == DataVerdict::New) {
            require(pkt.size() == static_cast<size_t>(DATA_RECORD_OFFSET + h.record_length + 3),
                    "new record of the wrong length");
            require(accepted < h.records_announced, "more records than announced");
            ++accepted;
        } else if (v == DataVerdict::Repeat) {
            require(accepted > 0, "repeat before any record");
        }
    }
    return 0;
}
