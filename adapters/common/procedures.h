// procedures.h - the adapter set-up procedures shared by the plug-ins.
//
// Each starts by reading the port's speed and looking it up in the
// plug-in's table; a speed not in the table gives ORV5_ADAPTER_BAD_SPEED
// before anything on the port changes.  Results are the InitIrDevice
// results of orv5_adapter.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "orv5_adapter.h"

// Adapters that take their speed from the RTS and DTR lines.
struct LineSignalRow {
    uint32_t baud;   // bit/s
    bool rts_on;
    bool dtr_on;
};

// Adapters that take their speed as a command byte sent at 9600 bit/s.
struct CommandRow {
    uint32_t baud;     // bit/s
    uint8_t command;   // the byte that selects this speed
};

// Sets RTS, then DTR, as the row for the port's speed says.  The lines
// stay so for the transfer.
int init_line_signalled(orv5_port_handle port, const LineSignalRow *table, size_t rows);

// At 9600 bit/s: the wake-up byte 0x01 (when with_wake_up), then the
// command byte of the row, each sent with RTS off; then the port's own
// settings again.  Returns with RTS on.
int init_command_bytes(orv5_port_handle port, const CommandRow *table, size_t rows,
                       bool with_wake_up);

// The table of the adapters that take two command bytes.
extern const CommandRow TWO_BYTE_COMMANDS[];
extern const size_t TWO_BYTE_COMMAND_ROWS;

// Copies name with its NUL into buf (ORV5_ADAPTER_NAME_SIZE bytes) and
// returns buf; a null buf gets nothing and gives null.
char *copy_device_name(char *buf, const char *name);
