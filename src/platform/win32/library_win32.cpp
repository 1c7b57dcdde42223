// library_win32.cpp - loading a plug-in library on Win32.
#include "platform/library.h"

#include <windows.h>

#include "platform/os_reason.h"
#include "platform/win32/own_module.h"

void *plat_lib_load(const char *name)
{
    char path[PLAT_LIB_PATH_SIZE];
    // Any address inside this library names its module: the plug-in
    // folder is the folder of Orv5w32.dll.
    if (!plat_plugin_resolve(reinterpret_cast<const void *>(own_module()), name, path,
                             sizeof path)) {
        plat_reason_set(name != nullptr ? name : "", "no such plug-in beside the library");
        return nullptr;
    }
    // The path is absolute: the plug-in's own dependencies are looked up in
    // its folder first, not in the current folder.
    HMODULE lib = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (lib == nullptr)
        plat_reason_note(path);
    return reinterpret_cast<void *>(lib);
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
