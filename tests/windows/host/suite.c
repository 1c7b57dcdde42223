/*
 * suite.c - checks of the exports that need no serial port.
 *
 * Each check prints "ok - ..." or "not ok - ...", the last line is
 * "N passed, N failed".  Run from an empty working directory: the
 * missing-file checks rely on it.
 */
#include <stdio.h>
#include <string.h>

#include "host.h"

/* Longest command text the library accepts: its 1024-byte command line
 * minus argv[0] "orvw.exe" (8 characters). */
enum { TEXT_LIMIT = 1024 - 8 };

static int passed, failed;

static void check(int ok, const char *what, int got)
{
    if (ok)
        ++passed;
    else
        ++failed;
    printf("%s - %s (got %d)\n", ok ? "ok" : "not ok", what, got);
}

static int exec_text(const char *text)
{
    char name[HOST_NAME_BUF];
    host_reset_name(name, sizeof name);
    return host_exec(NULL, text, name);
}

static void expect(const char *text, int want, const char *what)
{
    int got = exec_text(text);
    check(got == want, what, got);
}

static void check_version(void)
{
    char buf[16];
    memset(buf, 0x5A, sizeof buf);
    char *r = host_version(buf);
    int text_ok = memcmp(buf, "1.01S", 6) == 0;
    int tail_ok = 1;
    for (size_t i = 6; i < sizeof buf; ++i)
        tail_ok &= buf[i] == 0x5A;
    check(r == buf, "GetOrv5DllVersion returns its argument", r == buf);
    check(text_ok, "GetOrv5DllVersion writes \"1.01S\"", text_ok);
    check(tail_ok, "GetOrv5DllVersion writes 6 bytes only", tail_ok);
}

static void check_idle_abort(void)
{
    int a1 = host_abort();
    int a2 = host_abort();
    check(a1 == 0 && a2 == 0, "AbortOrv5 while idle returns 0", a1 ? a1 : a2);
    /* The stale request must not reach the next session: it still fails
     * in the way its text decides, not with 90. */
    expect("-Q", 9, "a session after an idle abort is not aborted");
}

static void check_command_errors(void)
{
    expect("", 9, "empty text gives 9");
    expect("-Q", 9, "unknown option letter gives 9");
    expect("-%", 99, "option character that is no letter gives 99");
    expect("-%x", 9, "stray characters after an option give 9");
    expect("ZZNOFILE.TXT", 1, "missing file to send gives 1");
    expect("-R", 1, "sending without a file name gives 1");
    expect("TOOLONGNAME.TXT", 2, "name longer than 8.3 gives 2");
    expect("+R -P0", 75, "COM0 cannot be opened: 75");
    expect("+R -P98", 75, "an absent COM98 gives 75");
}

/* Fills text with `len` characters: `head` followed by blanks. */
static void padded(char *text, const char *head, size_t len)
{
    size_t h = strlen(head);
    memcpy(text, head, h);
    memset(text + h, ' ', len - h);
    text[len] = 0;
}

static void check_length_limit(void)
{
    static char text[TEXT_LIMIT + 2];
    padded(text, "+R -P0", TEXT_LIMIT);
    expect(text, 75, "text of exactly 1016 characters is parsed");
    padded(text, "+R -P0", TEXT_LIMIT + 1);
    expect(text, 9, "text of 1017 characters gives 9");
    expect("+R -P0", 75, "the call after a refused text runs normally");

    /* The most tokens a text can hold: 508 one-letter file names.  The
     * second name is refused; nothing may overflow on the way. */
    for (size_t i = 0; i < TEXT_LIMIT; i += 2)
        memcpy(text + i, "A ", 2);
    text[TEXT_LIMIT] = 0;
    expect(text, 2, "508 tokens fit; the second file name gives 2");
}

static void check_name_buffer(void)
{
    char name[HOST_NAME_BUF];
    host_reset_name(name, sizeof name);
    host_exec(NULL, "-Q", name);
    int untouched = strcmp(name, "-") == 0;
    check(untouched, "a refused text leaves the name buffer alone", untouched);
}

/* A stdcall/cdecl mismatch on i686 shifts the stack by the argument bytes
 * on every call; after a few hundred calls in one frame the host's locals
 * or return address are most likely overwritten. */
static void check_repeated_calls(void)
{
    int bad = 0;
    for (int i = 0; i < 300; ++i) {
        char name[HOST_NAME_BUF];
        host_reset_name(name, sizeof name);
        bad += host_exec(NULL, "-Q", name) != 9;
        bad += host_abort() != 0;
    }
    check(bad == 0, "300 calls in a row give stable results", bad);
}

/* Null pointers are bad input: any error code will do, a crash will not.
 * Run last, so that a crash does not hide the other results. */
static void check_null_arguments(void)
{
    int r = host_exec(NULL, "-Q", NULL);
    check(r != 0, "null name buffer with a bad text is refused", r);
    r = host_exec(NULL, NULL, NULL);
    check(r != 0, "null text is refused", r);
}

int host_suite(void)
{
    check_version();
    check_idle_abort();
    check_command_errors();
    check_length_limit();
    check_name_buffer();
    check_repeated_calls();
    check_null_arguments();
    printf("%d passed, %d failed\n", passed, failed);
    return failed;
}
