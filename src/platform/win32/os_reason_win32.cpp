// os_reason_win32.cpp - the last failure's reason from GetLastError().
#include "platform/os_reason.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

// The system's sentence for an error code.
constexpr size_t SYSTEM_TEXT_SIZE = 256;

void plat_reason_note(const char *what)
{
    DWORD code = GetLastError();
    char text[SYSTEM_TEXT_SIZE] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, 0, text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' '))
        text[--n] = '\0';
    if (n == 0)
        std::snprintf(text, sizeof text, "system error %lu", static_cast<unsigned long>(code));
    plat_reason_set(what, text);
}
