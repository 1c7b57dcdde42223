// fs.h - the few file-system facts that differ between platforms.
#pragma once

#include <cstdint>

// True for a character that separates path components ('\\' and '/' on
// Win32, '/' on POSIX).
bool plat_path_is_sep(char c);

// Length of a leading drive prefix ("C:" gives 2); 0 when there is
// none or the platform has no drives.
int plat_path_drive_len(const char *path);

// Free bytes on the drive named by drive ("C:"), or on the current one when
// drive is empty; 0 when unknown.
uint64_t plat_disk_free(const char *drive);

