// kkci.cpp - plug-in for adapters set up by one command byte.
#include "common/plugin_exports.h"
#include "common/procedures.h"

namespace {

ORV5_DEVICE_NAME("Kansai  KC-IR1");

constexpr CommandRow SPEEDS[] = {
    {2400, 0xA2}, {9600, 0xA4}, {19200, 0xA5}, {38400, 0xA6}, {57600, 0xA7}, {115200, 0xA8},
};

}   // namespace

int ORV5_ADAPTER_CALL InitIrDevice(orv5_port_handle port)
{
    return init_command_bytes(port, SPEEDS, sizeof SPEEDS / sizeof SPEEDS[0], false);
}

char *ORV5_ADAPTER_CALL GetDllVersion(char *buf) { return copy_device_name(buf, DEVICE_NAME); }
