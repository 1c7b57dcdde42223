// fuzz_fieldfile.cpp - the field-definition reader on any file content,
// with the cross-checks that follow it before a data file is sent.
//
// Option byte: bits 0-1 which data file it is read for (DATA.TXT,
// data.txt spelled in lower case, LONGNAME.CSV, X).  The rest is the
// content of its field-definition file.  Invariants: the reader gives 0 or
// 8; a layout the checks let through keeps the record limits and its
// record length is the sum of the widths.
#include <string>

#include "fuzz_support.h"
#include "runtime/settings.h"
#include "session/complete.h"
#include "session/options.h"

using namespace fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const char *const spelled[][3] = {{"DATA.TXT", "DATA", ".TXT"},
                                             {"data.txt", "DATA", ".TXT"},
                                             {"LONGNAME.CSV", "LONGNAME", ".CSV"},
                                             {"X", "X", ""}};
    const std::string &dir = scratch_dir();
    clear_dir(dir);
    Input in(data, size);
    const auto &which = spelled[in.byte() & 3];
    size_t n = 0;
    const uint8_t *content = in.take(in.left(), &n);

    std::string file = which[0];
    std::string base = file.substr(0, file.find('.'));
    write_file(dir + file, "ABC\r\n");
    write_file(dir + base + ".FLD", std::string(reinterpret_cast<const char *>(content), n));

    SessionSettings s;
    reset_settings(s);
    std::snprintf(s.file.file_dir, sizeof s.file.file_dir, "%s", dir.c_str());
    std::snprintf(s.file.file_spelled, sizeof s.file.file_spelled, "%s", file.c_str());
    std::snprintf(s.file.file_name, sizeof s.file.file_name, "%s", which[1]);
    std::snprintf(s.file.file_ext, sizeof s.file.file_ext, "%s", which[2]);
    s.file.file_type = FT_DATA;
    s.file.file_given = 1;
    SessionSettings again = s;
    const int fds_before = open_descriptors();
    const int rc = read_field_file(s);
    require(rc == 0 || rc == ORV5_E_FIELD_FILE, "result", std::to_string(rc));
    require(open_descriptors() == fds_before, "descriptor left open");
    const int checked = complete_settings(again);
    require(checked == rc || (rc == 0 && checked != 0), "checks disagree with the reader");
    if (checked != 0)
        return 0;
    s = again;
    require(s.send.record_length == s.send.ddigits_sum, "record length");
    require(s.send.ditems >= 1 && s.send.ditems <= DITEMS_MAX, "field count",
            std::to_string(s.send.ditems));
    int32_t sum = 0;
    for (int i = 0; i < s.send.ditems; ++i) {
        require(s.send.ddigits[i] >= 1 && s.send.ddigits[i] <= DDIGITS_MAX, "width",
                std::to_string(s.send.ddigits[i]));
        sum += s.send.ddigits[i];
    }
    require(s.send.ditems + sum <= DDSUM_MAX && sum == s.send.ddigits_sum, "record too long",
            std::to_string(sum));
    return 0;
}
