// complete.cpp - cross-checks of the parsed settings before any port opens.
#include <cstdio>
#include <cstring>

#include "download/fieldfile.h"
#include "orv5w32.h"
#include "session/options.h"
#include "session/settings.h"

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
