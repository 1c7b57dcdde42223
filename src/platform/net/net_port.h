// net_port.h - serial ports on the network: a serial device server reached
// by TCP, either speaking the telnet com port control option
// ("rfc2217://HOST:PORT") or passing raw bytes ("tcp://HOST:PORT").
//
// Both platforms use the same backend (net_port.cpp) on their own socket
// calls (net_socket.h).  Its wait_handle is the socket, which the POSIX
// pump polls as it polls a tty; its wait_input waits on the socket for at
// most one read slice, as the Win32 pump expects of a port; its os_handle
// is -1: adapter plug-ins act on a local port's handle, which a socket is
// not.
#pragma once

#include <cstddef>
#include "platform/serial_port.h"

// One table for both kinds: the port's record knows which it speaks.
extern const PortOps NET_PORT_OPS;

enum class NetScheme { None, Rfc2217, Tcp };

// Which kind of network port name is ("rfc2217://", "tcp://", any case);
// None for every other name.
NetScheme net_scheme(const char *name);

// HOST as the name gives it (brackets of an IPv6 literal removed) and
// PORT as decimal text.
constexpr size_t NET_HOST_SIZE = 256;
struct NetAddress {
    NetScheme scheme;
    char host[NET_HOST_SIZE];
    char port[6];
};

// Splits "scheme://HOST:PORT": HOST a name, an IPv4 literal or an IPv6
// literal in brackets, PORT 1..65535, nothing after it.  False for any
// other form.
bool net_parse_address(const char *name, NetAddress *out);

// Longest wait for a connection, ms, over all addresses of the name.
constexpr uint32_t NET_CONNECT_MS = 5000;

// Longest wait for the server's answers to the opening option requests,
// ms; a server that has not answered by then is used as a plain telnet
// port.
constexpr uint32_t NET_NEGOTIATE_MS = 2000;

// Longest wait for the server's replies to the line settings, ms.
constexpr uint32_t NET_REPLY_MS = 3000;

// Longest the read slice of wait_input, ms: how late the Win32 pump
// notices a message or an abort while it waits on a network port.
constexpr uint32_t NET_WAIT_SLICE_MS = 10;
