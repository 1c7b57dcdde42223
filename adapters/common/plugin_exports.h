// plugin_exports.h - the two exports every adapter plug-in defines.
#pragma once

#include "orv5_adapter.h"

#if defined(_WIN32)
#  define ORV5_PLUGIN_EXPORT   // exported by name through plugin.def
#else
#  define ORV5_PLUGIN_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
ORV5_PLUGIN_EXPORT int ORV5_ADAPTER_CALL InitIrDevice(orv5_port_handle port);
ORV5_PLUGIN_EXPORT char *ORV5_ADAPTER_CALL GetDllVersion(char *buf);
}

// A device name that fits the caller's buffer with its NUL.
#define ORV5_DEVICE_NAME(text) \
  static_assert(sizeof(text) <= ORV5_ADAPTER_NAME_SIZE, "device name too long"); \
  constexpr const char DEVICE_NAME[] = text
