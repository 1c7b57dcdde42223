// plugin_dir_posix.cpp - where plug-ins named without a path are found.
#include "platform/library.h"

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

#ifndef ORV5_PLUGIN_SUBDIR
#  define ORV5_PLUGIN_SUBDIR "orv5w32"
#endif
#ifndef ORV5_PLUGIN_INSTALL_DIR
#  define ORV5_PLUGIN_INSTALL_DIR "/usr/local/lib/" ORV5_PLUGIN_SUBDIR
#endif

namespace {

constexpr const char PLUGIN_SUFFIX[] = ".so";

// "dir/ORV5_PLUGIN_SUBDIR" for the folder of the module holding anchor.
bool folder_beside(const void *anchor, char *out, size_t size)
{
    Dl_info info;
    if (anchor == nullptr || dladdr(anchor, &info) == 0 || info.dli_fname == nullptr)
        return false;
    const char *slash = std::strrchr(info.dli_fname, '/');
    if (slash == nullptr)
        return false;
    int dir_len = static_cast<int>(slash - info.dli_fname);
    int n = std::snprintf(out, size, "%.*s/%s", dir_len, info.dli_fname, ORV5_PLUGIN_SUBDIR);
    return n > 0 && static_cast<size_t>(n) < size;
}

bool has_extension(const char *name) { return std::strchr(name, '.') != nullptr; }

}   // namespace

void plat_plugin_dirs(const void *anchor, PluginDirs &dirs)
{
    dirs.count = 0;
    if (folder_beside(anchor, dirs.dir[0], sizeof dirs.dir[0]))
        ++dirs.count;
    if (dirs.count == 0 || std::strcmp(dirs.dir[0], ORV5_PLUGIN_INSTALL_DIR) != 0) {
        std::snprintf(dirs.dir[dirs.count], sizeof dirs.dir[0], "%s", ORV5_PLUGIN_INSTALL_DIR);
        ++dirs.count;
    }
}

bool plat_plugin_resolve(const void *anchor, const char *name, char *path, size_t size)
{
    if (name == nullptr || *name == '\0' || size == 0)
        return false;
    if (std::strchr(name, '/') != nullptr) {
        int n = std::snprintf(path, size, "%s", name);
        return n > 0 && static_cast<size_t>(n) < size;
    }
    const char *suffix = has_extension(name) ? "" : PLUGIN_SUFFIX;
    PluginDirs dirs;
    plat_plugin_dirs(anchor, dirs);
    for (int i = 0; i < dirs.count; ++i) {
        int n = std::snprintf(path, size, "%s/%s%s", dirs.dir[i], name, suffix);
        if (n > 0 && static_cast<size_t>(n) < size && access(path, F_OK) == 0)
            return true;
    }
    return false;
}
