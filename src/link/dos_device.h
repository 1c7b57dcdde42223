// dos_device.h - base names that Windows gives to devices, not files.
#pragma once

// True when base (an 8.3 base name, without its extension) is CON, PRN,
// AUX, NUL, COM1..COM9 or LPT1..LPT9 in any case, trailing blanks ignored.
// Such a name reaches the device in every directory and with any
// extension ("C:\DATA\con.txt" is the console), so it never names a file.
bool is_dos_device_name(const char *base);
