// eesi.cpp - plug-in for adapters that take their speed from RTS and DTR.
#include "common/plugin_exports.h"
#include "common/procedures.h"

namespace {

ORV5_DEVICE_NAME("Extended Systems  ESI-9680");

constexpr LineSignalRow SPEEDS[] = {
    {9600, true, false},
    {19200, false, true},
    {115200, true, true},
};

}   // namespace

int ORV5_ADAPTER_CALL InitIrDevice(orv5_port_handle port)
{
    return init_line_signalled(port, SPEEDS, sizeof SPEEDS / sizeof SPEEDS[0]);
}

char *ORV5_ADAPTER_CALL GetDllVersion(char *buf) { return copy_device_name(buf, DEVICE_NAME); }
