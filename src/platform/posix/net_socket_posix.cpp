// net_socket_posix.cpp - the network port's socket calls on POSIX sockets.
#include "platform/net/net_socket.h"
#include "platform/os_reason.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#if defined(__linux__)
#  include <linux/sockios.h>
#endif

namespace {

// Longest wait at close for the server's end of the stream, ms: long
// enough for the last answers in flight, short enough not to hold the
// caller.
constexpr int CLOSE_LINGER_MS = 200;

int remaining_ms(uint64_t deadline)
{
    uint64_t now = net_clock_ms();
    return now >= deadline ? 0 : static_cast<int>(deadline - now);
}

// One address: a non-blocking connect, finished within the deadline.  -1
// with errno set on failure (ETIMEDOUT when the deadline passed).
int connect_one(const struct addrinfo *ai, uint64_t deadline)
{
    int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0)
        return -1;
    if (connect(fd, ai->ai_addr, ai->ai_addrlen) == 0)
        return fd;
    if (errno != EINPROGRESS) {
        int err = errno;
        close(fd);
        errno = err;
        return -1;
    }
    for (;;) {
        int left = remaining_ms(deadline);
        struct pollfd pfd = {fd, POLLOUT, 0};
        int n = left > 0 ? poll(&pfd, 1, left) : 0;
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            int err = n == 0 ? ETIMEDOUT : errno;
            close(fd);
            errno = err;
            return -1;
        }
        int err = 0;
        socklen_t len = sizeof err;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
            err = errno;
        if (err == 0)
            return fd;
        close(fd);
        errno = err;
        return -1;
    }
}

}   // namespace

bool net_connect(const char *host, const char *port, uint32_t timeout_ms, const char *shown,
                 net_sock *out)
{
    *out = NET_SOCK_NONE;
    uint64_t deadline = net_clock_ms() + timeout_ms;
    struct addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    struct addrinfo *list = nullptr;
    int rc = getaddrinfo(host, port, &hints, &list);
    if (rc != 0) {
        if (rc == EAI_SYSTEM)
            plat_reason_note(shown);
        else
            plat_reason_set(shown, gai_strerror(rc));
        return false;
    }
    int fd = -1;
    int err = ETIMEDOUT;
    for (const struct addrinfo *ai = list; ai != nullptr && fd < 0; ai = ai->ai_next) {
        if (remaining_ms(deadline) == 0)
            break;
        fd = connect_one(ai, deadline);
        if (fd < 0)
            err = errno;
    }
    freeaddrinfo(list);
    if (fd < 0) {
        errno = err;
        if (err == ETIMEDOUT) {
            char text[64];
            std::snprintf(text, sizeof text, "no connection within %u s (%s)",
                          static_cast<unsigned>(timeout_ms / 1000), std::strerror(err));
            plat_reason_set(shown, text);
        } else {
            plat_reason_note(shown);
        }
        return false;
    }
    // Frames and answers are small and each waits for the other side:
    // they go at once rather than wait to fill a segment.
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    *out = fd;
    return true;
}

int net_recv(net_sock s, uint8_t *buf, uint32_t cap, const char *shown)
{
    ssize_t r;
    do {
        r = recv(static_cast<int>(s), buf, cap, 0);
    } while (r < 0 && errno == EINTR);
    if (r > 0)
        return static_cast<int>(r);
    if (r == 0)
        return cap == 0 ? NET_RECV_NOTHING : NET_RECV_CLOSED;
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return NET_RECV_NOTHING;
    plat_reason_note(shown);
    return NET_RECV_FAILED;
}

bool net_send_all(net_sock s, const uint8_t *buf, uint32_t len, uint32_t stall_ms,
                  const char *shown, uint32_t *sent)
{
    int fd = static_cast<int>(s);
    uint32_t done = 0;
    uint64_t give_up = net_clock_ms() + stall_ms;
    bool ok = true;
    while (done < len) {
        ssize_t r = send(fd, buf + done, len - done, MSG_NOSIGNAL);
        if (r > 0) {
            done += static_cast<uint32_t>(r);
            give_up = net_clock_ms() + stall_ms;
            continue;
        }
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            int left = remaining_ms(give_up);
            if (left == 0) {
                plat_reason_set(shown, "sending stalled (the server takes no more bytes)");
                ok = false;
                break;
            }
            struct pollfd pfd = {fd, POLLOUT, 0};
            if (poll(&pfd, 1, left) < 0 && errno != EINTR) {
                plat_reason_note(shown);
                ok = false;
                break;
            }
            continue;
        }
        plat_reason_note(shown);
        ok = false;
        break;
    }
    *sent = done;
    return ok;
}

bool net_wait_readable(net_sock s, uint32_t ms)
{
    struct pollfd pfd = {static_cast<int>(s), POLLIN, 0};
    return poll(&pfd, 1, static_cast<int>(ms)) > 0;
}

bool net_input_waiting(net_sock s)
{
    int waiting = 0;
    return ioctl(static_cast<int>(s), FIONREAD, &waiting) == 0 && waiting > 0;
}

uint32_t net_unsent(net_sock s)
{
#if defined(SIOCOUTQ)
    int queued = 0;
    if (ioctl(static_cast<int>(s), SIOCOUTQ, &queued) == 0 && queued > 0)
        return static_cast<uint32_t>(queued);
#else
    (void)s;
#endif
    return 0;
}

void net_close(net_sock s)
{
    if (s == NET_SOCK_NONE)
        return;
    int fd = static_cast<int>(s);
    // The end of the stream follows the last byte; input still unread at
    // close would make the system reset the connection instead, which may
    // cost the server the bytes it has not passed on yet.
    shutdown(fd, SHUT_WR);
    uint64_t deadline = net_clock_ms() + CLOSE_LINGER_MS;
    uint8_t sink[256];
    for (;;) {
        ssize_t r = recv(fd, sink, sizeof sink, 0);
        if (r > 0)
            continue;
        if (r == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            break;
        int left = remaining_ms(deadline);
        if (left == 0)
            break;
        struct pollfd pfd = {fd, POLLIN, 0};
        poll(&pfd, 1, left);
    }
    close(fd);
}

uint64_t net_clock_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000;
}
