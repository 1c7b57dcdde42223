// complete.cpp - the settings completed from the files they name, before
// any port opens.
#include "session/complete.h"

#include <cstdio>

#include "format/fld_reader.h"
#include "orv5w32.h"
#include "runtime/settings.h"
#include "session/options.h"

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

Orv5Result read_field_file(SessionSettings &s)
{
    char path[PATH_SIZE];
    if (s.file.file_name[0] == '\0' || !join_file_path(s, path, PATH_SIZE, nullptr) ||
        !file_can_be_read(path))
        return ORV5_E_SEND_FILE;
    // Beside the data file, under its spelled base name.
    char upper[PATH_SIZE], lower[PATH_SIZE];
    bool has_upper = join_file_path(s, upper, PATH_SIZE, ".FLD");
    bool has_lower = join_file_path(s, lower, PATH_SIZE, ".fld");
    return fld_read_widths(has_upper ? upper : nullptr, has_lower ? lower : nullptr,
                           s.file.file_name, s.file.file_ext, &s.send.ditems, s.send.ddigits);
}

Orv5Result complete_settings(SessionSettings &s)
{
    Orv5Result r = check_settings(s);
    if (r != 0 || s.receive_mode)
        return r;
    if (s.file.file_type == FT_DATA && s.send.ditems == 0) {
        r = read_field_file(s);
        if (r == 0)
            r = settle_record_length(s);
        if (r != 0)
            return r;
    }
    char path[PATH_SIZE];
    if (!s.file.file_given || !join_file_path(s, path, PATH_SIZE, nullptr) ||
        !file_can_be_read(path))
        return ORV5_E_SEND_FILE;
    return ORV5_OK;
}
