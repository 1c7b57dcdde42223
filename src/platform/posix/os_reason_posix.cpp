// os_reason_posix.cpp - the last failure's reason from errno.
#include "platform/os_reason.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

// Room for a path and the system's sentence.
constexpr size_t REASON_SIZE = 512;
static char reason[REASON_SIZE];

void plat_reason_clear()
{
    reason[0] = '\0';
}

void plat_reason_set(const char *what, const char *detail)
{
    std::snprintf(reason, sizeof reason, "%s: %s", what ? what : "", detail ? detail : "");
}

void plat_reason_note(const char *what)
{
    plat_reason_set(what, std::strerror(errno));
}

const char *plat_reason_text()
{
    return reason;
}
