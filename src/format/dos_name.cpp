// dos_name.cpp - the 8.3 name rule and the device names that are no files.
#include "format/dos_name.h"

#include <cstring>

#include "link/text_chars.h"
#include "orv5w32.h"

constexpr size_t DOS_NAME_MAX = 8;   // characters of a base name
constexpr size_t DOS_EXT_MAX = 4;    // characters of an extension, dot included

constexpr size_t DEVICE_NAME_MAX = 4;   // "COM1", the longest

static char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool is_dos_device_name(const char *base)
{
    size_t n = std::strlen(base);
    while (n > 0 && base[n - 1] == ' ')
        --n;
    if (n < 3 || n > DEVICE_NAME_MAX)
        return false;
    char name[DEVICE_NAME_MAX + 1];
    for (size_t i = 0; i < n; ++i)
        name[i] = upper(base[i]);
    name[n] = '\0';
    if (n == 3)
        return !std::strcmp(name, "CON") || !std::strcmp(name, "PRN") ||
               !std::strcmp(name, "AUX") || !std::strcmp(name, "NUL");
    bool numbered = !std::strncmp(name, "COM", 3) || !std::strncmp(name, "LPT", 3);
    return numbered && name[3] >= '1' && name[3] <= '9';
}

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

Orv5Result check_dos_name(char *name, char *ext)
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
    return ORV5_OK;
}
