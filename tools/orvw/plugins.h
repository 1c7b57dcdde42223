// plugins.h - the adapter plug-ins as orvw shows them: --adapter-info and
// the list at the end of --help.  They are found the way the library
// finds them (platform/library.h).
#pragma once

#include <cstdio>

// orvw --adapter-info=NAME|PATH: the device name on stdout; 0, or
// ORV5_E_ADAPTER_LOAD with a line on stderr.
int print_adapter_info(const char *name);

// The plug-ins of the plug-in folders with their device names.
void list_plugins(std::FILE *out);
