// sim_fs.cpp - the simulated file system: real files in the folders the tests
// name, handled by the POSIX file operations (posix/file_ops_posix.cpp),
// with faults injected by plan (sim::FsFaults) before or after each.  Paths
// use '/' only and there are no drives; free space is what the test says.
#include <cerrno>

#include <map>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/os_reason.h"
#include "platform/posix/file_ops_posix.h"
#include "platform/sim/sim_internal.h"

namespace sim {

namespace {
constexpr uint64_t PLENTY_FREE = UINT64_MAX / 4;
FsFaults plan;
FsCounts counts;
uint64_t free_bytes = PLENTY_FREE;
unsigned unique_serial;                // seeds of the successive fresh names of one test run
std::vector<std::string> handed_out;   // paths of the files handed out, in order
std::map<int, int> ordinal_of_fd;      // open descriptor -> its place in handed_out (1-based)
}   // namespace

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

}   // namespace sim

using namespace sim;

// Counts a call and tells whether the plan makes it fail.
static bool planned_failure(int &count, int fails_at)
{
    ++count;
    return fails_at > 0 && count == fails_at;
}

// A failure the plan injects: the reason as the system would give it.
static PlatFileStatus injected(const char *what, int err)
{
    errno = err;
    plat_reason_note(what);
    return err == ENOSPC ? PLAT_FILE_DISK_FULL : PLAT_FILE_FAILED;
}

static int fd_of(plat_file f) { return static_cast<int>(f); }

// Notes a file handed out to the library.
static void hand_out(plat_file f, const char *path)
{
    ++counts.open_files;
    handed_out.emplace_back(path);
    ordinal_of_fd[fd_of(f)] = static_cast<int>(handed_out.size());
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
        return injected(dir, EIO);
    }
    // Successive seeds: the names of a run are the same every time.
    PlatFileStatus st = posix_file_create_unique(dir, unique_serial++, path, size, out);
    if (st == PLAT_FILE_OK)
        hand_out(*out, path);
    return st;
}

// Opens with open_fn unless the plan makes the open fail.
static PlatFileStatus open_existing(const char *path, plat_file *out,
                                    PlatFileStatus (*open_fn)(const char *, plat_file *))
{
    *out = PLAT_FILE_NONE;
    if (planned_failure(counts.opens, plan.open_fails_at))
        return injected(path, EIO);
    PlatFileStatus st = open_fn(path, out);
    if (st == PLAT_FILE_OK)
        hand_out(*out, path);
    return st;
}

PlatFileStatus plat_file_open_read(const char *path, plat_file *out)
{
    return open_existing(path, out, posix_file_open_read);
}

PlatFileStatus plat_file_open_append(const char *path, plat_file *out)
{
    return open_existing(path, out, posix_file_open_append);
}

PlatFileStatus plat_file_write(plat_file f, const void *bytes, uint32_t n, const char *what)
{
    if (planned_failure(counts.writes, plan.write_fails_at))
        return injected(what, EIO);
    // A disk that fills up takes the bytes that fit, then refuses.
    uint32_t fits = n;
    if (plan.full_after_bytes >= 0) {
        uint64_t limit = static_cast<uint64_t>(plan.full_after_bytes);
        uint64_t room = limit > counts.bytes_written ? limit - counts.bytes_written : 0;
        if (room < fits)
            fits = static_cast<uint32_t>(room);
    }
    if (fits > 0) {
        PlatFileStatus st = posix_file_write(f, bytes, fits, what);
        if (st != PLAT_FILE_OK)
            return st;
        counts.bytes_written += fits;
    }
    return fits == n ? PLAT_FILE_OK : injected(what, ENOSPC);
}

PlatFileStatus plat_file_read(plat_file f, void *buf, uint32_t cap, uint32_t *got, const char *what)
{
    *got = 0;
    if (planned_failure(counts.reads, plan.read_fails_at))
        return injected(what, EIO);
    return posix_file_read(f, buf, cap, got, what);
}

PlatFileStatus plat_file_size(plat_file f, uint64_t *bytes, const char *what)
{
    return posix_file_size(f, bytes, what);
}

PlatFileStatus plat_file_sync(plat_file f, const char *what)
{
    if (planned_failure(counts.syncs, plan.sync_fails_at) ||
        planned_for_file(f, plan.sync_fails_on_file))
        return injected(what, EIO);
    return posix_file_sync(f, what);
}

PlatFileStatus plat_file_close(plat_file f, const char *what)
{
    // A failing close still closes the file.
    bool fails = planned_failure(counts.closes, plan.close_fails_at) ||
                 planned_for_file(f, plan.close_fails_on_file);
    ordinal_of_fd.erase(fd_of(f));
    --counts.open_files;
    PlatFileStatus st = posix_file_close(f, what);
    if (st != PLAT_FILE_OK)
        return st;
    return fails ? injected(what, EIO) : PLAT_FILE_OK;
}

PlatFileStatus plat_file_truncate(const char *path, uint64_t length)
{
    if (planned_failure(counts.truncates, plan.truncate_fails_at))
        return injected(path, EIO);
    return posix_file_truncate(path, length);
}

PlatFileStatus plat_file_replace(const char *from, const char *to)
{
    if (planned_failure(counts.replaces, plan.replace_fails_at))
        return injected(to, EIO);
    return posix_file_replace(from, to);
}

PlatFileStatus plat_file_replace_keeping(const char *from, const char *to, char *backup, int size)
{
    backup[0] = '\0';
    if (planned_failure(counts.replaces, plan.replace_fails_at))
        return injected(to, EIO);
    return posix_file_replace_keeping(from, to, unique_serial++, backup, size);
}

PlatFileStatus plat_file_remove(const char *path)
{
    if (planned_failure(counts.removes, plan.remove_fails_at))
        return injected(path, EIO);
    return posix_file_remove(path);
}

bool plat_file_exists(const char *path) { return posix_file_exists(path); }

bool plat_dir_free_space(const char *, uint64_t *bytes)
{
    if (plan.free_space_unknown)
        return false;
    *bytes = free_bytes;
    return true;
}

bool plat_file_local_time(const char *path, PlatLocalTime *t)
{
    return posix_file_local_time(path, t);
}
