// sim_fs.cpp - the simulated file system: real files in the folders the tests
// name, with faults injected by plan (sim::FsFaults).  Paths use '/' only and
// there are no drives.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/os_reason.h"
#include "platform/unique_name.h"
#include "platform/sim/sim_internal.h"

namespace sim {

namespace {
constexpr uint64_t PLENTY_FREE = UINT64_MAX / 4;
FsFaults plan;
FsCounts counts;
uint64_t free_bytes = PLENTY_FREE;
unsigned unique_serial;   // successive temporary names of one test run
std::vector<std::string> handed_out;    // paths of the files handed out, in order
std::map<int, int> ordinal_of_fd;       // open descriptor -> its place in handed_out (1-based)
}  // namespace

void reset_fs()
{
    plan = FsFaults();
    counts = FsCounts();
    free_bytes = PLENTY_FREE;
    unique_serial = 0;
    handed_out.clear();
    ordinal_of_fd.clear();
}

std::string fs_file_path(int n)
{
    return n >= 1 && n <= static_cast<int>(handed_out.size()) ? handed_out[n - 1] : "";
}

FsFaults &fs_faults() { return plan; }
const FsCounts &fs_counts() { return counts; }
uint64_t &disk_free() { return free_bytes; }

}  // namespace sim

using namespace sim;

// Counts a call and tells whether the plan makes it fail.
static bool planned_failure(int &count, int fails_at)
{
    ++count;
    return fails_at > 0 && count == fails_at;
}

static PlatFileStatus failed(const char *what, int err)
{
    errno = err;
    plat_reason_note(what);
    return err == ENOSPC ? PLAT_FILE_DISK_FULL : PLAT_FILE_FAILED;
}

static int fd_of(plat_file f) { return static_cast<int>(f); }

// Notes a file handed out to the library.
static plat_file hand_out(int fd, const char *path)
{
    ++counts.open_files;
    handed_out.emplace_back(path);
    ordinal_of_fd[fd] = static_cast<int>(handed_out.size());
    return fd;
}

// True when the plan makes every call of one kind fail on this file.
static bool planned_for_file(plat_file f, int fails_on)
{
    auto it = ordinal_of_fd.find(fd_of(f));
    return fails_on > 0 && it != ordinal_of_fd.end() && it->second == fails_on;
}

bool plat_path_is_sep(char c) { return c == '/'; }
int plat_path_drive_len(const char *) { return 0; }
uint64_t plat_disk_free(const char *) { return free_bytes; }

PlatFileStatus plat_file_create_unique(const char *dir, char *path, int size, plat_file *out)
{
    *out = PLAT_FILE_NONE;
    if (planned_failure(counts.creates, plan.create_fails_at)) {
        path[0] = '\0';
        return failed(dir, EIO);
    }
    for (;;) {
        if (!plat_unique_name(dir, unique_serial++, 0, path, size))
            return PLAT_FILE_FAILED;
        int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            *out = hand_out(fd, path);
            return PLAT_FILE_OK;
        }
        if (errno != EEXIST) {
            PlatFileStatus st = failed(path, errno);
            path[0] = '\0';
            return st;
        }
    }
}

static PlatFileStatus open_existing(const char *path, int flags, plat_file *out)
{
    *out = PLAT_FILE_NONE;
    if (planned_failure(counts.opens, plan.open_fails_at))
        return failed(path, EIO);
    int fd = open(path, flags | O_CLOEXEC);
    if (fd < 0)
        return failed(path, errno);
    *out = hand_out(fd, path);
    return PLAT_FILE_OK;
}

PlatFileStatus plat_file_open_read(const char *path, plat_file *out)
{
    return open_existing(path, O_RDONLY, out);
}

PlatFileStatus plat_file_open_append(const char *path, plat_file *out)
{
    return open_existing(path, O_WRONLY | O_APPEND, out);
}

PlatFileStatus plat_file_write(plat_file f, const void *bytes, uint32_t n, const char *what)
{
    if (planned_failure(counts.writes, plan.write_fails_at))
        return failed(what, EIO);
    uint32_t fits = n;
    if (plan.full_after_bytes >= 0) {
        uint64_t room = static_cast<uint64_t>(plan.full_after_bytes) > counts.bytes_written
                            ? static_cast<uint64_t>(plan.full_after_bytes) - counts.bytes_written
                            : 0;
        if (room < fits)
            fits = static_cast<uint32_t>(room);
    }
    if (fits > 0) {
        ssize_t done = write(fd_of(f), bytes, fits);
        if (done != static_cast<ssize_t>(fits))
            return failed(what, done < 0 ? errno : EIO);
        counts.bytes_written += fits;
    }
    return fits == n ? PLAT_FILE_OK : failed(what, ENOSPC);
}

PlatFileStatus plat_file_read(plat_file f, void *buf, uint32_t cap, uint32_t *got, const char *what)
{
    *got = 0;
    if (planned_failure(counts.reads, plan.read_fails_at))
        return failed(what, EIO);
    ssize_t n = read(fd_of(f), buf, cap);
    if (n < 0)
        return failed(what, errno);
    *got = static_cast<uint32_t>(n);
    return PLAT_FILE_OK;
}

PlatFileStatus plat_file_size(plat_file f, uint64_t *bytes, const char *what)
{
    struct stat st;
    if (fstat(fd_of(f), &st) != 0)
        return failed(what, errno);
    *bytes = static_cast<uint64_t>(st.st_size);
    return PLAT_FILE_OK;
}

PlatFileStatus plat_file_sync(plat_file f, const char *what)
{
    // Nothing to wait for in a test; only the planned failure matters.
    if (planned_failure(counts.syncs, plan.sync_fails_at) ||
        planned_for_file(f, plan.sync_fails_on_file))
        return failed(what, EIO);
    return PLAT_FILE_OK;
}

PlatFileStatus plat_file_close(plat_file f, const char *what)
{
    bool fails = planned_failure(counts.closes, plan.close_fails_at) ||
                 planned_for_file(f, plan.close_fails_on_file);
    ordinal_of_fd.erase(fd_of(f));
    --counts.open_files;
    if (close(fd_of(f)) != 0)
        return failed(what, errno);
    return fails ? failed(what, EIO) : PLAT_FILE_OK;
}

PlatFileStatus plat_file_truncate(const char *path, uint64_t length)
{
    if (planned_failure(counts.truncates, plan.truncate_fails_at))
        return failed(path, EIO);
    return truncate(path, static_cast<off_t>(length)) == 0 ? PLAT_FILE_OK : failed(path, errno);
}

PlatFileStatus plat_file_replace(const char *from, const char *to)
{
    if (planned_failure(counts.replaces, plan.replace_fails_at))
        return failed(to, EIO);
    struct stat old;
    if (stat(to, &old) == 0 && chmod(from, old.st_mode & 07777) != 0)
        return failed(from, errno);
    return rename(from, to) == 0 ? PLAT_FILE_OK : failed(to, errno);
}

PlatFileStatus plat_file_replace_keeping(const char *from, const char *to, char *backup, int size)
{
    backup[0] = '\0';
    if (planned_failure(counts.replaces, plan.replace_fails_at))
        return failed(to, EIO);
    struct stat old;
    const bool had_old = stat(to, &old) == 0;
    if (had_old) {
        // The old file under a second name in its directory, as the real
        // layers keep it.
        std::string path(to);
        size_t slash = path.rfind('/');
        std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
        for (;;) {
            if (!plat_unique_name(dir.c_str(), unique_serial++, 0, backup, size))
                return PLAT_FILE_FAILED;
            if (link(to, backup) == 0)
                break;
            if (errno != EEXIST) {
                backup[0] = '\0';
                return failed(to, errno);
            }
        }
        if (chmod(from, old.st_mode & 07777) != 0) {
            int err = errno;
            unlink(backup);
            backup[0] = '\0';
            return failed(from, err);
        }
    }
    if (rename(from, to) != 0) {
        int err = errno;
        if (had_old)
            unlink(backup);
        backup[0] = '\0';
        return failed(to, err);
    }
    return PLAT_FILE_OK;
}

PlatFileStatus plat_file_remove(const char *path)
{
    if (planned_failure(counts.removes, plan.remove_fails_at))
        return failed(path, EIO);
    return unlink(path) == 0 ? PLAT_FILE_OK : failed(path, errno);
}

bool plat_file_exists(const char *path)
{
    struct stat st;
    return stat(path, &st) == 0;
}

bool plat_dir_free_space(const char *, uint64_t *bytes)
{
    if (plan.free_space_unknown)
        return false;
    *bytes = free_bytes;
    return true;
}

bool plat_file_local_time(const char *path, PlatLocalTime *t)
{
    struct stat st;
    struct tm local;
    if (stat(path, &st) != 0 || localtime_r(&st.st_mtime, &local) == nullptr)
        return false;
    if (local.tm_year + 1900 < 1980 || local.tm_year + 1900 > 2107)
        return false;
    t->year = local.tm_year + 1900;
    t->month = local.tm_mon + 1;
    t->day = local.tm_mday;
    t->hour = local.tm_hour;
    t->minute = local.tm_min;
    t->second = (local.tm_sec > 59 ? 59 : local.tm_sec) & ~1;
    return true;
}
