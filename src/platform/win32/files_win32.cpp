// files_win32.cpp - the receiving side's files on Win32.
#include "platform/fs.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/os_reason.h"
#include "platform/unique_name.h"

constexpr int DOS_YEAR_BASE = 1980;

static PlatFileStatus failed(const char *what)
{
    DWORD err = GetLastError();
    plat_reason_note(what);
    SetLastError(err);
    return (err == ERROR_DISK_FULL || err == ERROR_HANDLE_DISK_FULL) ? PLAT_FILE_DISK_FULL
                                                                     : PLAT_FILE_FAILED;
}

static HANDLE handle_of(plat_file f) { return reinterpret_cast<HANDLE>(f); }

static plat_file file_of(HANDLE h) { return reinterpret_cast<plat_file>(h); }

PlatFileStatus plat_file_create_unique(const char *dir, char *path, int size, plat_file *out)
{
    *out = PLAT_FILE_NONE;
    // Tick count and process spread the names; CREATE_NEW alone makes them safe.
    unsigned seed = static_cast<unsigned>(GetCurrentProcessId()) * 7919u +
                    static_cast<unsigned>(GetTickCount());
    for (int i = 0; i < UNIQUE_TRIES; ++i) {
        if (!plat_unique_name(dir, seed, i, path, size))
            return PLAT_FILE_FAILED;
        HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            *out = file_of(h);
            return PLAT_FILE_OK;
        }
        DWORD err = GetLastError();
        if (err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS)
            break;
    }
    PlatFileStatus st = failed(path);
    path[0] = '\0';
    return st;
}

static PlatFileStatus open_existing(const char *path, DWORD access, DWORD share, plat_file *out)
{
    *out = PLAT_FILE_NONE;
    HANDLE h = CreateFileA(path, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return failed(path);
    *out = file_of(h);
    return PLAT_FILE_OK;
}

PlatFileStatus plat_file_open_read(const char *path, plat_file *out)
{
    return open_existing(path, GENERIC_READ, FILE_SHARE_READ, out);
}

PlatFileStatus plat_file_open_append(const char *path, plat_file *out)
{
    // Writes with FILE_APPEND_DATA alone always land at the end.
    return open_existing(path, FILE_APPEND_DATA | SYNCHRONIZE | FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ, out);
}

PlatFileStatus plat_file_write(plat_file f, const void *bytes, uint32_t n, const char *what)
{
    DWORD done = 0;
    if (!WriteFile(handle_of(f), bytes, n, &done, nullptr))
        return failed(what);
    if (done != n) {
        SetLastError(ERROR_DISK_FULL);   // a short write without a reason
        return failed(what);
    }
    return PLAT_FILE_OK;
}

PlatFileStatus plat_file_read(plat_file f, void *buf, uint32_t cap, uint32_t *got, const char *what)
{
    DWORD n = 0;
    *got = 0;
    if (!ReadFile(handle_of(f), buf, cap, &n, nullptr))
        return failed(what);
    *got = n;
    return PLAT_FILE_OK;
}

PlatFileStatus plat_file_size(plat_file f, uint64_t *bytes, const char *what)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle_of(f), &size))
        return failed(what);
    *bytes = static_cast<uint64_t>(size.QuadPart);
    return PLAT_FILE_OK;
}

PlatFileStatus plat_file_sync(plat_file f, const char *what)
{
    return FlushFileBuffers(handle_of(f)) ? PLAT_FILE_OK : failed(what);
}

PlatFileStatus plat_file_close(plat_file f, const char *what)
{
    return CloseHandle(handle_of(f)) ? PLAT_FILE_OK : failed(what);
}

PlatFileStatus plat_file_truncate(const char *path, uint64_t length)
{
    HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return failed(path);
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(length);
    PlatFileStatus st = PLAT_FILE_OK;
    if (!SetFilePointerEx(h, at, nullptr, FILE_BEGIN) || !SetEndOfFile(h) || !FlushFileBuffers(h))
        st = failed(path);
    if (!CloseHandle(h) && st == PLAT_FILE_OK)
        st = failed(path);
    return st;
}

PlatFileStatus plat_file_replace(const char *from, const char *to)
{
    if (!MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return failed(to);
    return PLAT_FILE_OK;
}

// The directory part of path with its separator (or a bare drive "C:"),
// "" for none.
static bool dir_part(const char *path, char *dir, size_t size)
{
    size_t n = 0;
    for (size_t i = 0; path[i] != '\0'; ++i)
        if (path[i] == '\\' || path[i] == '/' || (i == 1 && path[i] == ':'))
            n = i + 1;
    if (n >= size) {
        plat_reason_set(path, "path too long");
        return false;
    }
    std::memcpy(dir, path, n);
    dir[n] = '\0';
    return true;
}

PlatFileStatus plat_file_replace_keeping(const char *from, const char *to, char *backup, int size)
{
    backup[0] = '\0';
    if (!plat_file_exists(to))
        return plat_file_replace(from, to);
    char dir[MAX_PATH];
    if (!dir_part(to, dir, sizeof dir))
        return PLAT_FILE_FAILED;
    unsigned seed = static_cast<unsigned>(GetCurrentProcessId()) * 7919u +
                    static_cast<unsigned>(GetTickCount());
    for (int i = 0; i < UNIQUE_TRIES; ++i) {
        if (!plat_unique_name(dir, seed, i, backup, size))
            return PLAT_FILE_FAILED;
        if (plat_file_exists(backup))
            continue;   // someone else's: the replacement must not take it
        // The old file moves to the backup name and the new one takes its
        // place, with the old one's attributes and security.
        if (ReplaceFileA(to, from, backup, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
            return PLAT_FILE_OK;
        DWORD err = GetLastError();
        // The old file was moved aside but the new one could not follow:
        // the old one goes back.
        if (err == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 && !plat_file_exists(to))
            MoveFileExA(backup, to, MOVEFILE_WRITE_THROUGH);
        // Anything under the backup name now is a copy this call made.
        if (plat_file_exists(to) && plat_file_exists(backup))
            DeleteFileA(backup);
        SetLastError(err);
        PlatFileStatus st = failed(to);
        backup[0] = '\0';
        return st;
    }
    SetLastError(ERROR_FILE_EXISTS);
    PlatFileStatus st = failed(to);
    backup[0] = '\0';
    return st;
}

PlatFileStatus plat_file_remove(const char *path)
{
    return DeleteFileA(path) ? PLAT_FILE_OK : failed(path);
}

bool plat_file_exists(const char *path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool plat_dir_free_space(const char *dir, uint64_t *bytes)
{
    ULARGE_INTEGER avail, total, total_free;
    if (!GetDiskFreeSpaceExA(dir != nullptr && *dir != '\0' ? dir : nullptr, &avail, &total,
                             &total_free))
        return false;
    *bytes = avail.QuadPart;
    return true;
}

bool plat_file_local_time(const char *path, PlatLocalTime *t)
{
    WIN32_FILE_ATTRIBUTE_DATA info;
    FILETIME local;
    WORD date = 0, time = 0;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &info) ||
        !FileTimeToLocalFileTime(&info.ftLastWriteTime, &local) ||
        !FileTimeToDosDateTime(&local, &date, &time))
        return false;
    t->year = DOS_YEAR_BASE + (date >> 9);
    t->month = (date >> 5) & 0x0F;
    t->day = date & 0x1F;
    t->hour = time >> 11;
    t->minute = (time >> 5) & 0x3F;
    t->second = 2 * (time & 0x1F);
    return true;
}
