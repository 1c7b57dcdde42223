// adapter.h - running the adapter plug-in named by the session.
#pragma once

#include "platform/serial_port.h"

// Loads the plug-in at path, calls its InitIrDevice with port and unloads
// it again.  0 (no plug-in, or ready), 80 failed, 81 cannot load / no
// export, 82 unsupported speed.
int load_adapter(const char *path, plat_port port);
