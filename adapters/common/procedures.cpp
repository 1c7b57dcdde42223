// procedures.cpp - the adapter set-up procedures shared by the plug-ins.
#include "procedures.h"

#include <cstring>

#include "adapter_port.h"

namespace {

// The byte that wakes a two-byte adapter up for its command.
constexpr uint8_t WAKE_UP_BYTE = 0x01;

// Waits of the command sequence, ms: the adapter reads a byte only while
// RTS is off, and needs the gaps around it to notice the edges.
constexpr unsigned EDGE_SETTLE_MS = 1;      // RTS edge to byte, byte to edge
constexpr unsigned BETWEEN_BYTES_MS = 10;   // RTS on between two bytes

template <typename Row> const Row *find_row(const Row *table, size_t rows, uint32_t baud)
{
    for (size_t i = 0; i < rows; ++i)
        if (table[i].baud == baud)
            return &table[i];
    return nullptr;
}

// RTS off, the byte, RTS on again; the byte has left the port before RTS
// rises.
int send_with_rts_off(orv5_port_handle port, uint8_t byte)
{
    if (port_wait_sent(port) != 0 || port_set_rts(port, false) != 0)
        return -1;
    port_sleep_ms(EDGE_SETTLE_MS);
    if (adapter_write(port, 1, &byte) != 1)
        return -1;
    if (port_wait_sent(port) != 0)
        return -1;
    port_sleep_ms(EDGE_SETTLE_MS);
    return port_set_rts(port, true);
}

int command_sequence(orv5_port_handle port, uint8_t command, bool with_wake_up)
{
    if (with_wake_up) {
        if (send_with_rts_off(port, WAKE_UP_BYTE) != 0)
            return -1;
        port_sleep_ms(BETWEEN_BYTES_MS);
    }
    if (send_with_rts_off(port, command) != 0)
        return -1;
    return port_wait_sent(port);
}

}   // namespace

const CommandRow TWO_BYTE_COMMANDS[] = {
    {2400, 0x13}, {9600, 0x23}, {19200, 0x33}, {38400, 0x43}, {57600, 0x53}, {115200, 0x63},
};
const size_t TWO_BYTE_COMMAND_ROWS = sizeof TWO_BYTE_COMMANDS / sizeof TWO_BYTE_COMMANDS[0];

int init_line_signalled(orv5_port_handle port, const LineSignalRow *table, size_t rows)
{
    PortSettings settings;
    if (port_read_settings(port, &settings) != 0)
        return ORV5_ADAPTER_PORT_FAILED;
    const LineSignalRow *row = find_row(table, rows, port_speed_of(settings));
    if (row == nullptr)
        return ORV5_ADAPTER_BAD_SPEED;
    if (port_set_rts(port, row->rts_on) != 0 || port_set_dtr(port, row->dtr_on) != 0)
        return ORV5_ADAPTER_PORT_FAILED;
    return ORV5_ADAPTER_READY;
}

int init_command_bytes(orv5_port_handle port, const CommandRow *table, size_t rows,
                       bool with_wake_up)
{
    PortSettings saved;
    if (port_read_settings(port, &saved) != 0)
        return ORV5_ADAPTER_PORT_FAILED;
    const CommandRow *row = find_row(table, rows, port_speed_of(saved));
    if (row == nullptr)
        return ORV5_ADAPTER_BAD_SPEED;
    int rc = port_apply_speed(port, saved, ADAPTER_COMMAND_SPEED);
    if (rc == 0)
        rc = command_sequence(port, row->command, with_wake_up);
    // The session's own settings in every case: a failed set-up must not
    // leave the port at the command speed.
    if (port_apply(port, saved) != 0)
        rc = -1;
    return rc == 0 ? ORV5_ADAPTER_READY : ORV5_ADAPTER_PORT_FAILED;
}

char *copy_device_name(char *buf, const char *name)
{
    if (buf == nullptr)
        return nullptr;
    std::memcpy(buf, name, std::strlen(name) + 1);
    return buf;
}
