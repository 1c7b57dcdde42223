// adapter.h - running the adapter plug-in named by the session.
#pragma once

#include "platform/serial_port.h"

// Loads the plug-in path (a bare name is looked up in the library's
// plug-in folder only, platform/library.h), calls its InitIrDevice once
// with port and unloads it again on every path.  0 when path is empty or
// the adapter is ready; ORV5_E_ADAPTER_LOAD when the library cannot be
// loaded or has no InitIrDevice, ORV5_E_ADAPTER_SPEED when the adapter
// refuses the port's speed, ORV5_E_ADAPTER_FAILED for any other failure,
// and, without loading anything, for a port that has no OS handle (a
// network port; the reason says so).
int load_adapter(const char *path, plat_port port);
