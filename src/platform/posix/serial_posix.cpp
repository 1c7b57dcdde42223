// serial_posix.cpp - the serial port on a POSIX terminal device (termios).
//
// Each open port is a PlatPort whose record (TtyPort) holds the
// descriptor, the decoder and the flags waiting for the next byte; nothing
// here is kept per process.
//
// The port is opened non-blocking, so a read never waits: the session
// polls for input and sleeps in the pump (clock_posix.cpp) between polls.
// Line errors are learnt from the PARMRK marks that the line discipline
// puts in the data stream, so each one is pinned on the damaged byte, and
// from the driver's overrun counter where it has one.
//
// Wait hints (expect): while the rest of a frame is due, the pump first
// sleeps without watching the port until shortly before the due bytes can
// all be in at the line's speed (posix_port_quiet_us): the line discipline
// wakes a poller on every byte it receives, whatever VMIN says.  (Only
// once: bytes that come late may come faster than the line's pace after,
// as from a relay that catches up, and a second such sleep would outlast
// them.)  Then it polls with VMIN raised to the bytes due and VTIME 0, so
// the wait ends as the last byte arrives, a mode in which the
// line discipline reports the descriptor readable only once VMIN bytes
// wait (with VTIME > 0 it would report the first byte again).  A
// non-blocking read still returns whatever waits.  The hinted wait lasts at
// most HINT_SLACK_FACTOR times the bytes' line time plus HINT_SLACK_MS
// (posix_port_wait_limit_ms), so a frame that comes short or slow is read
// soon after all the same.
#include "platform/serial_port.h"
#include "platform/os_reason.h"
#include "platform/posix/posix_port.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#if defined(__linux__)
#  include <linux/serial.h>
#endif

namespace {

// The device's name as failure reasons show it; a longer path is cut.
constexpr size_t SHOWN_NAME_SIZE = 128;

// Raw bytes taken from the driver per read() call: more than the input
// queue a session asks for (1584 bytes), so one call takes what waits.
// Marks only add bytes, so this many raw bytes never decode into more data
// bytes than that.
constexpr uint32_t RAW_CHUNK = 2048;

// A write that makes no progress for this long is given up, ms.  Even at
// 300 bit/s the driver accepts a byte every 33 ms, so only a stalled line
// (flow-controlled, or a pseudo-terminal nobody reads) gets there.
constexpr int WRITE_STALL_MS = 5000;

// A hinted wait ends at the latest after this many times the due bytes'
// line time plus HINT_SLACK_MS: late enough for a terminal that sends a
// little slower than the line's pace, early enough that a frame that lost
// bytes on the way is answered about when it would have been.
constexpr int64_t HINT_SLACK_FACTOR = 2;
constexpr int64_t HINT_SLACK_MS = 10;

// The quiet sleep ends this long before the due bytes' line time has
// passed, us, and at least two bytes' time before: the hint is given a
// little after the frame's bytes began to come (the opening was read and
// stepped first), so the last of them may be in that much earlier.
constexpr int64_t HINT_EARLY_US = 1000;
constexpr int64_t HINT_EARLY_BYTES = 2;

// Largest VMIN: c_cc holds a byte.  More bytes due are waited for in steps.
constexpr uint32_t VMIN_MAX = 255;

// Poll interval while waiting for the output queue to empty, ms.
constexpr long DRAIN_STEP_MS = 2;

// The record of one open tty port, inside its PlatPort.
struct TtyPort {
    int fd;
    ParmrkDecoder dec;
    uint8_t pending;          // PLAT_LINE_* flags for the next byte fetched
    bool have_icount;         // the driver counts overruns
    uint32_t overruns;        // last seen count
    uint32_t bits_per_byte;   // on the line: start, data, parity, stop bits
    uint32_t baud;            // bit/s; 0 before the first configure
    uint32_t hint_due;        // bytes due by the last hint (expect)
    bool hint_new;            // the hint changed: applied at the next wait
    uint8_t vmin;             // VMIN in force: 1, or the bytes a hinted wait waits for
    int64_t hint_until_us;    // end of the hinted wait (now_us clock); 0: none
    int64_t quiet_until_us;   // end of its sleep without watching the port; 0: none
    char name[SHOWN_NAME_SIZE];
};

TtyPort &tty(PlatPort &port) { return plat_port_state<TtyPort>(port); }

const TtyPort &tty(const PlatPort &port) { return plat_port_state<TtyPort>(port); }

// Errors of an ioctl that the device does not implement (a pseudo-terminal
// has no modem lines and no UART counters).
bool not_supported(int err)
{
    // 515 is the kernel's ENOIOCTLCMD, which some drivers let through.
    return err == ENOTTY || err == EINVAL || err == ENOTSUP || err == 515;
}

uint32_t read_overruns(int fd, bool *ok)
{
#if defined(TIOCGICOUNT)
    struct serial_icounter_struct ic;
    if (ioctl(fd, TIOCGICOUNT, &ic) == 0) {
        *ok = true;
        return static_cast<uint32_t>(ic.overrun) + static_cast<uint32_t>(ic.buf_overrun);
    }
#else
    (void)fd;
#endif
    *ok = false;
    return 0;
}

// PLAT_LINE_OVERRUN when the driver counted an overrun since the last look.
uint8_t new_overruns(TtyPort &p)
{
    if (!p.have_icount)
        return 0;
    bool ok = false;
    uint32_t count = read_overruns(p.fd, &ok);
    if (!ok || count == p.overruns)
        return 0;
    p.overruns = count;
    return PLAT_LINE_OVERRUN;
}

int64_t now_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int64_t now_us()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

bool speed_constant(uint32_t baud, speed_t *out)
{
    static const struct {
        uint32_t baud;
        speed_t code;
    } table[] = {
        {300, B300},
        {600, B600},
        {1200, B1200},
        {2400, B2400},
        {4800, B4800},
        {9600, B9600},
        {19200, B19200},
        {38400, B38400},
        {57600, B57600},
        {115200, B115200},
#if defined(B230400)
        {230400, B230400},
#endif
    };
    for (const auto &row : table)
        if (row.baud == baud) {
            *out = row.code;
            return true;
        }
    return false;
}

// termios framing of the settings, on top of a raw configuration.
void set_framing(struct termios &tio, const LineSettings &settings)
{
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB);
#if defined(CRTSCTS)
    tio.c_cflag &= ~CRTSCTS;
#endif
    tio.c_cflag |= settings.eight_data_bits ? CS8 : CS7;
    if (settings.parity == 1)
        tio.c_cflag |= PARENB | PARODD;
    else if (settings.parity == 2)
        tio.c_cflag |= PARENB;
    if (settings.two_stop_bits)
        tio.c_cflag |= CSTOPB;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | IGNPAR | IGNBRK | BRKINT | ISTRIP);
    tio.c_iflag |= INPCK | PARMRK;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
}

bool refuse(const TtyPort &p, const char *why)
{
    plat_reason_set(p.name, why);
    return false;
}

}   // namespace

bool parmrk_feed(ParmrkDecoder &dec, uint8_t raw, uint8_t *out, uint8_t *errors)
{
    switch (dec.marks) {
    case 0:
        if (raw == 0xFF) {
            dec.marks = 1;
            return false;
        }
        *out = raw;
        return true;
    case 1:
        if (raw == 0x00) {
            dec.marks = 2;
            return false;
        }
        dec.marks = 0;
        *out = raw;
        // 0xFF 0xFF is a real 0xFF; anything else after 0xFF cannot come
        // from the line discipline, so the stream is out of step: flag it.
        if (raw != 0xFF)
            *errors |= PLAT_LINE_FRAMING;
        return true;
    default:
        // 0xFF 0x00 byte: received with a parity or framing error (the two
        // are not told apart); a zero byte is how a break is marked.
        dec.marks = 0;
        *out = raw;
        *errors |= raw == 0 ? PLAT_LINE_BREAK : PLAT_LINE_FRAMING | PLAT_LINE_PARITY;
        return true;
    }
}

bool posix_port_input_ready(int fd)
{
    int waiting = 0;
    return ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0;
}

namespace {

bool tty_open(PlatPort &port, const char *path)
{
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        plat_reason_note(path);
        return false;
    }
    // TIOCEXCL keeps out later openers (except privileged ones); the lock
    // also stops a second program that honours it, and a second open in
    // this process.
    if (!isatty(fd) || ioctl(fd, TIOCEXCL) != 0) {
        plat_reason_note(path);
        close(fd);
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            plat_reason_set(path, "in use by another program (locked)");
        else
            plat_reason_note(path);
        close(fd);
        return false;
    }
    TtyPort &p = *new (port.state) TtyPort{fd, {}, 0, false, 0, 10, 0, 0, false, 1, 0, 0, {}};
    std::snprintf(p.name, sizeof p.name, "%.*s", static_cast<int>(sizeof p.name - 1), path);
    p.overruns = read_overruns(fd, &p.have_icount);
    return true;
}

void tty_setup_queues(PlatPort &, uint32_t, uint32_t)
{
    // The terminal driver's buffers are fixed (4 KiB and more), larger than
    // what the session asks for.
}

bool tty_configure(PlatPort &port, const LineSettings &settings)
{
    TtyPort *p = &tty(port);
    if (settings.baud_rate == 0)
        return refuse(*p, "0 bit/s is no line speed");   // it would mean "hang up"
    int fd = p->fd;
    struct termios tio;
    if (tcgetattr(fd, &tio) != 0) {
        plat_reason_note(p->name);
        return false;
    }
    cfmakeraw(&tio);
    set_framing(tio, settings);

    speed_t code;
    bool standard = speed_constant(settings.baud_rate, &code);
    if (standard && (cfsetispeed(&tio, code) != 0 || cfsetospeed(&tio, code) != 0)) {
        plat_reason_note(p->name);
        return false;
    }
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        plat_reason_note(p->name);
        return false;
    }
    // tcsetattr succeeds when any part was applied: check that the driver
    // kept the framing (a pseudo-terminal, for one, forces 8 bits without
    // parity).
    struct termios got;
    const tcflag_t framing = CSIZE | PARENB | PARODD;
    if (tcgetattr(fd, &got) != 0 || (got.c_cflag & framing) != (tio.c_cflag & framing))
        return refuse(*p, "the device does not keep these data bits and parity");
    if (standard ? cfgetospeed(&got) != code : !posix_set_custom_speed(fd, settings.baud_rate))
        return refuse(*p, "the device does not take this line speed");
    p->dec = ParmrkDecoder{};
    p->pending = 0;
    // VMIN is 1 again (set_framing); a hint given before counts from now.
    p->vmin = 1;
    p->hint_until_us = p->quiet_until_us = 0;
    p->hint_new = p->hint_due > 1;
    p->baud = settings.baud_rate;
    p->bits_per_byte = 1 + (settings.eight_data_bits ? 8 : 7) +
                       (settings.parity == 1 || settings.parity == 2 ? 1 : 0) +
                       (settings.two_stop_bits ? 2 : 1);

    int lines = TIOCM_RTS | TIOCM_DTR;
    if (ioctl(fd, TIOCMBIS, &lines) != 0 && !not_supported(errno)) {
        plat_reason_note(p->name);
        return false;
    }
    return true;
}

bool tty_modem_status(PlatPort &port, uint32_t *lines)
{
    *lines = 0;
    int bits = 0;
    if (ioctl(tty(port).fd, TIOCMGET, &bits) != 0)
        return not_supported(errno);   // no modem lines: none on
    if (bits & TIOCM_CTS)
        *lines |= PLAT_MODEM_CTS;
    if (bits & TIOCM_DSR)
        *lines |= PLAT_MODEM_DSR;
    if (bits & TIOCM_RNG)
        *lines |= PLAT_MODEM_RING;
    if (bits & TIOCM_CAR)
        *lines |= PLAT_MODEM_DCD;
    return true;
}

void tty_purge_tx(PlatPort &port) { tcflush(tty(port).fd, TCOFLUSH); }

void tty_purge_rx(PlatPort &port)
{
    TtyPort &p = tty(port);
    tcflush(p.fd, TCIFLUSH);
    // Half a mark sequence went with it.
    p.dec = ParmrkDecoder{};
}

bool tty_write(PlatPort &port, const void *bytes, uint32_t len, uint32_t *written)
{
    const uint8_t *src = static_cast<const uint8_t *>(bytes);
    const char *name = tty(port).name;
    int fd = tty(port).fd;
    uint32_t done = 0;
    int64_t give_up = now_ms() + WRITE_STALL_MS;
    bool ok = true;
    while (done < len) {
        ssize_t r = write(fd, src + done, len - done);
        if (r > 0) {
            done += static_cast<uint32_t>(r);
            give_up = now_ms() + WRITE_STALL_MS;
            continue;
        }
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            int64_t left = give_up - now_ms();
            if (left <= 0) {
                plat_reason_set(name, "write stalled (flow control, or nobody reads the line)");
                ok = false;
                break;
            }
            struct pollfd pfd = {fd, POLLOUT, 0};
            int n = poll(&pfd, 1, static_cast<int>(left));
            if (n < 0 && errno != EINTR) {
                plat_reason_note(name);
                ok = false;
                break;
            }
            if (n > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL))) {
                plat_reason_set(name, "the device hung up");
                ok = false;
                break;
            }
            continue;
        }
        plat_reason_note(name);
        ok = false;
        break;
    }
    if (written != nullptr)
        *written = done;
    return ok;
}

bool tty_read(PlatPort &port, uint8_t *bytes, uint8_t *errors, uint32_t capacity, uint32_t *count)
{
    *count = 0;
    TtyPort *p = &tty(port);
    const char *name = p->name;
    uint8_t raw[RAW_CHUNK];
    uint32_t want = capacity < RAW_CHUNK ? capacity : RAW_CHUNK;
    ssize_t r;
    do {
        r = read(p->fd, raw, want);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return true;   // nothing waiting
        plat_reason_note(name);
        return false;
    }
    if (r == 0) {
        plat_reason_set(name, "the device hung up");   // end of file on a terminal
        return false;
    }
    p->pending |= new_overruns(*p);
    uint32_t n = 0;
    for (ssize_t i = 0; i < r; ++i) {
        uint8_t flags = 0;
        if (parmrk_feed(p->dec, raw[i], &bytes[n], &flags)) {
            errors[n] = flags | p->pending;
            p->pending = 0;
            ++n;
        }
    }
    *count = n;
    return true;
}

intptr_t tty_fd(const PlatPort &port) { return tty(port).fd; }

// Sets VMIN (VTIME 0) on the device; p.vmin follows only when it took.
void set_vmin(TtyPort &p, uint8_t vmin)
{
    if (p.vmin == vmin)
        return;
    struct termios tio;
    if (tcgetattr(p.fd, &tio) != 0)
        return;
    tio.c_cc[VMIN] = vmin;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(p.fd, TCSANOW, &tio) == 0)
        p.vmin = vmin;
}

// Line time of bytes at the configured speed, us, rounded up.
int64_t line_us(const TtyPort &p, uint32_t bytes)
{
    if (p.baud == 0)
        return 0;
    uint64_t bits = static_cast<uint64_t>(bytes) * p.bits_per_byte;
    return static_cast<int64_t>((bits * 1000000 + p.baud - 1) / p.baud);
}

// End of a sleep without watching the port while bytes come, from now: a
// little before their line time has passed, never past the hinted wait's
// end; 0 when too short to be worth it.
int64_t quiet_end(const TtyPort &p, int64_t now, uint32_t bytes)
{
    int64_t early = line_us(p, HINT_EARLY_BYTES);
    if (early < HINT_EARLY_US)
        early = HINT_EARLY_US;
    const int64_t line = line_us(p, bytes);
    if (line <= early)
        return 0;
    int64_t end = now + line - early;
    return p.hint_until_us != 0 && end > p.hint_until_us ? p.hint_until_us : end;
}

void end_hinted_wait(TtyPort &p)
{
    set_vmin(p, 1);
    p.hint_until_us = p.quiet_until_us = 0;
}

// Starts the wait a new hint asks for, or ends the hinted wait.
void apply_hint(TtyPort &p)
{
    p.hint_new = false;
    uint32_t due = p.hint_due < VMIN_MAX ? p.hint_due : VMIN_MAX;
    if (due <= 1 || p.baud == 0) {
        end_hinted_wait(p);
        return;
    }
    set_vmin(p, static_cast<uint8_t>(due));
    if (p.vmin <= 1) {
        end_hinted_wait(p);   // refused: wake on the first byte as ever
        return;
    }
    const int64_t now = now_us();
    p.hint_until_us = now + HINT_SLACK_FACTOR * line_us(p, due) + HINT_SLACK_MS * 1000;
    p.quiet_until_us = quiet_end(p, now, due);
}

void tty_expect(PlatPort &port, uint32_t bytes_due)
{
    TtyPort &p = tty(port);
    // Applied when the pump next waits (tty_input_ready): a hint that is
    // taken back before then costs no system call.
    p.hint_due = bytes_due;
    p.hint_new = true;
}

// Called by the pump before each poll: applies a new hint, ends a hinted
// wait that ran out (the bytes come short or slow: each byte wakes the
// pump again until the next hint), then says whether as many bytes wait
// as the wait is for.
bool tty_input_ready(PlatPort &port)
{
    TtyPort &p = tty(port);
    if (p.hint_new)
        apply_hint(p);
    else if (p.hint_until_us != 0 && now_us() >= p.hint_until_us)
        end_hinted_wait(p);
    if (p.vmin <= 1)
        return posix_port_input_ready(p.fd);
    int waiting = 0;
    return ioctl(p.fd, FIONREAD, &waiting) == 0 && waiting >= p.vmin;
}

bool tty_drain(PlatPort &port)
{
    // tcdrain could wait for ever on a stalled line: the output queue is
    // watched instead, for as long as a write may stall.
    TtyPort &p = tty(port);
    int64_t give_up = now_ms() + WRITE_STALL_MS;
    for (;;) {
        int queued = 0;
        if (ioctl(p.fd, TIOCOUTQ, &queued) != 0)
            return not_supported(errno) && tcdrain(p.fd) == 0;
        if (queued <= 0)
            return true;
        if (now_ms() >= give_up)
            return refuse(p, "output did not drain (flow control, or nobody reads the line)");
        struct timespec nap = {0, DRAIN_STEP_MS * 1000000L};
        nanosleep(&nap, nullptr);
    }
}

bool tty_set_lines(PlatPort &port, bool rts, bool dtr)
{
    TtyPort &p = tty(port);
    int on = (rts ? TIOCM_RTS : 0) | (dtr ? TIOCM_DTR : 0);
    int off = (rts ? 0 : TIOCM_RTS) | (dtr ? 0 : TIOCM_DTR);
    if ((on != 0 && ioctl(p.fd, TIOCMBIS, &on) != 0) ||
        (off != 0 && ioctl(p.fd, TIOCMBIC, &off) != 0)) {
        if (not_supported(errno))
            return true;   // no modem lines (a pseudo-terminal): nothing to set
        plat_reason_note(p.name);
        return false;
    }
    return true;
}

void tty_close(PlatPort &port)
{
    TtyPort &p = tty(port);
    // The device keeps its settings: leave it waking on the first byte.
    set_vmin(p, 1);
    // Clear the exclusive flag: it belongs to the device, not to this
    // descriptor, and would keep out the next opener while any other
    // descriptor of the device stays open.
    ioctl(p.fd, TIOCNXCL);
    close(p.fd);   // drops the lock too
    p.fd = -1;
}

}   // namespace

// The tty's descriptor serves plug-ins and the pump's poll alike.
extern const PortOps POSIX_TTY_OPS = {
    tty_open,  tty_setup_queues, tty_configure, tty_modem_status, tty_purge_tx,    tty_purge_rx,
    tty_write, tty_read,         tty_fd,        tty_fd,           tty_input_ready, nullptr,
    tty_close, tty_drain,        tty_set_lines, tty_expect,
};

int posix_port_wait_limit_ms(const PlatPort &port)
{
    if (port.ops != &POSIX_TTY_OPS)
        return -1;
    const TtyPort &p = tty(port);
    if (p.hint_until_us == 0)
        return -1;
    int64_t left = (p.hint_until_us - now_us() + 999) / 1000;
    return left <= 0 ? 0 : left > INT32_MAX ? INT32_MAX : static_cast<int>(left);
}

int64_t posix_port_quiet_us(const PlatPort &port)
{
    if (port.ops != &POSIX_TTY_OPS)
        return 0;
    const TtyPort &p = tty(port);
    if (p.quiet_until_us == 0)
        return 0;
    int64_t left = p.quiet_until_us - now_us();
    return left > 0 ? left : 0;
}

bool plat_trace_path(char *out, size_t size)
{
    const char *path = std::getenv("ORV5_TRACE");
    if (path == nullptr || *path == '\0')
        return false;
    int len = std::snprintf(out, size, "%s", path);
    return len > 0 && static_cast<size_t>(len) < size;
}

bool plat_trace_telnet()
{
    const char *v = std::getenv("ORV5_TRACE_TELNET");
    return v != nullptr && std::strcmp(v, "1") == 0;
}
