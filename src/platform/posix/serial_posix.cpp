// serial_posix.cpp - the serial port on a POSIX terminal device (termios).
//
// The port is opened non-blocking, so a read never waits: the session
// polls for input and pumps between polls.  Line errors are learnt from the
// PARMRK marks that the line discipline puts in the data stream; the mark
// of the next byte is decoded ahead by plat_port_clear_errors, so a poll
// reports the error before the damaged byte is read, as the callers expect.
#include "platform/serial_port.h"
#include "platform/posix/posix_port.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#if defined(__linux__)
#include <linux/serial.h>
#endif

namespace {

// Ports open at once: one per session, a few more in tests and tools.
constexpr int MAX_PORTS = 8;

// Device path buffer: "/dev/ttyS" plus up to 10 digits, or a path from the
// environment (longer ones are refused rather than cut).
constexpr size_t DEVICE_PATH_SIZE = 4096;

// A write that makes no progress for this long is given up, ms.  Even at
// 300 bit/s the driver accepts a byte every 33 ms, so only a stalled line
// (flow-controlled, or a pseudo-terminal nobody reads) gets there.
constexpr int WRITE_STALL_MS = 5000;

struct PortState {
    int fd;                 // -1: slot free
    ParmrkDecoder dec;
    uint32_t errors;        // latched flags not yet reported
    bool have_ahead;        // a byte was decoded ahead by clear_errors
    uint8_t ahead;
    uint32_t ahead_errors;  // flags of that byte, reported until it is read
    bool have_icount;       // the driver counts overruns
    uint32_t overruns;      // last seen count
};

PortState ports[MAX_PORTS] = {
    {-1, {}, 0, false, 0, 0, false, 0}, {-1, {}, 0, false, 0, 0, false, 0},
    {-1, {}, 0, false, 0, 0, false, 0}, {-1, {}, 0, false, 0, 0, false, 0},
    {-1, {}, 0, false, 0, 0, false, 0}, {-1, {}, 0, false, 0, 0, false, 0},
    {-1, {}, 0, false, 0, 0, false, 0}, {-1, {}, 0, false, 0, 0, false, 0},
};

PortState *find_port(plat_port port)
{
    if (port < 0)
        return nullptr;
    for (PortState &p : ports)
        if (p.fd == port)
            return &p;
    return nullptr;
}

// Errors of an ioctl that the device does not implement (a pseudo-terminal
// has no modem lines and no UART counters).
bool not_supported(int err)
{
    // 515 is the kernel's ENOIOCTLCMD, which some drivers let through.
    return err == ENOTTY || err == EINVAL || err == ENOTSUP || err == 515;
}

// Device for COM<n>: $ORV5_DEVICE, else $ORV5_COM<n>, else /dev/ttyS<n-1>.
bool device_path(unsigned n, char *out, size_t size)
{
    const char *dev = std::getenv("ORV5_DEVICE");
    if (dev == nullptr || *dev == '\0') {
        char name[32];
        std::snprintf(name, sizeof name, "ORV5_COM%u", n);
        dev = std::getenv(name);
    }
    int len;
    if (dev != nullptr && *dev != '\0')
        len = std::snprintf(out, size, "%s", dev);
    else
        len = std::snprintf(out, size, "/dev/ttyS%u", n - 1);
    return len > 0 && static_cast<size_t>(len) < size;
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

// Reads raw bytes until one data byte is decoded.  1 = byte in *out,
// 0 = nothing (more) waiting, -1 = the device failed or hung up.
int read_unit(PortState &p, uint8_t *out)
{
    for (;;) {
        uint8_t raw;
        ssize_t r = read(p.fd, &raw, 1);
        if (r == 1) {
            if (parmrk_feed(p.dec, raw, out, &p.errors))
                return 1;
            continue;
        }
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return 0;
        return -1;   // EOF on a terminal means hang-up
    }
}

int64_t now_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool speed_constant(uint32_t baud, speed_t *out)
{
    static const struct { uint32_t baud; speed_t code; } table[] = {
        {300, B300},       {600, B600},       {1200, B1200},   {2400, B2400},
        {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
        {57600, B57600},   {115200, B115200},
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

} // namespace

bool parmrk_feed(ParmrkDecoder &dec, uint8_t raw, uint8_t *out, uint32_t *errors)
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
            *errors |= POSIX_CE_FRAME;
        return true;
    default:
        // 0xFF 0x00 byte: received with a parity or framing error (the two
        // are not told apart); a zero byte is how a break is marked.
        dec.marks = 0;
        *out = raw;
        *errors |= raw == 0 ? POSIX_CE_BREAK : POSIX_CE_FRAME | POSIX_CE_RXPARITY;
        return true;
    }
}

bool posix_port_input_ready(int fd)
{
    PortState *p = find_port(fd);
    if (p != nullptr && p->have_ahead)
        return true;
    int waiting = 0;
    return ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0;
}

plat_port plat_port_open(unsigned com_number)
{
    if (com_number == 0)
        return PLAT_PORT_INVALID;   // there is no COM0
    PortState *slot = nullptr;
    for (PortState &p : ports)
        if (p.fd < 0) {
            slot = &p;
            break;
        }
    char path[DEVICE_PATH_SIZE];
    if (slot == nullptr || !device_path(com_number, path, sizeof path))
        return PLAT_PORT_INVALID;

    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return PLAT_PORT_INVALID;
    // TIOCEXCL keeps out later openers (except privileged ones); the lock
    // also stops a second program that honours it, and a second open in
    // this process.
    if (!isatty(fd) || ioctl(fd, TIOCEXCL) != 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return PLAT_PORT_INVALID;
    }
    *slot = PortState{fd, {}, 0, false, 0, 0, false, 0};
    slot->overruns = read_overruns(fd, &slot->have_icount);
    return fd;
}

void plat_port_setup_queues(plat_port, uint32_t, uint32_t)
{
    // The terminal driver's buffers are fixed (4 KiB and more), larger than
    // what the session asks for.
}

bool plat_port_configure(plat_port port, const char *, const LineSettings &settings)
{
    PortState *p = find_port(port);
    if (p == nullptr || settings.baud_rate == 0)
        return false;   // speed 0 would mean "hang up"
    int fd = p->fd;
    struct termios tio;
    if (tcgetattr(fd, &tio) != 0)
        return false;
    cfmakeraw(&tio);
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

    speed_t code;
    bool standard = speed_constant(settings.baud_rate, &code);
    if (standard && (cfsetispeed(&tio, code) != 0 || cfsetospeed(&tio, code) != 0))
        return false;
    if (tcsetattr(fd, TCSANOW, &tio) != 0)
        return false;
    // tcsetattr succeeds when any part was applied: check that the driver
    // kept the framing (a pseudo-terminal, for one, forces 8 bits without
    // parity).
    struct termios got;
    const tcflag_t framing = CSIZE | PARENB | PARODD;
    if (tcgetattr(fd, &got) != 0 || (got.c_cflag & framing) != (tio.c_cflag & framing))
        return false;
    if (standard ? cfgetospeed(&got) != code : !posix_set_custom_speed(fd, settings.baud_rate))
        return false;
    p->dec = ParmrkDecoder{};
    p->have_ahead = false;

    int lines = TIOCM_RTS | TIOCM_DTR;
    if (ioctl(fd, TIOCMBIS, &lines) != 0 && !not_supported(errno))
        return false;
    return true;
}

bool plat_port_modem_status(plat_port port, uint32_t *status)
{
    *status = 0;
    int lines = 0;
    if (ioctl(static_cast<int>(port), TIOCMGET, &lines) != 0)
        return not_supported(errno);   // no modem lines: status 0
    if (lines & TIOCM_CTS)
        *status |= PLAT_MS_CTS_ON;
    if (lines & TIOCM_DSR)
        *status |= PLAT_MS_DSR_ON;
    if (lines & TIOCM_RNG)
        *status |= 0x0040;   // MS_RING_ON
    if (lines & TIOCM_CAR)
        *status |= 0x0080;   // MS_RLSD_ON
    return true;
}

void plat_port_purge_tx(plat_port port)
{
    tcflush(static_cast<int>(port), TCOFLUSH);
}

void plat_port_purge_rx(plat_port port)
{
    tcflush(static_cast<int>(port), TCIFLUSH);
    // Whatever was decoded ahead, or half a mark sequence, went with it.
    if (PortState *p = find_port(port)) {
        p->dec = ParmrkDecoder{};
        p->have_ahead = false;
        p->ahead_errors = 0;
    }
}

bool plat_port_write(plat_port port, const void *bytes, uint32_t len, uint32_t *written)
{
    const uint8_t *src = static_cast<const uint8_t *>(bytes);
    int fd = static_cast<int>(port);
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
                ok = false;
                break;
            }
            struct pollfd pfd = {fd, POLLOUT, 0};
            int n = poll(&pfd, 1, static_cast<int>(left));
            if (n < 0 && errno != EINTR) {
                ok = false;
                break;
            }
            if (n > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL))) {
                ok = false;
                break;
            }
            continue;
        }
        ok = false;
        break;
    }
    if (written != nullptr)
        *written = done;
    return ok;
}

bool plat_port_read_byte(plat_port port, uint8_t *byte, uint32_t *n)
{
    *n = 0;
    PortState *p = find_port(port);
    if (p == nullptr)
        return false;
    if (p->have_ahead) {
        *byte = p->ahead;
        p->have_ahead = false;
        p->ahead_errors = 0;
        *n = 1;
        return true;
    }
    int r = read_unit(*p, byte);
    if (r < 0)
        return false;
    *n = static_cast<uint32_t>(r);
    return true;
}

bool plat_port_clear_errors(plat_port port, uint32_t *errors, uint32_t *in_queue)
{
    *errors = 0;
    *in_queue = 0;
    PortState *p = find_port(port);
    if (p == nullptr)
        return false;
    if (!p->have_ahead) {
        // Decode the next byte now, so that a mark on it is reported by
        // this poll, before the byte itself is read.
        uint32_t before = p->errors;
        p->errors = 0;
        int r = read_unit(*p, &p->ahead);
        if (r < 0) {
            p->errors |= before;
            return false;
        }
        p->have_ahead = r == 1;
        p->ahead_errors = r == 1 ? p->errors : 0;
        p->errors = r == 1 ? before : (before | p->errors);
    }
    if (p->have_icount) {
        bool ok = false;
        uint32_t count = read_overruns(p->fd, &ok);
        if (ok && count != p->overruns)
            p->errors |= POSIX_CE_OVERRUN;
        if (ok)
            p->overruns = count;
    }
    int waiting = 0;
    if (ioctl(p->fd, FIONREAD, &waiting) != 0)
        return false;
    *errors = p->errors | p->ahead_errors;
    p->errors = 0;
    // The driver's count includes mark bytes, so it may run a little high;
    // callers only learn that a byte is worth reading.
    *in_queue = static_cast<uint32_t>(waiting > 0 ? waiting : 0) + (p->have_ahead ? 1 : 0);
    return true;
}

void plat_port_close(plat_port port)
{
    PortState *p = find_port(port);
    if (p == nullptr)
        return;
    // Clear the exclusive flag: it belongs to the device, not to this
    // descriptor, and would keep out the next opener while any other
    // descriptor of the device stays open.
    ioctl(p->fd, TIOCNXCL);
    close(p->fd);   // drops the lock too
    p->fd = -1;
}
