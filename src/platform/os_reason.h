// os_reason.h - the operating system's reason behind the last failure.
//
// A session ends with a result code only; for 75 (port), 9 (port settings)
// and 71 (files) the platform layer also keeps the system's own words
// ("COM3: Access is denied.", "/data/x.txt: No space left on device"), so
// that a host or the CLI can show people with real hardware what went
// wrong.  Cleared at the start of every session; the text of the last
// failure noted wins.
#pragma once

#include <cstddef>

// Forgets the kept reason.
void plat_reason_clear();

// Keeps "what: <system text>" for the system error of the failing call
// just made (errno on POSIX, GetLastError() on Win32).  Call it right
// after the failure, before anything else can change the error.
void plat_reason_note(const char *what);

// Keeps "what: detail" as given.
void plat_reason_set(const char *what, const char *detail);

// The kept reason, "" when there is none.
const char *plat_reason_text();
