// port_open_posix.cpp - which port a name means on POSIX, and which
// backend opens it.
//
// A name of the form "rfc2217://HOST:PORT" or "tcp://HOST:PORT" is a
// network port (platform/net/net_port.h): its wait_handle is the socket, so
// the pump polls it as it polls a tty, and its os_handle is -1 (no plug-in
// drives an adapter over a network).  Every other name is a device path,
// opened as a terminal.
#include "platform/serial_port.h"
#include "platform/os_reason.h"
#include "platform/net/net_port.h"
#include "platform/posix/posix_port.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// "ORV5_COM" + up to 10 digits + NUL.
constexpr size_t ENV_NAME_SIZE = 8 + 10 + 1;

struct Backend {
    const char *prefix;   // names starting with it; "" matches every name
    const PortOps *ops;
};

// Looked at in order; the first match opens the port.
const Backend BACKENDS[] = {
    {"", &POSIX_TTY_OPS},
};

}   // namespace

bool plat_port_name(unsigned com_number, char *out, size_t size)
{
    if (com_number == 0) {
        plat_reason_set("COM0", "there is no port 0");
        return false;
    }
    const char *dev = std::getenv("ORV5_DEVICE");
    if (dev == nullptr || *dev == '\0') {
        char name[ENV_NAME_SIZE];
        std::snprintf(name, sizeof name, "ORV5_COM%u", com_number);
        dev = std::getenv(name);
    }
    int len;
    if (dev != nullptr && *dev != '\0')
        len = std::snprintf(out, size, "%s", dev);
    else
        len = std::snprintf(out, size, "/dev/ttyS%u", com_number - 1);
    if (len > 0 && static_cast<size_t>(len) < size)
        return true;
    // Refused rather than cut: a cut path could name another device.
    plat_reason_set("ORV5_DEVICE", "the device path is too long");
    return false;
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
