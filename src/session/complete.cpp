// complete.cpp - cross-checks of the parsed settings before any port opens.
#include <cstdio>
#include <cstring>

#include "format/fld_reader.h"
#include "orv5w32.h"
#include "session/complete.h"
#include "session/options.h"
#include "session/settings.h"

bool file_can_be_read(const char *path)
{
    std::FILE *fp = std::fopen(path, "rb");
    if (!fp)
        return false;
    std::fgetc(fp);   // a directory opens on some systems but cannot be read
    bool ok = !std::ferror(fp);
    std::fclose(fp);
    return ok;
}

int read_field_file(SessionSettings &s)
{
    char path[PATH_SIZE];
    if (s.file_name[0] == '\0' || !join_file_path(s, path, PATH_SIZE, nullptr) ||
        !file_can_be_read(path))
        return ORV5_E_SEND_FILE;
    // Beside the data file, under its spelled base name.
    char upper[PATH_SIZE], lower[PATH_SIZE];
    bool has_upper = join_file_path(s, upper, PATH_SIZE, ".FLD");
    bool has_lower = join_file_path(s, lower, PATH_SIZE, ".fld");
    return fld_read_widths(has_upper ? upper : nullptr, has_lower ? lower : nullptr, s.file_name,
                           s.file_ext, &s.ditems, s.ddigits);
}

static int record_length_of_widths(SessionSettings &s)
{
    int32_t sum = 0;
    for (int i = 0; i < s.ditems; ++i)
        sum += s.ddigits[i];
    if (sum + s.ditems > DDSUM_MAX)
        return ORV5_E_RECORD_TOO_LONG;
    s.ddigits_sum = sum;
    s.record_length = sum;
    return 0;
}

int complete_settings(SessionSettings &s)
{
    if (s.receive_mode)
        return 0;
    if (s.file_type != FT_DATA && s.ditems != 0)
        return ORV5_E_WIDTHS_FOR_PROG;
    if (s.file_type == FT_DATA && s.ditems == 0) {
        if (std::strcmp(s.file_ext, ".FLD") == 0)
            return ORV5_E_FIELD_FILE;
        int r = read_field_file(s);
        if (r != 0)
            return r;
    }
    if (s.file_type == FT_DATA) {
        int r = record_length_of_widths(s);
        if (r != 0)
            return r;
    } else {
        s.record_length = (s.file_type == FT_PD3) ? PD3_RECORD : EX3_RECORD;
    }
    char path[PATH_SIZE];
    if (!s.file_given || !join_file_path(s, path, PATH_SIZE, nullptr) || !file_can_be_read(path))
        return ORV5_E_SEND_FILE;
    return 0;
}
