// library_posix.cpp - plug-in libraries through the dynamic loader.
#include "platform/library.h"

#include <dlfcn.h>

#include "platform/os_reason.h"

void *plat_lib_load(const char *name)
{
    char path[PLAT_LIB_PATH_SIZE];
    // This function's own address names the library it is part of.
    if (!plat_plugin_resolve(reinterpret_cast<const void *>(&plat_lib_load), name, path,
                             sizeof path)) {
        plat_reason_set(name != nullptr ? name : "", "no such plug-in in the plug-in folder");
        return nullptr;
    }
    // Bound now, so a plug-in with a missing symbol fails here and not in
    // the middle of its call; kept local, so two plug-ins cannot clash.
    void *lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) {
        const char *why = dlerror();
        plat_reason_set(path, why != nullptr ? why : "cannot be loaded");
    }
    return lib;
}

void *plat_lib_symbol(void *lib, const char *name)
{
    if (lib == nullptr || name == nullptr)
        return nullptr;
    return dlsym(lib, name);
}

void plat_lib_free(void *lib)
{
    if (lib != nullptr)
        dlclose(lib);
}
