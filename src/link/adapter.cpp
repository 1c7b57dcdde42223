// adapter.cpp - running the adapter plug-in named by the session.
#include "link/adapter.h"

#include "orv5_adapter.h"
#include "platform/library.h"

int load_adapter(const char *path, plat_port port)
{
    if (path == nullptr || path[0] == '\0')
        return 0;
    void *lib = plat_lib_load(path);
    if (lib == nullptr)
        return 81;
    auto init = reinterpret_cast<orv5_init_ir_device_fn>(plat_lib_symbol(lib, "InitIrDevice"));
    if (init == nullptr) {
        plat_lib_free(lib);
        return 81;
    }
    int rc = init((orv5_port_handle)port);
    plat_lib_free(lib);   // a plug-in never stays loaded beyond its call
    if (rc == ORV5_ADAPTER_BAD_SPEED)
        return 82;
    return rc == ORV5_ADAPTER_READY ? 0 : 80;
}
