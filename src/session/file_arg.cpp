// file_arg.cpp - the file argument of the command text.
#include <cstring>

#include "format/dos_name.h"
#include "orv5w32.h"
#include "platform/fs.h"
#include "runtime/settings.h"
#include "session/options.h"

static void copy_part(char *out, const char *from, size_t n)
{
    std::memcpy(out, from, n);
    out[n] = '\0';
}

Orv5Result set_file_arg(SessionSettings &s, const char **cursor)
{
    const char *arg = *cursor;
    size_t len = std::strlen(arg);
    *cursor = arg + len;
    if (s.file.file_given)
        return ORV5_E_FILE_NAME;   // one file per session

    // drive | directory (up to the last separator) | base | extension (from
    // the last dot of the last component)
    size_t drive = static_cast<size_t>(plat_path_drive_len(arg));
    if (drive > len)
        drive = len;
    size_t base = drive;
    for (size_t i = drive; i < len; ++i)
        if (plat_path_is_sep(arg[i]))
            base = i + 1;
    size_t dot = len;
    for (size_t i = base; i < len; ++i)
        if (arg[i] == '.')
            dot = i;

    // Parts too long for their fields, or a path too long to open, are not
    // a usable file name.
    if (len >= static_cast<size_t>(PATH_SIZE) || drive >= static_cast<size_t>(DRIVE_SIZE) ||
        base - drive >= static_cast<size_t>(PART_SIZE) ||   // directory
        len - base >= static_cast<size_t>(PART_SIZE))       // name + extension, spelled
        return ORV5_E_FILE_NAME;
    copy_part(s.file.file_drive, arg, drive);
    copy_part(s.file.file_dir, arg + drive, base - drive);
    copy_part(s.file.file_name, arg + base, dot - base);
    copy_part(s.file.file_ext, arg + dot, len - dot);
    copy_part(s.file.file_spelled, arg + base, len - base);

    s.file.file_given = (dot > base) ? 1 : 0;
    if (!s.file.file_given)
        return (len > dot) ? ORV5_E_FILE_NAME : ORV5_OK;   // ".TXT" / a bare directory
    if (check_dos_name(s.file.file_name, s.file.file_ext) != 0)
        return ORV5_E_FILE_NAME;
    s.file.file_type = file_kind_of_ext(s.file.file_ext);
    return ORV5_OK;
}
