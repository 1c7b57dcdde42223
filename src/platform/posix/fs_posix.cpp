// fs_posix.cpp - file-system facts of a POSIX system: '/' only, no drives.
#include "platform/fs.h"

#include <sys/statvfs.h>

bool plat_path_is_sep(char c) { return c == '/'; }

int plat_path_drive_len(const char *) { return 0; }

uint64_t plat_disk_free(const char *drive)
{
    // There are no drives: the argument names a directory, "" the current one.
    const char *dir = drive != nullptr && *drive != '\0' ? drive : ".";
    struct statvfs st;
    if (statvfs(dir, &st) != 0)
        return 0;
    uint64_t unit = st.f_frsize != 0 ? st.f_frsize : st.f_bsize;
    return static_cast<uint64_t>(st.f_bavail) * unit;
}
