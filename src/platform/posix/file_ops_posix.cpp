// file_ops_posix.cpp - the receiving side's files on a POSIX system: the
// operations themselves, shared by the library (files_posix.cpp) and the
// simulated platform (sim/sim_fs.cpp).
#include "platform/posix/file_ops_posix.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "platform/os_reason.h"
#include "platform/unique_name.h"

// DOS time stamps cover these years.
constexpr int DOS_YEAR_FIRST = 1980;
constexpr int DOS_YEAR_LAST = 2107;

static PlatFileStatus failed(const char *what)
{
    int err = errno;
    plat_reason_note(what);
    return (err == ENOSPC || err == EDQUOT) ? PLAT_FILE_DISK_FULL : PLAT_FILE_FAILED;
}

static int fd_of(plat_file f) { return static_cast<int>(f); }

// Whether sync, truncate and the replacing calls wait until their change
// is on the disk (fsync of the file, and of the directory after a rename).
// The simulated platform builds this file without (sim/sim_file_ops.cpp):
// its tests run thousands of sessions in a scratch folder, where each wait
// costs milliseconds of a real disk and shows nothing a test could see.
// A constant, so that the library keeps no switch a caller could turn.
#ifdef ORV5_FILES_NOT_DURABLE
constexpr bool durable = false;
#else
constexpr bool durable = true;
#endif

// fsync when changes must reach the disk; 0 or -1 with errno, as fsync.
static int sync_fd(int fd) { return durable ? fsync(fd) : 0; }

unsigned posix_unique_seed()
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<unsigned>(getpid()) * 7919u + static_cast<unsigned>(now.tv_nsec / 1000);
}

PlatFileStatus posix_file_create_unique(const char *dir, unsigned seed, char *path, int size,
                                        plat_file *out)
{
    *out = PLAT_FILE_NONE;
    for (int i = 0; i < UNIQUE_TRIES; ++i) {
        if (!plat_unique_name(dir, seed, i, path, size))
            return PLAT_FILE_FAILED;
        int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            *out = fd;
            return PLAT_FILE_OK;
        }
        if (errno != EEXIST)
            break;
    }
    PlatFileStatus st = failed(path);
    path[0] = '\0';
    return st;
}

static PlatFileStatus open_existing(const char *path, int flags, plat_file *out)
{
    *out = PLAT_FILE_NONE;
    int fd = open(path, flags | O_CLOEXEC);
    if (fd < 0)
        return failed(path);
    *out = fd;
    return PLAT_FILE_OK;
}

PlatFileStatus posix_file_open_read(const char *path, plat_file *out)
{
    return open_existing(path, O_RDONLY, out);
}

PlatFileStatus posix_file_open_append(const char *path, plat_file *out)
{
    return open_existing(path, O_WRONLY | O_APPEND, out);
}

PlatFileStatus posix_file_write(plat_file f, const void *bytes, uint32_t n, const char *what)
{
    const char *p = static_cast<const char *>(bytes);
    while (n > 0) {
        ssize_t done = write(fd_of(f), p, n);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            if (done == 0)
                errno = ENOSPC;   // nothing taken and no reason given
            return failed(what);
        }
        p += done;
        n -= static_cast<uint32_t>(done);
    }
    return PLAT_FILE_OK;
}

PlatFileStatus posix_file_read(plat_file f, void *buf, uint32_t cap, uint32_t *got,
                               const char *what)
{
    *got = 0;
    for (;;) {
        ssize_t n = read(fd_of(f), buf, cap);
        if (n >= 0) {
            *got = static_cast<uint32_t>(n);
            return PLAT_FILE_OK;
        }
        if (errno != EINTR)
            return failed(what);
    }
}

PlatFileStatus posix_file_size(plat_file f, uint64_t *bytes, const char *what)
{
    struct stat st;
    if (fstat(fd_of(f), &st) != 0)
        return failed(what);
    *bytes = static_cast<uint64_t>(st.st_size);
    return PLAT_FILE_OK;
}

PlatFileStatus posix_file_sync(plat_file f, const char *what)
{
    return sync_fd(fd_of(f)) == 0 ? PLAT_FILE_OK : failed(what);
}

PlatFileStatus posix_file_close(plat_file f, const char *what)
{
    return close(fd_of(f)) == 0 ? PLAT_FILE_OK : failed(what);
}

PlatFileStatus posix_file_truncate(const char *path, uint64_t length)
{
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return failed(path);
    PlatFileStatus st = PLAT_FILE_OK;
    if (ftruncate(fd, static_cast<off_t>(length)) != 0 || sync_fd(fd) != 0)
        st = failed(path);
    if (close(fd) != 0 && st == PLAT_FILE_OK)
        st = failed(path);
    return st;
}

// Makes a rename in the directory of path durable.
static PlatFileStatus sync_dir_of(const char *path)
{
    if (!durable)
        return PLAT_FILE_OK;
    char dir[PATH_MAX];
    const char *slash = std::strrchr(path, '/');
    if (slash == nullptr) {
        std::strcpy(dir, ".");
    } else {
        size_t n = static_cast<size_t>(slash - path) + 1;   // keeps "/" for the root
        if (n >= sizeof dir) {
            plat_reason_set(path, "path too long");
            return PLAT_FILE_FAILED;
        }
        std::memcpy(dir, path, n);
        dir[n] = '\0';
    }
    int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return failed(dir);
    // File systems that cannot sync a directory say EINVAL: nothing to wait for.
    PlatFileStatus st = (fsync(fd) == 0 || errno == EINVAL) ? PLAT_FILE_OK : failed(dir);
    close(fd);
    return st;
}

PlatFileStatus posix_file_replace(const char *from, const char *to)
{
    struct stat old;
    if (stat(to, &old) == 0 && chmod(from, old.st_mode & 07777) != 0)
        return failed(from);
    if (rename(from, to) != 0)
        return failed(to);
    return sync_dir_of(to);
}

// The directory part of path, with its trailing '/', or "" for none.
static bool dir_part(const char *path, char *dir, size_t size)
{
    const char *slash = std::strrchr(path, '/');
    size_t n = slash == nullptr ? 0 : static_cast<size_t>(slash - path) + 1;
    if (n >= size) {
        plat_reason_set(path, "path too long");
        return false;
    }
    std::memcpy(dir, path, n);
    dir[n] = '\0';
    return true;
}

// Bytes copied per step when a file system cannot link.
constexpr size_t COPY_BLOCK = 4096;

// A copy of the file at path in a new file of a fresh name in dir, synced:
// for file systems without hard links (FAT, some network shares).
static PlatFileStatus copy_fresh(const char *path, const char *dir, unsigned seed, char *backup,
                                 int size)
{
    int in = open(path, O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return failed(path);
    plat_file out = PLAT_FILE_NONE;
    PlatFileStatus st = posix_file_create_unique(dir, seed, backup, size, &out);
    char block[COPY_BLOCK];
    while (st == PLAT_FILE_OK) {
        ssize_t n = read(in, block, sizeof block);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            st = failed(path);
        else if (n == 0)
            break;
        else
            st = posix_file_write(out, block, static_cast<uint32_t>(n), backup);
    }
    close(in);
    if (out == PLAT_FILE_NONE)
        return st;
    if (st == PLAT_FILE_OK)
        st = posix_file_sync(out, backup);
    PlatFileStatus closed = posix_file_close(out, backup);
    if (st == PLAT_FILE_OK)
        st = closed;
    if (st != PLAT_FILE_OK) {
        unlink(backup);
        backup[0] = '\0';
    }
    return st;
}

// The file at path under a second name, fresh, in its directory: a hard
// link, or a copy where the file system has none.
static PlatFileStatus keep_fresh(const char *path, unsigned seed, char *backup, int size)
{
    char dir[PATH_MAX];
    if (!dir_part(path, dir, sizeof dir))
        return PLAT_FILE_FAILED;
    for (int i = 0; i < UNIQUE_TRIES; ++i) {
        if (!plat_unique_name(dir, seed, i, backup, size))
            return PLAT_FILE_FAILED;
        if (link(path, backup) == 0)
            return PLAT_FILE_OK;
        if (errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS || errno == EMLINK)
            return copy_fresh(path, dir, seed, backup, size);
        if (errno != EEXIST)
            break;
    }
    PlatFileStatus st = failed(path);
    backup[0] = '\0';
    return st;
}

PlatFileStatus posix_file_replace_keeping(const char *from, const char *to, unsigned seed,
                                          char *backup, int size)
{
    backup[0] = '\0';
    struct stat old;
    const bool had_old = stat(to, &old) == 0;
    // The old file keeps a second name (or a copy), so the rename below
    // only takes away the first: to is the old file or the new one at
    // every moment.
    PlatFileStatus st = had_old ? keep_fresh(to, seed, backup, size) : PLAT_FILE_OK;
    if (st != PLAT_FILE_OK)
        return st;
    bool renamed = false;
    if (had_old && chmod(from, old.st_mode & 07777) != 0)
        st = failed(from);
    else if (rename(from, to) != 0)
        st = failed(to);
    else
        renamed = true;
    if (renamed)
        st = sync_dir_of(to);
    if (st == PLAT_FILE_OK)
        return st;
    // Renamed but maybe not durably, or not at all: to as it was.
    if (renamed && had_old)
        rename(backup, to);
    else if (renamed)
        unlink(to);
    else if (had_old)
        unlink(backup);
    backup[0] = '\0';
    return st;
}

PlatFileStatus posix_file_remove(const char *path)
{
    return unlink(path) == 0 ? PLAT_FILE_OK : failed(path);
}

bool posix_file_exists(const char *path)
{
    struct stat st;
    return stat(path, &st) == 0;
}

bool posix_dir_free_space(const char *dir, uint64_t *bytes)
{
    struct statvfs st;
    if (statvfs(dir != nullptr && *dir != '\0' ? dir : ".", &st) != 0)
        return false;
    uint64_t unit = st.f_frsize != 0 ? st.f_frsize : st.f_bsize;
    *bytes = static_cast<uint64_t>(st.f_bavail) * unit;
    return true;
}

bool posix_file_local_time(const char *path, PlatLocalTime *t)
{
    struct stat st;
    struct tm local;
    if (stat(path, &st) != 0 || localtime_r(&st.st_mtime, &local) == nullptr)
        return false;
    int year = local.tm_year + 1900;
    if (year < DOS_YEAR_FIRST || year > DOS_YEAR_LAST)
        return false;
    t->year = year;
    t->month = local.tm_mon + 1;
    t->day = local.tm_mday;
    t->hour = local.tm_hour;
    t->minute = local.tm_min;
    t->second = (local.tm_sec > 59 ? 59 : local.tm_sec) & ~1;   // two-second steps, no leap second
    return true;
}
