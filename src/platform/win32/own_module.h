// own_module.h - the module that holds this library's resources.
#pragma once

#include <windows.h>

// The library's module, looked up by its file name; when the library was
// loaded under another name (or linked into a program), the module that
// contains this code.  Never null.
HMODULE own_module();
