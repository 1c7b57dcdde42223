// library_posix.cpp - plug-in libraries through the dynamic loader.
#include "platform/library.h"

#include <dlfcn.h>

void *plat_lib_load(const char *path)
{
    if (path == nullptr || *path == '\0')
        return nullptr;
    // Bound now, so a plug-in with a missing symbol fails here and not in
    // the middle of its call; kept local, so two plug-ins cannot clash.
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
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
