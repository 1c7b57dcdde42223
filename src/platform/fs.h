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

// --- files written by the receiving side -----------------------------------
//
// Every call that fails keeps the system's reason with plat_reason_note,
// naming the path (or the what text given for an open file).  A full disk
// (or quota) is told apart from every other failure, because a session
// reports the two with different result codes.

using plat_file = intptr_t;   // HANDLE on Win32, descriptor elsewhere
constexpr plat_file PLAT_FILE_NONE = -1;

enum PlatFileStatus {
    PLAT_FILE_OK = 0,
    PLAT_FILE_FAILED = 1,      // any failure but a full disk
    PLAT_FILE_DISK_FULL = 2,   // no space left (or quota reached)
};

// Creates a new empty file under a fresh name in dir (a directory ending in
// a separator, or "" for the current one), opened for reading and writing.
// The name has no extension and never belongs to an existing file (the
// creation is exclusive).  The full path goes to path (size bytes).
PlatFileStatus plat_file_create_unique(const char *dir, char *path, int size, plat_file *out);

// Opens an existing file for reading; never creates one.
PlatFileStatus plat_file_open_read(const char *path, plat_file *out);

// Opens an existing file for writing at its end; never creates one.
PlatFileStatus plat_file_open_append(const char *path, plat_file *out);

// Writes all n bytes or fails: a write that stops short is a failure.
PlatFileStatus plat_file_write(plat_file f, const void *bytes, uint32_t n, const char *what);

// Reads up to cap bytes; *got is 0 at the end of the file.
PlatFileStatus plat_file_read(plat_file f, void *buf, uint32_t cap, uint32_t *got,
                              const char *what);

// The file's length in bytes.
PlatFileStatus plat_file_size(plat_file f, uint64_t *bytes, const char *what);

// Hands everything written so far to the disk and waits until it is there.
PlatFileStatus plat_file_sync(plat_file f, const char *what);

// Closes f; the handle is gone whatever the result.
PlatFileStatus plat_file_close(plat_file f, const char *what);

// Cuts the file at path back to length bytes and waits until that is on
// the disk.
PlatFileStatus plat_file_truncate(const char *path, uint64_t length);

// Puts the file from in the place of to, replacing a file already there in
// one step (to is either the old or the new file, never missing or mixed),
// and waits until the change is on the disk.  A replaced file's access
// permissions pass on to the new one.
PlatFileStatus plat_file_replace(const char *from, const char *to);

// plat_file_replace that keeps the file it replaces: a file at to stays on
// the disk under a fresh name in to's directory (no extension, like
// plat_file_create_unique's), written to backup (size bytes), so that a
// later step that fails can put it back with plat_file_replace(backup, to);
// once it is not needed, plat_file_remove(backup).  backup is "" when there
// was no file at to.  On failure to holds what it held before and no
// backup exists (from may be gone).
PlatFileStatus plat_file_replace_keeping(const char *from, const char *to, char *backup, int size);

PlatFileStatus plat_file_remove(const char *path);

bool plat_file_exists(const char *path);

// Bytes free for this user on the file system holding dir ("" = the current
// directory); false when the platform cannot tell.
bool plat_dir_free_space(const char *dir, uint64_t *bytes);

// A file's last-write time in local time, in the resolution of a DOS time
// stamp: years 1980 to 2107, seconds even.
struct PlatLocalTime {
    int year, month, day;       // month 1..12, day 1..31
    int hour, minute, second;   // second 0..58, even
};
// False when the file or its time cannot be had, or the time lies outside
// the DOS range.
bool plat_file_local_time(const char *path, PlatLocalTime *t);
