// file_ops_posix.h - the POSIX file operations behind platform/fs.h.
//
// files_posix.cpp hands them to the library as the plat_file_* calls; the
// simulated platform (sim/sim_fs.cpp) calls the same functions, with its
// fault plan deciding before and after each, so that every file operation
// is written once.  Each does what fs.h says of its plat_file_* namesake:
// a failure keeps the system's reason (plat_reason_note) and a full disk
// (or quota) is told apart from every other failure.
#pragma once

#include <cstdint>

#include "platform/fs.h"

// A seed that spreads the fresh names of this process over the whole name
// space (clock and process id); the exclusive creation alone makes a name
// safe.
unsigned posix_unique_seed();

// The fresh names are tried from seed on (platform/unique_name.h).
PlatFileStatus posix_file_create_unique(const char *dir, unsigned seed, char *path, int size,
                                        plat_file *out);
PlatFileStatus posix_file_open_read(const char *path, plat_file *out);
PlatFileStatus posix_file_open_append(const char *path, plat_file *out);
PlatFileStatus posix_file_write(plat_file f, const void *bytes, uint32_t n, const char *what);
PlatFileStatus posix_file_read(plat_file f, void *buf, uint32_t cap, uint32_t *got,
                               const char *what);
PlatFileStatus posix_file_size(plat_file f, uint64_t *bytes, const char *what);
PlatFileStatus posix_file_sync(plat_file f, const char *what);
PlatFileStatus posix_file_close(plat_file f, const char *what);
PlatFileStatus posix_file_truncate(const char *path, uint64_t length);
PlatFileStatus posix_file_replace(const char *from, const char *to);
// The backup's fresh name is tried from seed on.
PlatFileStatus posix_file_replace_keeping(const char *from, const char *to, unsigned seed,
                                          char *backup, int size);
PlatFileStatus posix_file_remove(const char *path);
bool posix_file_exists(const char *path);
bool posix_dir_free_space(const char *dir, uint64_t *bytes);
bool posix_file_local_time(const char *path, PlatLocalTime *t);
