// adapter.cpp - running the adapter plug-in named by the session.
#include "link/adapter.h"

#include "orv5_adapter.h"
#include "orv5w32.h"
#include "platform/library.h"
#include "platform/os_reason.h"

namespace {

Orv5Result session_result(int init_result)
{
    if (init_result == ORV5_ADAPTER_READY)
        return ORV5_OK;
    return init_result == ORV5_ADAPTER_BAD_SPEED ? ORV5_E_ADAPTER_SPEED : ORV5_E_ADAPTER_FAILED;
}

}   // namespace

Orv5Result load_adapter(const char *path, plat_port port)
{
    if (path == nullptr || path[0] == '\0')
        return ORV5_OK;
    // A plug-in acts on the port's OS handle directly; a port without one
    // (a network port) cannot serve it.
    if (plat_port_os_handle(port) == -1) {
        plat_reason_set(path, "adapter plug-ins need a local port; this port is on the network");
        return ORV5_E_ADAPTER_FAILED;
    }
    void *lib = plat_lib_load(path);
    if (lib == nullptr)
        return ORV5_E_ADAPTER_LOAD;
    auto init = reinterpret_cast<orv5_init_ir_device_fn>(plat_lib_symbol(lib, "InitIrDevice"));
    if (init == nullptr) {
        plat_lib_free(lib);
        return ORV5_E_ADAPTER_LOAD;
    }
    // A HANDLE or an fd, as the contract says: what the port's backend
    // gives as its OS handle.
    int rc = init((orv5_port_handle)plat_port_os_handle(port));
    plat_lib_free(lib);   // a plug-in never stays loaded beyond its call
    return session_result(rc);
}
