// clock_posix.cpp - the session timer and the pump on POSIX.
//
// There is no message queue: the pump's only work is the timer, which is a
// deadline on CLOCK_MONOTONIC checked on every pump.  A waiting loop sleeps
// in poll() on the port and on a self-pipe that plat_wake() writes to, so
// it wakes for input, for the next tick and for an abort, and never spins.
#include "platform/session_clock.h"
#include "platform/posix/posix_port.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr int64_t NS_PER_MS = 1000000;

// Shortest interval, ms: a zero interval would make every pump a tick and
// keep pump_wait from ever sleeping.
constexpr uint32_t MIN_INTERVAL_MS = 1;

// Longest sleep of a pump_wait with no timer armed, ms: nothing would end
// it otherwise if a wake-up got lost.
constexpr int IDLE_WAIT_MS = 1000;

// Rest of a pump_wait on a hung-up port, ms: such a port stays "ready" for
// ever, so the wait rests this long instead of spinning, then hands back to
// the caller, whose next fetch learns of the failure.
constexpr int HUNG_UP_REST_MS = 100;

// The session timer: the record in the session's PlatClock.  All zero is
// no timer.
struct PosixClock {
    bool timer_on;
    int64_t interval_ns;
    int64_t deadline_ns;   // next tick, CLOCK_MONOTONIC
    plat_tick_fn tick_fn;
    void *context;   // handed to tick_fn
};

// Self-pipe: rd polled by pump_wait, wr written by plat_wake.  Created once
// and kept for the life of the process, and so process-wide: plat_wake
// carries the abort request from signal handlers and other threads, which
// know no session or port.  One object for both ends.
struct WakePipe {
    std::atomic<int> rd{-1};
    std::atomic<int> wr{-1};
};
WakePipe wake_pipe;

int64_t now_ns()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

bool ensure_wake_pipe()
{
    if (wake_pipe.rd.load() >= 0)
        return true;
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
        return false;
    wake_pipe.wr.store(fds[1]);
    wake_pipe.rd.store(fds[0]);
    return true;
}

void drain_wake_pipe()
{
    int fd = wake_pipe.rd.load();
    if (fd < 0)
        return;
    char buf[64];
    while (read(fd, buf, sizeof buf) > 0) {
    }
}

// Milliseconds until the next tick, rounded up so that the sleep never ends
// before it is due; 0 when due.
int ms_to_tick(const PosixClock &c)
{
    if (!c.timer_on)
        return IDLE_WAIT_MS;
    int64_t left = c.deadline_ns - now_ns();
    if (left <= 0)
        return 0;
    int64_t ms = (left + NS_PER_MS - 1) / NS_PER_MS;
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

// Milliseconds a pump_wait may sleep: until the next tick, or until the
// progress line is due, whichever is first; 0 when one of them is due.
int ms_to_wake(PlatClock &clock)
{
    int ms = ms_to_tick(plat_clock_state<PosixClock>(clock));
    int line = clock.display != nullptr ? posix_progress_due_in_ms(*clock.display) : -1;
    return line >= 0 && line < ms ? line : ms;
}

}   // namespace

bool plat_timer_arm(PlatClock &clock, void *, uint32_t interval_ms, plat_tick_fn tick,
                    void *context)
{
    // The pipe is made here, before any waiting loop, so that a plat_wake
    // from a signal handler always finds it.
    ensure_wake_pipe();
    if (interval_ms < MIN_INTERVAL_MS)
        interval_ms = MIN_INTERVAL_MS;
    PosixClock &c = plat_clock_state<PosixClock>(clock);
    c.interval_ns = static_cast<int64_t>(interval_ms) * NS_PER_MS;
    c.deadline_ns = now_ns() + c.interval_ns;
    c.tick_fn = tick;
    c.context = context;
    c.timer_on = true;
    return true;
}

bool plat_timer_kill(PlatClock &clock)
{
    PosixClock &c = plat_clock_state<PosixClock>(clock);
    c.timer_on = false;
    c.tick_fn = nullptr;
    c.context = nullptr;
    return true;
}

void plat_pump_messages(PlatClock &clock)
{
    if (clock.display != nullptr)
        posix_progress_pump(*clock.display);
    PosixClock &c = plat_clock_state<PosixClock>(clock);
    if (!c.timer_on)
        return;
    int64_t now = now_ns();
    if (now < c.deadline_ns)
        return;
    // One tick however many intervals passed; the next one an interval
    // from the missed deadline, or from now if more than one was missed.
    // Scheduled before the call, so a tick that re-arms the timer wins.
    c.deadline_ns += c.interval_ns;
    if (c.deadline_ns <= now)
        c.deadline_ns = now + c.interval_ns;
    if (c.tick_fn != nullptr)
        c.tick_fn(c.context);
}

void plat_pump_wait(PlatClock &clock, plat_port port)
{
    ensure_wake_pipe();
    // The port's backend names the descriptor that turns readable with
    // input; one without (or no port) is not watched.
    int port_fd = -1;
    if (plat_port_is_open(port) && port->ops->wait_handle != nullptr)
        port_fd = static_cast<int>(port->ops->wait_handle(*port));
    bool watch_port = port_fd >= 0;
    bool hung_up = false;
    int wake_fd = wake_pipe.rd.load();
    for (;;) {
        int wait_ms = ms_to_wake(clock);
        if (wait_ms == 0)
            break;
        if (hung_up && wait_ms > HUNG_UP_REST_MS)
            wait_ms = HUNG_UP_REST_MS;
        if (watch_port && port->ops->input_ready(*port))
            break;
        // A hinted wait (the rest of a frame) sleeps without watching the
        // port, to the microsecond, while the bytes cannot all be in yet;
        // a wake-up still ends it.  The loop head then looks again.
        int64_t quiet_us = watch_port ? posix_port_quiet_us(*port) : 0;
        if (quiet_us > 0) {
            if (quiet_us > static_cast<int64_t>(wait_ms) * 1000)
                quiet_us = static_cast<int64_t>(wait_ms) * 1000;
            struct pollfd wake = {wake_fd, POLLIN, 0};
            struct timespec ts = {static_cast<time_t>(quiet_us / 1000000),
                                  static_cast<long>(quiet_us % 1000000) * 1000};
            if (ppoll(&wake, wake_fd >= 0 ? 1 : 0, &ts, nullptr) != 0)
                break;   // woken, or a signal
            continue;
        }
        // Nor does it last longer than the port allows.
        int port_ms = watch_port ? posix_port_wait_limit_ms(*port) : -1;
        bool port_limited = port_ms >= 0 && port_ms < wait_ms;
        if (port_limited)
            wait_ms = port_ms;
        struct pollfd fds[2];
        int nfds = 0;
        if (wake_fd >= 0)
            fds[nfds++] = {wake_fd, POLLIN, 0};
        int port_slot = -1;
        if (watch_port) {
            port_slot = nfds;
            fds[nfds++] = {port_fd, POLLIN, 0};
        }
        int n = poll(fds, static_cast<nfds_t>(nfds), wait_ms);
        if (n < 0)
            break;   // a signal: its handler may have asked for an abort
        if (n == 0) {
            if (port_limited)
                continue;   // the loop head ends the hinted wait
            if (!plat_clock_state<PosixClock>(clock).timer_on || hung_up)
                break;   // the idle limit, or the rest on a hung-up port
            continue;    // the loop head sees the tick due
        }
        if (wake_fd >= 0 && fds[0].revents != 0)
            break;
        if (port_slot >= 0) {
            short ev = fds[port_slot].revents;
            if (ev & (POLLERR | POLLHUP | POLLNVAL)) {
                watch_port = false;
                hung_up = true;
                continue;
            }
            if (ev & POLLIN)
                break;
        }
    }
    drain_wake_pipe();
    plat_pump_messages(clock);
}

void plat_wake()
{
    // Async-signal-safe: one write(); a full pipe already holds a wake-up.
    int fd = wake_pipe.wr.load();
    if (fd >= 0) {
        int saved = errno;
        char one = 1;
        ssize_t r = write(fd, &one, 1);
        (void)r;
        errno = saved;
    }
}

void plat_sleep_ms(uint32_t ms)
{
    struct timespec req;
    req.tv_sec = ms / 1000;
    req.tv_nsec = static_cast<long>(ms % 1000) * NS_PER_MS;
    struct timespec rem;
    while (nanosleep(&req, &rem) != 0 && errno == EINTR)
        req = rem;
}

uint64_t plat_clock_ms() { return static_cast<uint64_t>(now_ns() / NS_PER_MS); }

// Nothing here watches the protocol's states.
void plat_note_state(const char *) {}
