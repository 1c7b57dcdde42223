// library.h - loading a plug-in library at run time.
#pragma once

// Loads the library at path (the platform's search rules apply to a bare
// name).  Null on failure.
void *plat_lib_load(const char *path);

// Address of the export name, or null.
void *plat_lib_symbol(void *lib, const char *name);

void plat_lib_free(void *lib);
