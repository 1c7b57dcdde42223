// port_posix.cpp - adapter port operations on a tty descriptor.
#include "adapter_port.h"

#include <cerrno>
#include <ctime>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// One character at the command speed: start bit, 8 data bits, stop bit,
// rounded up with margin: 10 bits / 9600 bit/s = 1.04 ms.
constexpr long CHARACTER_TIME_US = 1100;

// How long a write may wait for room in the driver's output queue, ms.
// One byte at 9600 bit/s needs about 1 ms; a queue that stays full this
// long belongs to a stalled port.
constexpr int WRITE_ROOM_WAIT_MS = 1000;

struct SpeedCode {
    uint32_t baud;   // bit/s
    speed_t code;
};

// The speeds of the adapters' tables.
constexpr SpeedCode SPEED_CODES[] = {
    {2400, B2400},   {9600, B9600},   {19200, B19200},
    {38400, B38400}, {57600, B57600}, {115200, B115200},
};

void sleep_us(long us)
{
    timespec left{us / 1000000, (us % 1000000) * 1000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

int set_line(int fd, int line, bool on)
{
    return ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0 ? 0 : -1;
}

// A port without modem lines (a pseudo-terminal, some USB bridges)
// rejects the request; that is no failure of the port.
bool modem_status_readable(int fd)
{
    int lines = 0;
    if (ioctl(fd, TIOCMGET, &lines) == 0)
        return true;
    return errno == ENOTTY || errno == EINVAL;
}

// The session's port is non-blocking: a full output queue is waited out.
int write_all(int fd, const uint8_t *bytes, uint32_t len)
{
    uint32_t done = 0;
    while (done < len) {
        ssize_t n = write(fd, bytes + done, len - done);
        if (n > 0) {
            done += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return -1;
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, WRITE_ROOM_WAIT_MS) <= 0)
            return -1;
    }
    return static_cast<int>(done);
}

}   // namespace

int port_read_settings(orv5_port_handle port, PortSettings *settings)
{
    return tcgetattr(port, settings) == 0 ? 0 : -1;
}

uint32_t port_speed_of(const PortSettings &settings)
{
    speed_t code = cfgetospeed(&settings);
    for (const SpeedCode &s : SPEED_CODES)
        if (s.code == code)
            return s.baud;
    return 0;
}

int port_apply_speed(orv5_port_handle port, const PortSettings &settings, uint32_t baud)
{
    for (const SpeedCode &s : SPEED_CODES) {
        if (s.baud != baud)
            continue;
        PortSettings changed = settings;
        if (cfsetospeed(&changed, s.code) != 0 || cfsetispeed(&changed, s.code) != 0)
            return -1;
        return port_apply(port, changed);
    }
    return -1;
}

int port_apply(orv5_port_handle port, const PortSettings &settings)
{
    return tcsetattr(port, TCSANOW, &settings) == 0 ? 0 : -1;
}

int port_set_rts(orv5_port_handle port, bool on) { return set_line(port, TIOCM_RTS, on); }
int port_set_dtr(orv5_port_handle port, bool on) { return set_line(port, TIOCM_DTR, on); }

int port_wait_sent(orv5_port_handle port)
{
    while (tcdrain(port) != 0) {
        if (errno != EINTR)
            return -1;
    }
    sleep_us(CHARACTER_TIME_US);
    return 0;
}

void port_sleep_ms(unsigned ms) { sleep_us(static_cast<long>(ms) * 1000); }

int adapter_write(orv5_port_handle port, uint32_t len, const uint8_t *bytes)
{
    tcflush(port, TCIFLUSH);
    if (!modem_status_readable(port))
        return -1;
    int n = write_all(port, bytes, len);
    if (n < 0)
        return -1;
    tcflush(port, TCIFLUSH);
    return n;
}
