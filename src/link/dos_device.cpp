// dos_device.cpp - base names that Windows gives to devices, not files.
#include "link/dos_device.h"

#include <cstring>

constexpr size_t DEVICE_NAME_MAX = 4;   // "COM1", the longest

static char upper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

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
