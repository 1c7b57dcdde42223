// pty_posix.cpp - the simulator's line on POSIX: a pseudo-terminal pair or
// a tty device, both in raw mode.
#include "sim_line.h"

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#  include <sys/prctl.h>
#endif

namespace {

// A pseudo-terminal keeps its own open handle on the PC's side, so that
// the PC may open and close it without the master seeing a hang-up.
// One line per process.
int g_held_slave = -1;

// Answers are timed to the line's pace (87 us per byte at 115200 bit/s);
// the default 50 us slack on wake-ups would add up over a long file.
void tighten_timers() {
#ifdef __linux__
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
}

void make_raw(int fd) {
    termios tio;
    if (tcgetattr(fd, &tio) != 0) return;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &tio);
}

speed_t speed_of(uint32_t baud) {
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
    }
}

}  // namespace

sim_line sim_line_open_pty(char *path, size_t path_size) {
    tighten_timers();
    int m = posix_openpt(O_RDWR | O_NOCTTY);
    if (m < 0) return SIM_LINE_INVALID;
    const char *name = nullptr;
    if (grantpt(m) != 0 || unlockpt(m) != 0 || (name = ptsname(m)) == nullptr ||
        std::strlen(name) >= path_size) {
        close(m);
        return SIM_LINE_INVALID;
    }
    std::snprintf(path, path_size, "%s", name);
    g_held_slave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (g_held_slave >= 0) make_raw(g_held_slave);
    make_raw(m);
    fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
    return m;
}

sim_line sim_line_open_device(const char *path, uint32_t baud) {
    tighten_timers();
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return SIM_LINE_INVALID;
    make_raw(fd);
    termios tio;
    if (baud != 0 && tcgetattr(fd, &tio) == 0 && speed_of(baud) != B0) {
        cfsetispeed(&tio, speed_of(baud));
        cfsetospeed(&tio, speed_of(baud));
        tcsetattr(fd, TCSANOW, &tio);
    }
    return fd;
}

int sim_line_read(sim_line line, uint8_t *buf, int cap, int64_t timeout_us) {
    int fd = int(line);
    if (timeout_us < 0) timeout_us = 0;
    fd_set rd;
    FD_ZERO(&rd);
    FD_SET(fd, &rd);
    timespec ts;
    ts.tv_sec = time_t(timeout_us / 1000000);
    ts.tv_nsec = long(timeout_us % 1000000) * 1000;
    int r = pselect(fd + 1, &rd, nullptr, nullptr, &ts, nullptr);
    if (r < 0) return errno == EINTR ? 0 : -1;
    if (r == 0) return 0;
    ssize_t n = read(fd, buf, size_t(cap));
    if (n < 0) return (errno == EAGAIN || errno == EINTR || errno == EIO) ? 0 : -1;
    return int(n);
}

bool sim_line_write(sim_line line, const uint8_t *bytes, int len) {
    int fd = int(line);
    while (len > 0) {
        ssize_t n = write(fd, bytes, size_t(len));
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) {
                fd_set wr;
                FD_ZERO(&wr);
                FD_SET(fd, &wr);
                timeval tv = {1, 0};
                if (select(fd + 1, nullptr, &wr, nullptr, &tv) <= 0) return false;
                continue;
            }
            return false;
        }
        bytes += n;
        len -= int(n);
    }
    return true;
}

int sim_line_unread(sim_line) {
    int n = 0;
    if (g_held_slave < 0 || ioctl(g_held_slave, FIONREAD, &n) != 0) return 0;
    return n;
}

void sim_line_close(sim_line line) {
    if (line != SIM_LINE_INVALID) close(int(line));
    if (g_held_slave >= 0) close(g_held_slave);
    g_held_slave = -1;
}

int64_t sim_now_us() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

void sim_sleep_until_us(int64_t when_us) {
    timespec ts;
    ts.tv_sec = time_t(when_us / 1000000);
    ts.tv_nsec = long(when_us % 1000000) * 1000;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}
