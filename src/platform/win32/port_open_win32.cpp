// port_open_win32.cpp - which port a name means on Win32, and which
// backend opens it.
//
// "COMn" is a COM handle.  A name of the form "rfc2217://HOST:PORT" or
// "tcp://HOST:PORT" is a network port (platform/net/net_port.h), whose
// wait_input waits on the socket for at most the read slice, so the pump
// goes on as with a COM handle; its os_handle is -1 (no plug-in drives an
// adapter over a network).
//
// A host names ports by number only (-Pn), so a network port is reached
// through the process environment: ORV5_COMn holding such an address
// (ORV5_DEVICE first, which orvw's --device sets).  Any other value there
// leaves COMn as it is.
#include "platform/serial_port.h"
#include "platform/os_reason.h"
#include "platform/net/net_port.h"
#include "platform/win32/win32_port.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

struct Backend {
    const char *prefix;   // names starting with it
    const PortOps *ops;
};

// Looked at in order; the first match opens the port.
const Backend BACKENDS[] = {
    {"COM", &WIN32_COM_OPS},
};

}   // namespace

namespace {

// "ORV5_COM" + up to 10 digits + NUL.
constexpr size_t ENV_NAME_SIZE = 8 + 10 + 1;

// The network address in the environment variable, into out.
bool network_name(const char *variable, char *out, size_t size)
{
    DWORD len = GetEnvironmentVariableA(variable, out, static_cast<DWORD>(size));
    return len > 0 && len < size && net_scheme(out) != NetScheme::None;
}

}   // namespace

bool plat_port_name(unsigned com_number, char *out, size_t size)
{
    char variable[ENV_NAME_SIZE];
    std::snprintf(variable, sizeof variable, "ORV5_COM%u", com_number);
    if (network_name("ORV5_DEVICE", out, size) || network_name(variable, out, size))
        return true;
    int len = std::snprintf(out, size, "COM%u", com_number);
    return len > 0 && static_cast<size_t>(len) < size;
}

const PortOps *plat_port_backend(const char *name)
{
    if (net_scheme(name) != NetScheme::None)
        return &NET_PORT_OPS;
    for (const Backend &b : BACKENDS)
        if (std::strncmp(name, b.prefix, std::strlen(b.prefix)) == 0)
            return b.ops;
    plat_reason_set(name, "no backend opens this kind of port");
    return nullptr;
}
