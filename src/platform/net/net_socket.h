// net_socket.h - the few socket calls a network port needs, one file per
// platform (posix/net_socket_posix.cpp, win32/net_socket_win32.cpp).
//
// A socket here is always non-blocking.  Every failure keeps its reason
// (os_reason.h) naming the port as shown, in the system's own words.
#pragma once

#include <cstdint>

using net_sock = intptr_t;
constexpr net_sock NET_SOCK_NONE = -1;

// Resolves host and connects to port (decimal text), trying each address
// the name has until one connects or timeout_ms have passed in all.  The
// reason of a failure names shown.
bool net_connect(const char *host, const char *port, uint32_t timeout_ms, const char *shown,
                 net_sock *out);

// What a receive gave.
constexpr int NET_RECV_NOTHING = 0;   // nothing waits
constexpr int NET_RECV_CLOSED = -1;   // the server closed the connection
constexpr int NET_RECV_FAILED = -2;   // the connection broke (reset, unreachable ...)

// Takes what waits, at most cap bytes, without waiting: the count, or one
// of the NET_RECV_* values (reason kept for the last two).
int net_recv(net_sock s, uint8_t *buf, uint32_t cap, const char *shown);

// Sends len bytes, waiting while the socket's buffer is full, for at most
// stall_ms without progress.  *sent: bytes that went.  False on failure
// (reason kept).
bool net_send_all(net_sock s, const uint8_t *buf, uint32_t len, uint32_t stall_ms,
                  const char *shown, uint32_t *sent);

// Waits at most ms until input (or the end of the connection) waits.
bool net_wait_readable(net_sock s, uint32_t ms);

// True when received bytes wait.
bool net_input_waiting(net_sock s);

// Bytes sent but not yet taken by the server's side, where the platform
// can tell; 0 where it cannot.
uint32_t net_unsent(net_sock s);

// Ends the sending direction (the server sees the end of the stream
// after the last byte) and closes the socket.
void net_close(net_sock s);

// A monotonic clock, ms, for the port's own bounded waits.
uint64_t net_clock_ms();
