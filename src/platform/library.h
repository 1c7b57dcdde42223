// library.h - loading a plug-in library at run time.
#pragma once

#include <cstddef>

// Room for a plug-in's full path with its NUL, bytes (Linux PATH_MAX; far
// above Win32's MAX_PATH).
constexpr size_t PLAT_LIB_PATH_SIZE = 4096;

// Folders searched for a plug-in named without a path, best first.
constexpr int PLAT_PLUGIN_DIRS_MAX = 2;   // beside the library, installed
struct PluginDirs {
    int count;
    char dir[PLAT_PLUGIN_DIRS_MAX][PLAT_LIB_PATH_SIZE];
};

// The plug-in folders of the library whose code holds the address anchor.
// Win32: the library's own folder.  POSIX: the folder "orv5w32" beside the
// library, then the installed plug-in folder.
void plat_plugin_dirs(const void *anchor, PluginDirs &dirs);

// The file to load for the plug-in name.  A name with a path (a folder
// separator, on Win32 also a drive) is used as given (on Win32 made
// absolute against the current folder).  A bare name is
// looked up only in the plug-in folders, never in the current folder or
// the program search path, with the platform's suffix (".dll", ".so")
// added when it has no extension; the first existing file wins.  False
// when no file was found or the path does not fit size.
bool plat_plugin_resolve(const void *anchor, const char *name, char *path, size_t size);

// Loads the plug-in name, found by plat_plugin_resolve for this library.
// Null on failure (the reason is kept, os_reason.h).
void *plat_lib_load(const char *name);

// Address of the export name, or null.
void *plat_lib_symbol(void *lib, const char *name);

void plat_lib_free(void *lib);
