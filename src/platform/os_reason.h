// os_reason.h - the operating system's reason behind the last failure.
//
// A session ends with a result code only; for 75 (port), 9 (port settings),
// 71 (files) and a port gone during a session (51, 52) the platform layer also
// keeps the system's own words
// ("COM3: Access is denied.", "/data/x.txt: No space left on device"), so
// that a host or the CLI can show people with real hardware what went
// wrong.  Cleared at the start of every session; the text of the last
// failure noted wins.
#pragma once

#include <cstddef>
#include <cstdio>

// Room for a path and the system's sentence.
constexpr size_t PLAT_REASON_SIZE = 512;

// The one kept text of the process.  Process-wide because
// GetOrv5LastReason reads it after the session that noted it has ended,
// with no session at hand (and a session runs at a time).
inline char *plat_reason_buffer()
{
    static char reason[PLAT_REASON_SIZE];
    return reason;
}

// Forgets the kept reason.
inline void plat_reason_clear() { plat_reason_buffer()[0] = '\0'; }

// Keeps "what: detail" as given; a long path is cut at the buffer's end.
inline void plat_reason_set(const char *what, const char *detail)
{
    if (std::snprintf(plat_reason_buffer(), PLAT_REASON_SIZE, "%s: %s", what ? what : "",
                      detail ? detail : "") < 0)
        plat_reason_clear();
}

// The kept reason, "" when there is none.
inline const char *plat_reason_text() { return plat_reason_buffer(); }

// Keeps "what: <system text>" for the system error of the failing call
// just made (errno on POSIX, GetLastError() on Win32).  Call it right
// after the failure, before anything else can change the error.  Each
// platform's own.
void plat_reason_note(const char *what);
