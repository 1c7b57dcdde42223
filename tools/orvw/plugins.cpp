// plugins.cpp - the adapter plug-ins for --adapter-info and --help.
#include "plugins.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "orv5_adapter.h"
#include "orv5w32.h"
#include "platform/library.h"

#if !defined(_WIN32)
#  include <dirent.h>
#  include <dlfcn.h>
#endif

namespace {

// What a plug-in's GetDllVersion may write: the contract's 27 bytes, with
// room for one that writes more.
constexpr int DEVICE_NAME_BUF_SIZE = 256;

#if defined(_WIN32)
constexpr const char PLUGIN_SUFFIX[] = ".dll";
constexpr const char LIBRARY_FILE_NAME[] = "Orv5w32.dll";

// An address inside the loaded library, which names its plug-in folder.
const void *library_anchor()
{
    return reinterpret_cast<const void *>(GetModuleHandleA(LIBRARY_FILE_NAME));
}

void *open_plugin(const char *path)
{
    return reinterpret_cast<void *>(LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

void *plugin_symbol(void *lib, const char *name)
{
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(lib), name));
}

void close_plugin(void *lib) { FreeLibrary(static_cast<HMODULE>(lib)); }

std::vector<std::string> library_files(const char *dir)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((std::string(dir) + "\\*" + PLUGIN_SUFFIX).c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (FindNextFileA(h, &found));
    FindClose(h);
    return names;
}

const char DIR_SEPARATOR = '\\';
#else
constexpr const char PLUGIN_SUFFIX[] = ".so";

const void *library_anchor() { return dlsym(RTLD_DEFAULT, "ExecOrv5"); }

void *open_plugin(const char *path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
void *plugin_symbol(void *lib, const char *name) { return dlsym(lib, name); }
void close_plugin(void *lib) { dlclose(lib); }

std::vector<std::string> library_files(const char *dir)
{
    std::vector<std::string> names;
    DIR *d = opendir(dir);
    if (d == nullptr)
        return names;
    const size_t suffix_len = std::strlen(PLUGIN_SUFFIX);
    while (dirent *e = readdir(d)) {
        size_t len = std::strlen(e->d_name);
        if (len > suffix_len && std::strcmp(e->d_name + len - suffix_len, PLUGIN_SUFFIX) == 0)
            names.push_back(e->d_name);
    }
    closedir(d);
    return names;
}

const char DIR_SEPARATOR = '/';
#endif

// The device name the plug-in at path reports; false when it cannot be
// loaded or is no plug-in (no InitIrDevice or no GetDllVersion).
bool plugin_device_name(const char *path, std::string &device)
{
    void *lib = open_plugin(path);
    if (lib == nullptr)
        return false;
    auto get_name = reinterpret_cast<orv5_get_dll_version_fn>(plugin_symbol(lib, "GetDllVersion"));
    bool ok = get_name != nullptr && plugin_symbol(lib, "InitIrDevice") != nullptr;
    if (ok) {
        char buf[DEVICE_NAME_BUF_SIZE] = {};
        const char *name = get_name(buf);
        ok = name != nullptr;
        if (ok)
            device.assign(name, strnlen(name, DEVICE_NAME_BUF_SIZE - 1));
    }
    close_plugin(lib);
    return ok;
}

}   // namespace

int print_adapter_info(const char *name)
{
    char path[PLAT_LIB_PATH_SIZE];
    std::string device;
    if (!plat_plugin_resolve(library_anchor(), name, path, sizeof path)) {
        std::fprintf(stderr, "orvw: no adapter plug-in '%s' in the plug-in folder\n", name);
        return ORV5_E_ADAPTER_LOAD;
    }
    if (!plugin_device_name(path, device)) {
        std::fprintf(stderr, "orvw: %s is no adapter plug-in or cannot be loaded\n", path);
        return ORV5_E_ADAPTER_LOAD;
    }
    std::printf("%s\n", device.c_str());
    return 0;
}

void list_plugins(FILE *out)
{
    PluginDirs dirs;
    plat_plugin_dirs(library_anchor(), dirs);
    for (int i = 0; i < dirs.count; ++i) {
        std::vector<std::string> files = library_files(dirs.dir[i]);
        if (files.empty() && i > 0)
            continue;   // an installed folder that does not exist
        std::sort(files.begin(), files.end());
        std::fprintf(out, "\nAdapter plug-ins for +I in %s:\n", dirs.dir[i]);
        int shown = 0;
        for (const std::string &file : files) {
            std::string device;
            if (!plugin_device_name((dirs.dir[i] + (DIR_SEPARATOR + file)).c_str(), device))
                continue;
            std::string bare = file.substr(0, file.size() - std::strlen(PLUGIN_SUFFIX));
            std::fprintf(out, "  %-10s %s\n", bare.c_str(), device.c_str());
            ++shown;
        }
        if (shown == 0)
            std::fprintf(out, "  (none)\n");
    }
}
