// dos_name.h - the 8.3 file names that go on the wire, and path sizes.
//
// Both directions and the command text share these rules: a name sent to
// or accepted from a terminal is a DOS 8.3 name, and the paths built from
// it fit the fixed buffers of Windows paths.
#pragma once

#include "orv5w32.h"

// Path buffers: MAX_PATH (260) including the NUL.
constexpr int PATH_SIZE = 260;
constexpr int DRIVE_SIZE = 4;    // "C:" + NUL, one spare
constexpr int PART_SIZE = 256;   // directory, base name, extension

// Checks (and upper-cases in place) an 8.3 name: 0 valid, 2 invalid.
// name is the base name, ext the extension with its dot or empty.
[[nodiscard]] Orv5Result check_dos_name(char *name, char *ext);

// True when base (an 8.3 base name, without its extension) is CON, PRN,
// AUX, NUL, COM1..COM9 or LPT1..LPT9 in any case, trailing blanks ignored.
// Such a name reaches the device in every directory and with any
// extension ("C:\DATA\con.txt" is the console), so it never names a file.
bool is_dos_device_name(const char *base);
