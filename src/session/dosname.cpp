// dosname.cpp - the file argument and its 8.3 name rule.
#include <cstring>

#include "link/dos_device.h"
#include "link/text_chars.h"
#include "orv5w32.h"
#include "platform/fs.h"
#include "session/options.h"
#include "session/settings.h"

constexpr size_t DOS_NAME_MAX = 8;   // characters of a base name
constexpr size_t DOS_EXT_MAX = 4;    // characters of an extension, dot included


// Checks the characters of s; first tells whether s[0] is the first
// character of a name.  A blank (0x20) may only trail.
static bool valid_chars(const char *s, bool first)
{
    bool blank_seen = false;
    for (size_t i = 0; s[i] != '\0'; ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == ' ' && !(first && i == 0)) {
            blank_seen = true;
        } else if (blank_seen || !is_dos_name_char(c, first && i == 0)) {
            return false;
        }
    }
    return true;
}

int check_dos_name(char *name, char *ext)
{
    if (!name || !ext || name[0] == '\0')
        return ORV5_E_FILE_NAME;
    if (std::strlen(name) > DOS_NAME_MAX || std::strlen(ext) > DOS_EXT_MAX)
        return ORV5_E_FILE_NAME;
    if (!valid_chars(name, true))
        return ORV5_E_FILE_NAME;
    if (ext[0] != '\0' && (ext[0] != '.' || !valid_chars(ext + 1, false)))
        return ORV5_E_FILE_NAME;
    if (is_dos_device_name(name))   // the console, a printer, a port: never a file
        return ORV5_E_FILE_NAME;
    ascii_upper_in_place(name);
    ascii_upper_in_place(ext);
    return 0;
}

static void copy_part(char *out, const char *from, size_t n)
{
    std::memcpy(out, from, n);
    out[n] = '\0';
}

int set_file_arg(SessionSettings &s, const char **cursor)
{
    const char *arg = *cursor;
    size_t len = std::strlen(arg);
    *cursor = arg + len;
    if (s.file_given)
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
    copy_part(s.file_drive, arg, drive);
    copy_part(s.file_dir, arg + drive, base - drive);
    copy_part(s.file_name, arg + base, dot - base);
    copy_part(s.file_ext, arg + dot, len - dot);
    copy_part(s.file_spelled, arg + base, len - base);

    s.file_given = (dot > base) ? 1 : 0;
    if (!s.file_given)
        return (len > dot) ? ORV5_E_FILE_NAME : 0;   // ".TXT" / a bare directory
    if (check_dos_name(s.file_name, s.file_ext) != 0)
        return ORV5_E_FILE_NAME;
    s.file_type = file_kind_of_ext(s.file_ext);
    return 0;
}
