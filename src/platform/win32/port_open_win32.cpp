// port_open_win32.cpp - which port a name means on Win32, and which
// backend opens it.
//
// "COMn" is a COM handle.  A network port is one more row in BACKENDS: a
// name such as "tcp://host:port" or "rfc2217://host:port" picks a backend
// whose record holds the socket and the protocol's state and whose
// wait_input waits on the socket for at most the read slice (so the pump
// goes on as with a COM handle); its os_handle is -1 (no plug-in drives an
// adapter over a network).  The channel and the pump stay as they are.
#include "platform/serial_port.h"
#include "platform/os_reason.h"
#include "platform/win32/win32_port.h"

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

}  // namespace

bool plat_port_name(unsigned com_number, char *out, size_t size)
{
    int len = std::snprintf(out, size, "COM%u", com_number);
    return len > 0 && static_cast<size_t>(len) < size;
}

const PortOps *plat_port_backend(const char *name)
{
    for (const Backend &b : BACKENDS)
        if (std::strncmp(name, b.prefix, std::strlen(b.prefix)) == 0)
            return b.ops;
    plat_reason_set(name, "no backend opens this kind of port");
    return nullptr;
}
