// library_win32.cpp - loading a plug-in library on Win32.
#include "platform/library.h"

#include <windows.h>

void *plat_lib_load(const char *path)
{
    if (path == nullptr || *path == '\0')
        return nullptr;
    return reinterpret_cast<void *>(LoadLibraryA(path));
}

void *plat_lib_symbol(void *lib, const char *name)
{
    if (lib == nullptr || name == nullptr)
        return nullptr;
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(lib), name));
}

void plat_lib_free(void *lib)
{
    if (lib != nullptr)
        FreeLibrary(static_cast<HMODULE>(lib));
}
