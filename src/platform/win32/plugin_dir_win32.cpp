// plugin_dir_win32.cpp - where plug-ins named without a path are found.
#include "platform/library.h"

#include <cstdio>
#include <cstring>
#include <windows.h>

namespace {

constexpr const char PLUGIN_SUFFIX[] = ".dll";

bool is_separator(char c) { return c == '\\' || c == '/'; }

bool has_path(const char *name)
{
    return std::strpbrk(name, "\\/") != nullptr || (name[0] != '\0' && name[1] == ':');
}

// An extension is a dot in the last path part; Windows adds ".dll" to a
// name without one (a trailing dot means "no extension" to it).
bool has_extension(const char *name) { return std::strchr(name, '.') != nullptr; }

}   // namespace

void plat_plugin_dirs(const void *anchor, PluginDirs &dirs)
{
    dirs.count = 0;
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(anchor), &module))
        return;
    char *dir = dirs.dir[0];
    DWORD n = GetModuleFileNameA(module, dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return;
    while (n > 0 && !is_separator(dir[n - 1]))
        --n;
    if (n == 0)
        return;
    dir[n - 1] = '\0';   // without the separator
    dirs.count = 1;
}

bool plat_plugin_resolve(const void *anchor, const char *name, char *path, size_t size)
{
    if (name == nullptr || *name == '\0' || size == 0)
        return false;
    if (has_path(name)) {
        // Made absolute against the current folder, so that the loader
        // takes it as it stands instead of searching for it.
        DWORD n = GetFullPathNameA(name, static_cast<DWORD>(size), path, nullptr);
        return n > 0 && n < size;
    }
    const char *suffix = has_extension(name) ? "" : PLUGIN_SUFFIX;
    PluginDirs dirs;
    plat_plugin_dirs(anchor, dirs);
    for (int i = 0; i < dirs.count; ++i) {
        int n = std::snprintf(path, size, "%s\\%s%s", dirs.dir[i], name, suffix);
        if (n > 0 && static_cast<size_t>(n) < size &&
            GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
            return true;
    }
    return false;
}
