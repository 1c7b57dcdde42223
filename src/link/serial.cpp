// serial.cpp - the session's serial channel on top of the platform port.
#include "link/serial.h"

#include <cstdio>

#include "orv5w32.h"

constexpr int MODE_SIZE = 32;   // "COM100:256000,n,8,1" is 19 characters

int com_open(SerialChannel &ch, unsigned com_number, const LineSettings &line)
{
    ch.line_errors = 0;
    ch.port = plat_port_open(com_number);
    if (ch.port == PLAT_PORT_INVALID)
        return ORV5_E_PORT_OPEN;
    plat_port_setup_queues(ch.port, COM_IN_QUEUE, COM_OUT_QUEUE);
    com_clear_tx(ch);
    com_clear_rx(ch);
    int rc = com_configure(ch, com_number, line);
    if (rc != 0) {
        com_close(ch);
        return rc;
    }
    return 0;
}

int com_configure(SerialChannel &ch, unsigned com_number, const LineSettings &line)
{
    char parity = line.parity == 1 ? 'o' : line.parity == 2 ? 'e' : 'n';
    char mode[MODE_SIZE];
    std::snprintf(mode, sizeof mode, "COM%u:%lu,%c,%c,%c", com_number,
                  static_cast<unsigned long>(line.baud_rate), parity,
                  line.eight_data_bits ? '8' : '7', line.two_stop_bits ? '2' : '1');
    return plat_port_configure(ch.port, mode, line) ? 0 : ORV5_E_COMMAND;
}

void com_close(SerialChannel &ch)
{
    if (ch.port == PLAT_PORT_INVALID)
        return;
    com_clear_tx(ch);
    plat_port_close(ch.port);
    ch.port = PLAT_PORT_INVALID;
}

void com_clear_tx(SerialChannel &ch)
{
    // Pending output is discarded only while CTS is on: without a
    // listening adapter there is nothing worth saving either way.
    uint32_t status = 0;
    if (!plat_port_modem_status(ch.port, &status))
        return;
    if (status & PLAT_MS_CTS_ON)
        plat_port_purge_tx(ch.port);
}

void com_clear_rx(SerialChannel &ch)
{
    plat_port_purge_rx(ch.port);
}

int com_write(SerialChannel &ch, int length, const void *bytes)
{
    // An answer to an earlier transmission that was never read is stale.
    com_clear_rx(ch);
    uint32_t status = 0;
    if (!plat_port_modem_status(ch.port, &status))
        return -1;
    uint32_t written = 0;
    if (!plat_port_write(ch.port, bytes, static_cast<uint32_t>(length), &written)) {
        uint32_t waiting = 0;
        plat_port_clear_errors(ch.port, &ch.line_errors, &waiting);
        return -1;
    }
    return static_cast<int>(written);
}

int com_getc(SerialChannel &ch)
{
    uint8_t b = 0;
    uint32_t n = 0;
    if (!plat_port_read_byte(ch.port, &b, &n)) {
        uint32_t waiting = 0;
        plat_port_clear_errors(ch.port, &ch.line_errors, &waiting);
        ch.line_errors = 0;
        return COM_FLAGGED + b;
    }
    if (n == 0)
        return -1;
    if (ch.line_errors != 0) {
        ch.line_errors = 0;
        return COM_FLAGGED + b;
    }
    return b;
}

uint32_t com_rx_count(SerialChannel &ch)
{
    uint32_t waiting = 0;
    if (!plat_port_clear_errors(ch.port, &ch.line_errors, &waiting))
        return 0;   // keeps the polling loops on their time-out paths
    return waiting;
}
