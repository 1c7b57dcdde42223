// file_check.cpp - the Win32 file layer of the receiving side, in a fresh
// folder under the temporary directory.  Returns the number of failed checks.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/fs.h"

namespace {

int file_failures = 0;

#define FCHECK(cond) \
  do { \
    if (!(cond)) { \
      std::printf("FAIL %s:%d: %s\n", __FILE__, __LINE__, #cond); \
      ++file_failures; \
    } \
  } while (0)

bool put(const char *path, const char *text)
{
    HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD n = 0;
    BOOL ok = WriteFile(h, text, static_cast<DWORD>(std::strlen(text)), &n, nullptr);
    CloseHandle(h);
    return ok != 0;
}

// The file's content (at most 63 bytes), "" when it cannot be read.
const char *content(const char *path)
{
    static char buf[64];
    buf[0] = '\0';
    plat_file f;
    uint32_t got = 0;
    if (plat_file_open_read(path, &f) != PLAT_FILE_OK)
        return buf;
    plat_file_read(f, buf, sizeof buf - 1, &got, path);
    buf[got] = '\0';
    plat_file_close(f, path);
    return buf;
}

}   // namespace

int check_files()
{
    char dir[MAX_PATH], a[MAX_PATH], b[MAX_PATH], target[MAX_PATH];
    GetTempPathA(sizeof dir, dir);
    std::snprintf(dir + std::strlen(dir), 40, "orv5files%lu\\", GetCurrentProcessId());
    CreateDirectoryA(dir, nullptr);

    plat_file fa, fb;
    FCHECK(plat_file_create_unique(dir, a, sizeof a, &fa) == PLAT_FILE_OK);
    FCHECK(plat_file_create_unique(dir, b, sizeof b, &fb) == PLAT_FILE_OK);
    FCHECK(std::strcmp(a, b) != 0);
    FCHECK(std::strchr(a + std::strlen(dir), '.') == nullptr);
    FCHECK(plat_file_write(fa, "abcd\r\n", 6, a) == PLAT_FILE_OK);
    FCHECK(plat_file_sync(fa, a) == PLAT_FILE_OK);
    uint64_t size = 0;
    FCHECK(plat_file_size(fa, &size, a) == PLAT_FILE_OK && size == 6);
    FCHECK(plat_file_close(fa, a) == PLAT_FILE_OK);
    FCHECK(plat_file_close(fb, b) == PLAT_FILE_OK);

    std::snprintf(target, sizeof target, "%sDATA.TXT", dir);
    plat_file f;
    FCHECK(plat_file_open_append(target, &f) == PLAT_FILE_FAILED);   // never creates
    FCHECK(!plat_file_exists(target));
    FCHECK(put(target, "old"));
    FCHECK(plat_file_open_append(target, &f) == PLAT_FILE_OK);
    FCHECK(plat_file_write(f, "new", 3, target) == PLAT_FILE_OK);
    FCHECK(plat_file_close(f, target) == PLAT_FILE_OK);
    FCHECK(std::strcmp(content(target), "oldnew") == 0);
    FCHECK(plat_file_truncate(target, 3) == PLAT_FILE_OK);
    FCHECK(std::strcmp(content(target), "old") == 0);

    FCHECK(plat_file_replace(a, target) == PLAT_FILE_OK);   // over an existing file
    FCHECK(std::strcmp(content(target), "abcd\r\n") == 0);
    FCHECK(!plat_file_exists(a));

    // Replacing while keeping the old file aside, then putting it back.
    char backup[MAX_PATH], fresh[MAX_PATH];
    FCHECK(plat_file_create_unique(dir, a, sizeof a, &fa) == PLAT_FILE_OK);
    FCHECK(plat_file_write(fa, "new", 3, a) == PLAT_FILE_OK);
    FCHECK(plat_file_close(fa, a) == PLAT_FILE_OK);
    FCHECK(plat_file_replace_keeping(a, target, backup, sizeof backup) == PLAT_FILE_OK);
    FCHECK(std::strcmp(content(target), "new") == 0);
    FCHECK(!plat_file_exists(a));
    FCHECK(std::strncmp(backup, dir, std::strlen(dir)) == 0);
    FCHECK(std::strcmp(content(backup), "abcd\r\n") == 0);
    FCHECK(plat_file_replace(backup, target) == PLAT_FILE_OK);
    FCHECK(std::strcmp(content(target), "abcd\r\n") == 0);
    FCHECK(!plat_file_exists(backup));
    // The replacement is missing: the target stays, no backup is left.
    FCHECK(plat_file_replace_keeping(a, target, backup, sizeof backup) == PLAT_FILE_FAILED);
    FCHECK(backup[0] == '\0');
    FCHECK(std::strcmp(content(target), "abcd\r\n") == 0);
    // Nothing there before: no backup.
    std::snprintf(fresh, sizeof fresh, "%sFRESH.TXT", dir);
    FCHECK(plat_file_create_unique(dir, a, sizeof a, &fa) == PLAT_FILE_OK);
    FCHECK(plat_file_close(fa, a) == PLAT_FILE_OK);
    FCHECK(plat_file_replace_keeping(a, fresh, backup, sizeof backup) == PLAT_FILE_OK);
    FCHECK(backup[0] == '\0' && plat_file_exists(fresh) && !plat_file_exists(a));
    FCHECK(plat_file_remove(fresh) == PLAT_FILE_OK);

    uint64_t free_bytes = 0;
    FCHECK(plat_dir_free_space(dir, &free_bytes) && free_bytes > 0);
    FCHECK(plat_dir_free_space("", &free_bytes) && free_bytes > 0);
    PlatLocalTime t;
    FCHECK(plat_file_local_time(target, &t) && t.year >= 2020 && t.second % 2 == 0);

    FCHECK(plat_file_remove(target) == PLAT_FILE_OK);
    FCHECK(plat_file_remove(b) == PLAT_FILE_OK);
    FCHECK(plat_file_remove(b) == PLAT_FILE_FAILED);
    FCHECK(RemoveDirectoryA(dir));
    return file_failures;
}
