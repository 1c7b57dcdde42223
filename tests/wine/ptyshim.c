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
 * With PTYSHIM_LOG naming a file, the shim also records what a program
 * does to its terminal lines, one line per event, appended, each starting
 * with a CLOCK_MONOTONIC time stamp in microseconds and the descriptor:
 *
 *   T FD lines REQ MASK RTS=r DTR=d   a modem-line request (BIS, BIC,
 *                                SET) for the lines MASK (RTS, DTR, RTS+DTR
 *                                or -) on an emulated port, with the lines
 *                                after it
 *   T FD speed OLD NEW           the output speed changed (bit/s)
 *   T FD write HEX               bytes written to a terminal
 *   T FD drain                   tcdrain
 *   T FD flush in|out|both       tcflush
 *
 * Speeds are seen through tcsetattr and the TCSETS ioctls, writes through
 * write() and writev().  For tests of failure paths, PTYSHIM_FAIL_WRITES=1 makes writes
 * to a terminal fail and PTYSHIM_FAIL_LINES=1 makes modem-line requests on
 * an emulated port fail, both with EIO (looked up at every call, so a
 * test may switch them while it runs).  Test programs may append lines of their own ("mark ...") to
 * the same file to bracket what they look at.
 *
 * Both entry points are hooked: glibc's ioctl, and __ioctl_time64, which
 * 32-bit programs built with 64-bit time_t (32-bit Wine's ntdll) call
 * instead.  Built once per architecture (gcc -m64 / -m32, -shared -fPIC).
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

/* Highest descriptor tracked + 1.  Wine opens COM ports early and rarely
 * holds more than a few hundred descriptors; anything above is passed on. */
enum { SHIM_MAX_FDS = 4096 };

struct line_state {
    dev_t dev;   /* device the state belongs to; a reused fd resets it */
    int known;   /* 1 once dev is set */
    int outputs; /* TIOCM_DTR | TIOCM_RTS as last set by the program */
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

typedef ssize_t (*write_fn)(int, const void *, size_t);

static write_fn real_write_fn(void)
{
    static write_fn fn;
    if (!fn)
        fn = (write_fn)dlsym(RTLD_NEXT, "write");
    return fn;
}

/* ---- event log (PTYSHIM_LOG) ---------------------------------------------- */

/* One log line: time stamp, descriptor, event and up to 64 bytes in hex. */
enum { LOG_LINE_SIZE = 256, LOG_HEX_BYTES = 64 };

/* The log descriptor: -2 before the first look at PTYSHIM_LOG, -1 when
 * there is no log. */
static int shim_log_fd = -2;

static int log_fd(void)
{
    if (shim_log_fd == -2) {
        const char *path = getenv("PTYSHIM_LOG");
        shim_log_fd = (path && *path) ? open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644)
                                      : -1;
    }
    return shim_log_fd;
}

static void log_event(int fd, const char *fmt, ...)
{
    int out = log_fd();
    if (out < 0 || !real_write_fn())
        return;
    char line[LOG_LINE_SIZE];
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    int n = snprintf(
        line, sizeof line, "%llu %d ",
        (unsigned long long)now.tv_sec * 1000000ull + (unsigned long long)now.tv_nsec / 1000, fd);
    va_list ap;
    va_start(ap, fmt);
    n += vsnprintf(line + n, sizeof line - (size_t)n - 1, fmt, ap);
    va_end(ap);
    if (n > (int)sizeof line - 2)
        n = (int)sizeof line - 2;
    line[n++] = '\n';
    real_write_fn()(out, line, (size_t)n);
}

static int logging(int fd) { return log_fd() >= 0 && fd != shim_log_fd && isatty(fd); }

struct speed_name {
    speed_t code;
    unsigned long baud;
};
static const struct speed_name shim_speeds[] = {
    {B0, 0},           {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},
    {B150, 150},       {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},
    {B1800, 1800},     {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},
    {B38400, 38400},   {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800},
    {B921600, 921600},
};

static unsigned long baud_of(speed_t code)
{
    for (size_t i = 0; i < sizeof shim_speeds / sizeof shim_speeds[0]; ++i)
        if (shim_speeds[i].code == code)
            return shim_speeds[i].baud;
    return 1000000000ul + code; /* no standard speed: shown as 10000000xx */
}

/* The output speed in bit/s, (unsigned long)-1 when it cannot be read.
 * On Linux the kernel's termios2 holds the rate itself, so a speed set
 * with BOTHER (256000, 56000 ...) is seen as it is, and two such speeds
 * are told apart; elsewhere the speed code is translated. */
#if defined(__linux__)
struct shim_termios2 { /* the kernel's struct termios2 */
    tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed, c_ospeed;
};
#  define SHIM_TCGETS2 _IOR('T', 0x2A, struct shim_termios2)
#endif

static unsigned long current_speed(int fd)
{
#if defined(__linux__)
    struct shim_termios2 t2;
    int err = errno;
    if (real_ioctl_fn() && real_ioctl_fn()(fd, SHIM_TCGETS2, &t2) == 0)
        return t2.c_ospeed;
    errno = err;
#endif
    struct termios t;
    return tcgetattr(fd, &t) == 0 ? baud_of(cfgetospeed(&t)) : (unsigned long)-1;
}

/* The output speed before a settings change, for log_speed_change. */
static unsigned long speed_before(int fd) { return current_speed(fd); }

static void log_speed_change(int fd, unsigned long before)
{
    unsigned long after = current_speed(fd);
    if (before == (unsigned long)-1 || after == (unsigned long)-1)
        return;
    if (after != before)
        log_event(fd, "speed %lu %lu", before, after);
}

static int is_set_request(unsigned long req)
{
    /* TCSETS2, TCSETSW2, TCSETSF2 (termios2): 'T' 0x2B to 0x2D. */
    int termios2 = _IOC_TYPE(req) == 'T' && _IOC_NR(req) >= 0x2B && _IOC_NR(req) <= 0x2D;
    return req == TCSETS || req == TCSETSW || req == TCSETSF || termios2;
}

static int failing(const char *name)
{
    const char *v = getenv(name);
    return v && *v == '1';
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

/* The lines a request names: "RTS", "DTR", "RTS+DTR" or "-". */
static const char *mask_name(int set)
{
    switch (set & (TIOCM_DTR | TIOCM_RTS)) {
    case TIOCM_RTS: return "RTS";
    case TIOCM_DTR: return "DTR";
    case TIOCM_RTS | TIOCM_DTR: return "RTS+DTR";
    default: return "-";
    }
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
    if (req != TIOCMGET && failing("PTYSHIM_FAIL_LINES")) {
        errno = EIO;
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
    const char *name = NULL;
    switch (req) {
    case TIOCMGET: *arg = visible_lines(ls->outputs); break;
    case TIOCMBIS:
        ls->outputs |= set;
        name = "BIS";
        break;
    case TIOCMBIC:
        ls->outputs &= ~set;
        name = "BIC";
        break;
    default:
        ls->outputs = set;
        name = "SET";
        break; /* TIOCMSET */
    }
    int outputs = ls->outputs;
    if (name)
        log_event(fd, "lines %s %s RTS=%d DTR=%d", name, mask_name(set), !!(outputs & TIOCM_RTS),
                  !!(outputs & TIOCM_DTR));
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
    unsigned long before = is_set_request(req) && logging(fd) ? speed_before(fd)
                                                              : (unsigned long)-1;
    int rc = real(fd, req, arg);
    if (rc == 0 && before != (unsigned long)-1) {
        int err = errno;
        log_speed_change(fd, before);
        errno = err;
    }
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

/* ---- hooks that only record ------------------------------------------------ */

int tcsetattr(int fd, int action, const struct termios *t)
{
    static int (*real)(int, int, const struct termios *);
    if (!real)
        real = (int (*)(int, int, const struct termios *))dlsym(RTLD_NEXT, "tcsetattr");
    if (!real) {
        errno = ENOSYS;
        return -1;
    }
    unsigned long before = logging(fd) ? speed_before(fd) : (unsigned long)-1;
    int rc = real(fd, action, t);
    if (rc == 0 && before != (unsigned long)-1) {
        int err = errno;
        log_speed_change(fd, before);
        errno = err;
    }
    return rc;
}

int tcdrain(int fd)
{
    static int (*real)(int);
    if (!real)
        real = (int (*)(int))dlsym(RTLD_NEXT, "tcdrain");
    if (!real) {
        errno = ENOSYS;
        return -1;
    }
    int rc = real(fd);
    int err = errno;
    if (logging(fd))
        log_event(fd, "drain");
    errno = err;
    return rc;
}

int tcflush(int fd, int queue)
{
    static int (*real)(int, int);
    if (!real)
        real = (int (*)(int, int))dlsym(RTLD_NEXT, "tcflush");
    if (!real) {
        errno = ENOSYS;
        return -1;
    }
    int rc = real(fd, queue);
    int err = errno;
    if (logging(fd))
        log_event(fd, "flush %s", queue == TCIFLUSH ? "in" : queue == TCOFLUSH ? "out" : "both");
    errno = err;
    return rc;
}

/* Logs the first bytes of a write of n bytes gathered from iov. */
static void log_write(int fd, const struct iovec *iov, int iovcnt, ssize_t n)
{
    if (n <= 0 || log_fd() < 0)
        return;
    int err = errno;
    if (logging(fd)) {
        char hex[2 * LOG_HEX_BYTES + 1];
        size_t shown = (size_t)n < LOG_HEX_BYTES ? (size_t)n : LOG_HEX_BYTES;
        size_t done = 0;
        for (int v = 0; v < iovcnt && done < shown; ++v)
            for (size_t i = 0; i < iov[v].iov_len && done < shown; ++i, ++done)
                snprintf(hex + 2 * done, 3, "%02x", ((const unsigned char *)iov[v].iov_base)[i]);
        hex[2 * done] = '\0';
        log_event(fd, "write %s", hex);
    }
    errno = err;
}

ssize_t write(int fd, const void *buf, size_t len)
{
    write_fn real = real_write_fn();
    if (!real) {
        errno = ENOSYS;
        return -1;
    }
    if (failing("PTYSHIM_FAIL_WRITES") && isatty(fd)) {
        errno = EIO;
        return -1;
    }
    ssize_t n = real(fd, buf, len);
    struct iovec one = {(void *)buf, len};
    log_write(fd, &one, 1, n);
    return n;
}

/* Serial servers gather their writes to a device with writev. */
ssize_t writev(int fd, const struct iovec *iov, int iovcnt)
{
    static ssize_t (*real)(int, const struct iovec *, int);
    if (!real)
        real = (ssize_t(*)(int, const struct iovec *, int))dlsym(RTLD_NEXT, "writev");
    if (!real) {
        errno = ENOSYS;
        return -1;
    }
    if (failing("PTYSHIM_FAIL_WRITES") && isatty(fd)) {
        errno = EIO;
        return -1;
    }
    ssize_t n = real(fd, iov, iovcnt);
    log_write(fd, iov, iovcnt, n);
    return n;
}
