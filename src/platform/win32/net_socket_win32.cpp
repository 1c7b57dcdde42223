// net_socket_win32.cpp - the network port's socket calls on Winsock.
//
// Each open socket holds one reference to Winsock (WSAStartup at connect,
// WSACleanup at close), so nothing stays initialised after the last port
// closes.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/net/net_socket.h"
#include "platform/os_reason.h"

namespace {

// Longest wait at close for the server's end of the stream, ms.
constexpr uint32_t CLOSE_LINGER_MS = 200;

// Keeps the reason for a Winsock error code.
void note_error(const char *shown, int err)
{
    SetLastError(static_cast<DWORD>(err));
    plat_reason_note(shown);
}

uint32_t remaining_ms(uint64_t deadline)
{
    uint64_t now = net_clock_ms();
    return now >= deadline ? 0 : static_cast<uint32_t>(deadline - now);
}

// select() on one socket for reading (or writing), at most ms.  > 0 when
// ready; with except, a failed connect counts as ready too.
int wait_socket(SOCKET s, bool write, uint32_t ms, bool *failed = nullptr)
{
    fd_set set, errors;
    FD_ZERO(&set);
    FD_ZERO(&errors);
    FD_SET(s, &set);
    FD_SET(s, &errors);
    timeval tv;
    tv.tv_sec = static_cast<long>(ms / 1000);
    tv.tv_usec = static_cast<long>(ms % 1000) * 1000;
    int n = select(0, write ? nullptr : &set, write ? &set : nullptr, &errors, &tv);
    if (failed != nullptr)
        *failed = n > 0 && FD_ISSET(s, &errors);
    return n;
}

// One address, connected within the deadline; INVALID_SOCKET with *err.
SOCKET connect_one(const addrinfo *ai, uint64_t deadline, int *err)
{
    SOCKET s = socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
    if (s == INVALID_SOCKET) {
        *err = WSAGetLastError();
        return s;
    }
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
    if (connect(s, ai->ai_addr, static_cast<int>(ai->ai_addrlen)) == 0)
        return s;
    *err = WSAGetLastError();
    if (*err == WSAEWOULDBLOCK) {
        bool failed = false;
        int n = wait_socket(s, true, remaining_ms(deadline), &failed);
        if (n > 0 && !failed)
            return s;
        *err = WSAETIMEDOUT;
        if (n > 0) {
            int so = 0;
            int len = sizeof so;
            getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&so), &len);
            *err = so != 0 ? so : WSAECONNREFUSED;
        }
    }
    closesocket(s);
    return INVALID_SOCKET;
}

}   // namespace

bool net_connect(const char *host, const char *port, uint32_t timeout_ms, const char *shown,
                 net_sock *out)
{
    *out = NET_SOCK_NONE;
    WSADATA wsa;
    int rc = WSAStartup(MAKEWORD(2, 2), &wsa);
    if (rc != 0) {
        note_error(shown, rc);
        return false;
    }
    uint64_t deadline = net_clock_ms() + timeout_ms;
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *list = nullptr;
    rc = getaddrinfo(host, port, &hints, &list);
    if (rc != 0) {
        note_error(shown, rc);
        WSACleanup();
        return false;
    }
    SOCKET s = INVALID_SOCKET;
    int err = WSAETIMEDOUT;
    for (const addrinfo *ai = list; ai != nullptr && s == INVALID_SOCKET; ai = ai->ai_next) {
        if (remaining_ms(deadline) == 0)
            break;
        s = connect_one(ai, deadline, &err);
    }
    freeaddrinfo(list);
    if (s == INVALID_SOCKET) {
        if (err == WSAETIMEDOUT) {
            char text[64];
            std::snprintf(text, sizeof text, "no connection within %u s",
                          static_cast<unsigned>(timeout_ms / 1000));
            plat_reason_set(shown, text);
        } else {
            note_error(shown, err);
        }
        WSACleanup();
        return false;
    }
    // Frames and answers are small and each waits for the other side.
    BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&one), sizeof one);
    *out = static_cast<net_sock>(s);
    return true;
}

int net_recv(net_sock s, uint8_t *buf, uint32_t cap, const char *shown)
{
    int r = recv(static_cast<SOCKET>(s), reinterpret_cast<char *>(buf), static_cast<int>(cap), 0);
    if (r > 0)
        return r;
    if (r == 0)
        return cap == 0 ? NET_RECV_NOTHING : NET_RECV_CLOSED;
    int err = WSAGetLastError();
    if (err == WSAEWOULDBLOCK)
        return NET_RECV_NOTHING;
    note_error(shown, err);
    return NET_RECV_FAILED;
}

bool net_send_all(net_sock s, const uint8_t *buf, uint32_t len, uint32_t stall_ms,
                  const char *shown, uint32_t *sent)
{
    SOCKET sock = static_cast<SOCKET>(s);
    uint32_t done = 0;
    uint64_t give_up = net_clock_ms() + stall_ms;
    bool ok = true;
    while (done < len) {
        int r = send(sock, reinterpret_cast<const char *>(buf + done), static_cast<int>(len - done),
                     0);
        if (r > 0) {
            done += static_cast<uint32_t>(r);
            give_up = net_clock_ms() + stall_ms;
            continue;
        }
        int err = WSAGetLastError();
        if (r < 0 && err == WSAEWOULDBLOCK) {
            uint32_t left = remaining_ms(give_up);
            if (left == 0) {
                plat_reason_set(shown, "sending stalled (the server takes no more bytes)");
                ok = false;
                break;
            }
            wait_socket(sock, true, left);
            continue;
        }
        note_error(shown, err);
        ok = false;
        break;
    }
    *sent = done;
    return ok;
}

bool net_wait_readable(net_sock s, uint32_t ms)
{
    return wait_socket(static_cast<SOCKET>(s), false, ms) > 0;
}

bool net_input_waiting(net_sock s)
{
    u_long waiting = 0;
    return ioctlsocket(static_cast<SOCKET>(s), FIONREAD, &waiting) == 0 && waiting > 0;
}

uint32_t net_unsent(net_sock)
{
    // Winsock does not tell; a send has returned once the stack took the
    // bytes, which is as far as "sent" goes here.
    return 0;
}

void net_close(net_sock s)
{
    if (s == NET_SOCK_NONE)
        return;
    SOCKET sock = static_cast<SOCKET>(s);
    // The end of the stream follows the last byte; unread input at close
    // would reset the connection instead.
    shutdown(sock, SD_SEND);
    uint64_t deadline = net_clock_ms() + CLOSE_LINGER_MS;
    char sink[256];
    for (;;) {
        int r = recv(sock, sink, sizeof sink, 0);
        if (r > 0)
            continue;
        if (r == 0 || WSAGetLastError() != WSAEWOULDBLOCK)
            break;
        uint32_t left = remaining_ms(deadline);
        if (left == 0)
            break;
        wait_socket(sock, false, left);
    }
    closesocket(sock);
    WSACleanup();
}

uint64_t net_clock_ms() { return GetTickCount64(); }
