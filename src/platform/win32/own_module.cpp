// own_module.cpp - the module that holds this library's resources.
#include "platform/win32/own_module.h"

namespace {
constexpr const char *LIBRARY_FILE_NAME = "Orv5w32.dll";
}

HMODULE own_module()
{
    HMODULE m = GetModuleHandleA(LIBRARY_FILE_NAME);
    if (m != nullptr)
        return m;
    // Renamed file: find the module by an address inside it.
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(&own_module), &m))
        return m;
    return GetModuleHandleA(nullptr);
}
