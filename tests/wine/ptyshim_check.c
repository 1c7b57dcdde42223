/*
 * ptyshim_check.c - checks ptyshim.so; run with the shim in LD_PRELOAD.
 *
 * Built like the shim for 64-bit and for 32-bit Linux.  The 32-bit build
 * uses 64-bit time_t (-D_TIME_BITS=64), so its ioctl calls go through
 * __ioctl_time64 as 32-bit Wine's do.  Prints "ptyshim: N passed, N failed"
 * and exits non-zero on a failure.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

static int passed, failed;

static void check(int ok, const char *what)
{
    ok ? ++passed : ++failed;
    printf("%s - %s\n", ok ? "ok" : "not ok", what);
}

/* Opens a new pty pair; returns the slave, stores the master. */
static int open_pair(int *master)
{
    *master = posix_openpt(O_RDWR | O_NOCTTY);
    if (*master < 0 || grantpt(*master) || unlockpt(*master))
        return -1;
    int slave = open(ptsname(*master), O_RDWR | O_NOCTTY);
    struct termios t;
    if (slave >= 0 && tcgetattr(slave, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
    }
    return slave;
}

static int lines(int fd)
{
    int v = -1;
    return ioctl(fd, TIOCMGET, &v) == 0 ? v : -1;
}

int main(void)
{
    int master, slave = open_pair(&master);
    if (slave < 0) {
        printf("ptyshim: cannot open a pseudo-terminal\n");
        return 2;
    }
    int all = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
    check(lines(slave) == all, "a fresh pty reads DTR RTS CTS DSR CD");

    int bit = TIOCM_RTS;
    ioctl(slave, TIOCMBIC, &bit);
    check(lines(slave) == (TIOCM_DTR | TIOCM_DSR | TIOCM_CD), "RTS off drops CTS");
    bit = TIOCM_DTR;
    ioctl(slave, TIOCMBIC, &bit);
    check(lines(slave) == 0, "DTR off drops DSR and CD");
    bit = TIOCM_RTS;
    ioctl(slave, TIOCMBIS, &bit);
    check(lines(slave) == (TIOCM_RTS | TIOCM_CTS), "RTS on raises CTS");
    bit = TIOCM_DTR | TIOCM_RI;
    ioctl(slave, TIOCMSET, &bit);
    check(lines(slave) == (TIOCM_DTR | TIOCM_DSR | TIOCM_CD), "TIOCMSET sets outputs only");

    /* Closing forgets the lines: the next pty, which may well get the
     * same descriptor and even the same device number, starts afresh. */
    close(slave);
    close(master);
    int master2, slave2 = open_pair(&master2);
    check(slave2 >= 0 && lines(slave2) == all, "a reopened pty starts with fresh lines");

    /* Everything else passes through unchanged. */
    write(master2, "ab", 2);
    usleep(20000);
    int queued = -1;
    check(ioctl(slave2, FIONREAD, &queued) == 0 && queued == 2, "FIONREAD passes through");
    int p[2];
    if (pipe(p) == 0) {
        int v;
        errno = 0;
        check(ioctl(p[0], TIOCMGET, &v) == -1 && errno == ENOTTY,
              "TIOCMGET on a pipe still fails with ENOTTY");
    }
    printf("ptyshim: %d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
