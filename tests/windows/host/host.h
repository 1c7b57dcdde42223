/*
 * host.h - shared declarations of the Windows test host (see host.c).
 */
#ifndef ORV5_WIN_HOST_H
#define ORV5_WIN_HOST_H

#include <windows.h>
#include <stddef.h>

/* The exports, bound by name at run time.  WINAPI matters on i686: the
 * library's functions are stdcall, and a mismatch would corrupt the stack. */
typedef int(WINAPI *exec_fn)(HWND owner, const char *text, char *name_buf);
typedef int(WINAPI *abort_fn)(void);
typedef char *(WINAPI *version_fn)(char *buf);

extern exec_fn host_exec;
extern abort_fn host_abort;
extern version_fn host_version;

/* The library needs 13 bytes (8 + 4 name characters + NUL); the rest
 * catches overruns. */
enum { HOST_NAME_USED = 13, HOST_NAME_BUF = 64 };

/* Exit codes of the host's own failures, above every result code. */
enum { HOST_FAILED = 100, HOST_USAGE = 101 };

void host_print_result(int result, const char *name_buf);
void host_reset_name(char *name_buf, size_t size);

int host_suite(void);                           /* suite.c: failures */
int host_abort_after(int ms, const char *text); /* session.c */
int host_nested(const char *text, int then_abort);
int host_abort_first(const char *text);
int host_watch(int interval_ms, const char *text);

#endif
