// fs_win32.cpp - drive letters, both separators and free space on Win32.
#include "platform/fs.h"

#include <windows.h>

bool plat_path_is_sep(char c) { return c == '\\' || c == '/'; }

int plat_path_drive_len(const char *path)
{
    if (path == nullptr)
        return 0;
    char c = path[0];
    bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    return letter && path[1] == ':' ? 2 : 0;
}

uint64_t plat_disk_free(const char *drive)
{
    // "X:\" for a drive text, else the current drive's root (null).
    char root[4] = {0, ':', '\\', 0};
    const char *where = nullptr;
    if (plat_path_drive_len(drive) == 2) {
        root[0] = drive[0];
        where = root;
    }
    DWORD sectors_per_cluster = 0, bytes_per_sector = 0;
    DWORD free_clusters = 0, total_clusters = 0;
    if (!GetDiskFreeSpaceA(where, &sectors_per_cluster, &bytes_per_sector, &free_clusters,
                           &total_clusters))
        return 0;
    return static_cast<uint64_t>(free_clusters) * sectors_per_cluster * bytes_per_sector;
}
