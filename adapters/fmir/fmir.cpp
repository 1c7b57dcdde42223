// fmir.cpp - plug-in for adapters set up like Orv5AIRM's, byte for byte.
#include "common/plugin_exports.h"
#include "common/procedures.h"

namespace {
ORV5_DEVICE_NAME("Fujitsu FMIR-102");
}

int ORV5_ADAPTER_CALL InitIrDevice(orv5_port_handle port)
{
    return init_command_bytes(port, TWO_BYTE_COMMANDS, TWO_BYTE_COMMAND_ROWS, true);
}

char *ORV5_ADAPTER_CALL GetDllVersion(char *buf) { return copy_device_name(buf, DEVICE_NAME); }
