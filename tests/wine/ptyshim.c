/*
 * ptyshim.c - LD_PRELOAD shim that gives pseudo-terminals modem lines.
 *
 * A pseudo-terminal has no modem-control lines: TIOCMGET, TIOCMBIS,
 * TIOCMBIC and TIOCMSET fail on it with ENOTTY (or EINVAL).  Wine maps a
 * failed TIOCMGET to a failed GetCommModemStatus, and the library's serial
 * channel then refuses to write.  Preloaded into Wine, this shim answers
 * those four requests for any terminal device whose driver rejects them,
 * keeping one line state per file descriptor, so the Win32 serial code runs
 * unchanged against a pty in the tests.
 *
 * Emulated wiring: the far end echoes our outputs back as its outputs, as a
 * null-modem cable with loop-back handshake would: RTS drives CTS, DTR
 * drives DSR and CD.  RI is never on.
 *
 * close() is hooked too, so that a reopened port starts afresh.
 *
 * Both entry points are hooked: glibc's ioctl, and __ioctl_time64, which
 * 32-bit programs built with 64-bit time_t (32-bit Wine's ntdll) call
 * instead.  Built once per architecture (gcc -m64 / -m32, -shared -fPIC).
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <termios.h>
#include <unistd.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

/* Highest descriptor tracked + 1.  Wine opens COM ports early and rarely
 * holds more than a few hundred descriptors; anything above is passed on. */
enum { SHIM_MAX_FDS = 4096 };

struct line_state {
    dev_t dev;      /* device the state belongs to; a reused fd resets it */
    int known;      /* 1 once dev is set */
    int outputs;    /* TIOCM_DTR | TIOCM_RTS as last set by the program */
};

static struct line_state shim_lines[SHIM_MAX_FDS];
static pthread_mutex_t shim_lock = PTHREAD_MUTEX_INITIALIZER;

static ioctl_fn real_ioctl_fn(void)
{
    static ioctl_fn fn;
    if (!fn)
        fn = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
    return fn;
}

static ioctl_fn real_ioctl_time64_fn(void)
{
    static ioctl_fn fn;
    static int looked;
    if (!looked) {
        fn = (ioctl_fn)dlsym(RTLD_NEXT, "__ioctl_time64");
        looked = 1;
    }
    return fn ? fn : real_ioctl_fn();
}

static int is_modem_request(unsigned long req)
{
    return req == TIOCMGET || req == TIOCMBIS || req == TIOCMBIC || req == TIOCMSET;
}

/* The lines the program reads: its own outputs plus the looped-back inputs. */
static int visible_lines(int outputs)
{
    int v = outputs & (TIOCM_DTR | TIOCM_RTS);
    if (outputs & TIOCM_RTS)
        v |= TIOCM_CTS;
    if (outputs & TIOCM_DTR)
        v |= TIOCM_DSR | TIOCM_CD;
    return v;
}

/* Answers a modem-line request on a terminal without modem lines.
 * Returns 0 or -1 with errno, like ioctl. */
static int emulate(int fd, unsigned long req, int *arg)
{
    struct stat st;
    if (fd < 0 || fd >= SHIM_MAX_FDS || fstat(fd, &st) != 0 || !arg) {
        errno = EINVAL;
        return -1;
    }
    pthread_mutex_lock(&shim_lock);
    struct line_state *ls = &shim_lines[fd];
    if (!ls->known || ls->dev != st.st_rdev) {
        /* A freshly opened port: DTR and RTS on, as a serial driver
         * raises them on open. */
        ls->known = 1;
        ls->dev = st.st_rdev;
        ls->outputs = TIOCM_DTR | TIOCM_RTS;
    }
    int set = *arg & (TIOCM_DTR | TIOCM_RTS);
    switch (req) {
    case TIOCMGET: *arg = visible_lines(ls->outputs); break;
    case TIOCMBIS: ls->outputs |= set; break;
    case TIOCMBIC: ls->outputs &= ~set; break;
    default:       ls->outputs = set; break; /* TIOCMSET */
    }
    pthread_mutex_unlock(&shim_lock);
    return 0;
}

/* A closed descriptor forgets its lines: the next open of a port, even of
 * the same device, starts with DTR and RTS on again. */
int close(int fd)
{
    static int (*real_close)(int);
    if (!real_close)
        real_close = (int (*)(int))dlsym(RTLD_NEXT, "close");
    if (fd >= 0 && fd < SHIM_MAX_FDS) {
        pthread_mutex_lock(&shim_lock);
        shim_lines[fd].known = 0;
        pthread_mutex_unlock(&shim_lock);
    }
    return real_close ? real_close(fd) : (errno = ENOSYS, -1);
}

static int shim_ioctl(ioctl_fn real, int fd, unsigned long req, void *arg)
{
    if (!real) {
        errno = ENOSYS;
        return -1;
    }
    int rc = real(fd, req, arg);
    if (rc == 0 || !is_modem_request(req))
        return rc;
    int err = errno;
    if ((err == ENOTTY || err == EINVAL) && isatty(fd))
        return emulate(fd, req, (int *)arg);
    errno = err;
    return rc;
}

/* Every ioctl request passes at most one pointer-sized argument. */
int ioctl(int fd, unsigned long req, ...)
{
    va_list ap;
    va_start(ap, req);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    return shim_ioctl(real_ioctl_fn(), fd, req, arg);
}

int __ioctl_time64(int fd, unsigned long req, ...);
int __ioctl_time64(int fd, unsigned long req, ...)
{
    va_list ap;
    va_start(ap, req);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    return shim_ioctl(real_ioctl_time64_fn(), fd, req, arg);
}
