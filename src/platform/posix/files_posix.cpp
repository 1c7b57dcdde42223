// files_posix.cpp - the receiving side's files on a POSIX system: the
// plat_file_* calls of platform/fs.h, done by the operations in
// file_ops_posix.cpp (which the simulated platform shares).
#include "platform/fs.h"
#include "platform/posix/file_ops_posix.h"

PlatFileStatus plat_file_create_unique(const char *dir, char *path, int size, plat_file *out)
{
    return posix_file_create_unique(dir, posix_unique_seed(), path, size, out);
}

PlatFileStatus plat_file_open_read(const char *path, plat_file *out)
{
    return posix_file_open_read(path, out);
}

PlatFileStatus plat_file_open_append(const char *path, plat_file *out)
{
    return posix_file_open_append(path, out);
}

PlatFileStatus plat_file_write(plat_file f, const void *bytes, uint32_t n, const char *what)
{
    return posix_file_write(f, bytes, n, what);
}

PlatFileStatus plat_file_read(plat_file f, void *buf, uint32_t cap, uint32_t *got, const char *what)
{
    return posix_file_read(f, buf, cap, got, what);
}

PlatFileStatus plat_file_size(plat_file f, uint64_t *bytes, const char *what)
{
    return posix_file_size(f, bytes, what);
}

PlatFileStatus plat_file_sync(plat_file f, const char *what) { return posix_file_sync(f, what); }

PlatFileStatus plat_file_close(plat_file f, const char *what) { return posix_file_close(f, what); }

PlatFileStatus plat_file_truncate(const char *path, uint64_t length)
{
    return posix_file_truncate(path, length);
}

PlatFileStatus plat_file_replace(const char *from, const char *to)
{
    return posix_file_replace(from, to);
}

PlatFileStatus plat_file_replace_keeping(const char *from, const char *to, char *backup, int size)
{
    return posix_file_replace_keeping(from, to, posix_unique_seed(), backup, size);
}

PlatFileStatus plat_file_remove(const char *path) { return posix_file_remove(path); }

bool plat_file_exists(const char *path) { return posix_file_exists(path); }

bool plat_dir_free_space(const char *dir, uint64_t *bytes)
{
    return posix_dir_free_space(dir, bytes);
}

bool plat_file_local_time(const char *path, PlatLocalTime *t)
{
    return posix_file_local_time(path, t);
}
