/*
 * host.c - Windows test host for Orv5w32.dll, run under Wine.
 *
 * Loads the library by path with LoadLibraryA and reaches its three exports
 * only through GetProcAddress, the way a real host binds them, so the
 * export names and the calling convention of each build are tested too.
 *
 *   orv5_win_host DLL suite               port-free checks; "N passed, N failed"
 *   orv5_win_host DLL version             prints the version text
 *   orv5_win_host DLL exec TEXT           one session; prints result and name
 *   orv5_win_host DLL abort-idle [TEXT]   AbortOrv5 while idle, then a session
 *   orv5_win_host DLL abort-after MS TEXT a second thread aborts after MS ms
 *   orv5_win_host DLL nested TEXT [abort] a window procedure calls ExecOrv5
 *                                         (and AbortOrv5) during the session
 *   orv5_win_host DLL abort-first TEXT    a message handled by the library's
 *                                         first pump calls AbortOrv5
 *   orv5_win_host DLL watch MS TEXT       samples the progress window every
 *                                         MS ms from inside the session
 *
 * Output is one "key=value ..." line per event, unbuffered, so a script can
 * follow it while the session runs.  The exit status is the session's
 * result code (suite: 0 when every check passed, else 1; 100 and up: the
 * host itself failed).
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "host.h"

exec_fn host_exec;
abort_fn host_abort;
version_fn host_version;

static int load_library(const char *path)
{
    HMODULE dll = LoadLibraryA(path);
    if (!dll) {
        printf("error=load-library path=\"%s\" code=%lu\n", path, GetLastError());
        return 0;
    }
    host_exec = (exec_fn)(void (*)(void))GetProcAddress(dll, "ExecOrv5");
    host_abort = (abort_fn)(void (*)(void))GetProcAddress(dll, "AbortOrv5");
    host_version = (version_fn)(void (*)(void))GetProcAddress(dll, "GetOrv5DllVersion");
    if (!host_exec || !host_abort || !host_version) {
        printf("error=missing-export exec=%d abort=%d version=%d\n", host_exec != NULL,
               host_abort != NULL, host_version != NULL);
        return 0;
    }
    return 1;
}

/* Prints the result, the name and whether anything was written past the
 * 13 bytes the library may use ("spill=1": an overrun of a caller's
 * buffer).  name_buf is one of HOST_NAME_BUF bytes, reset by
 * host_reset_name. */
void host_print_result(int result, const char *name_buf)
{
    int spill = 0;
    for (int i = HOST_NAME_USED; i < HOST_NAME_BUF; ++i)
        spill |= name_buf[i] != 0;
    printf("result=%d name=\"%s\" spill=%d\n", result, name_buf, spill);
}

/* A name buffer that shows whether the library wrote into it. */
void host_reset_name(char *name_buf, size_t size)
{
    memset(name_buf, 0, size);
    strcpy(name_buf, "-");
}

static int cmd_version(void)
{
    char buf[16];
    memset(buf, 'x', sizeof buf);
    char *r = host_version(buf);
    printf("version=\"%.6s\" returned-argument=%d\n", buf, r == buf);
    return (r == buf && strcmp(buf, "1.01S") == 0) ? 0 : 1;
}

static int cmd_exec(const char *text)
{
    char name[HOST_NAME_BUF];
    host_reset_name(name, sizeof name);
    int result = host_exec(NULL, text, name);
    host_print_result(result, name);
    return result;
}

static int cmd_abort_idle(const char *text)
{
    int a = host_abort();
    printf("abort=%d\n", a);
    if (a != 0)
        return HOST_FAILED;
    return text ? cmd_exec(text) : 0;
}

static void usage(void)
{
    printf(
        "usage: orv5_win_host DLL suite|version|exec TEXT|abort-idle [TEXT]|"
        "abort-after MS TEXT|nested TEXT [abort]|abort-first TEXT|watch MS TEXT\n");
}

int main(int argc, char **argv)
{
    /* Scripts read this output while the session runs: no buffering. */
    setvbuf(stdout, NULL, _IONBF, 0);
    if (argc < 3) {
        usage();
        return HOST_USAGE;
    }
    if (!load_library(argv[1]))
        return HOST_FAILED;
    const char *cmd = argv[2];
    if (!strcmp(cmd, "suite"))
        return host_suite() == 0 ? 0 : 1;
    if (!strcmp(cmd, "version"))
        return cmd_version();
    if (!strcmp(cmd, "exec") && argc == 4)
        return cmd_exec(argv[3]);
    if (!strcmp(cmd, "abort-idle") && (argc == 3 || argc == 4))
        return cmd_abort_idle(argc == 4 ? argv[3] : NULL);
    if (!strcmp(cmd, "abort-after") && argc == 5)
        return host_abort_after(atoi(argv[3]), argv[4]);
    if (!strcmp(cmd, "nested") && (argc == 4 || argc == 5))
        return host_nested(argv[3], argc == 5 && !strcmp(argv[4], "abort"));
    if (!strcmp(cmd, "abort-first") && argc == 4)
        return host_abort_first(argv[3]);
    if (!strcmp(cmd, "watch") && argc == 5)
        return host_watch(atoi(argv[3]), argv[4]);
    usage();
    return HOST_USAGE;
}
