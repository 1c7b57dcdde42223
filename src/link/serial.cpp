// serial.cpp - the session's serial channel on top of the platform port.
#include "link/serial.h"

#include <cstdio>

#include "session/settings.h"

plat_port com_handle = PLAT_PORT_INVALID;
uint32_t com_errors;

constexpr int MODE_SIZE = 32;   // "COM100:256000,n,8,1" is 19 characters

static unsigned com_number()
{
    // port_index is 0..98 from the option parser, or -1 for "-P0" (COM0,
    // which never opens).
    return static_cast<unsigned>(session_settings.port_index + 1);
}

int com_open()
{
    com_errors = 0;
    com_handle = plat_port_open(com_number());
    if (com_handle == PLAT_PORT_INVALID)
        return 75;
    plat_port_setup_queues(com_handle, COM_IN_QUEUE, COM_OUT_QUEUE);
    com_clear_tx();
    com_clear_rx();
    int rc = com_configure();
    if (rc != 0) {
        com_close();
        return rc;
    }
    return 0;
}

int com_configure()
{
    const SessionSettings &s = session_settings;
    char parity = s.parity == 1 ? 'o' : s.parity == 2 ? 'e' : 'n';
    char mode[MODE_SIZE];
    std::snprintf(mode, sizeof mode, "COM%u:%lu,%c,%c,%c", com_number(),
                  static_cast<unsigned long>(s.baud_rate), parity,
                  s.eight_data_bits ? '8' : '7', s.two_stop_bits ? '2' : '1');
    LineSettings line{s.baud_rate, s.eight_data_bits, s.parity, s.two_stop_bits};
    return plat_port_configure(com_handle, mode, line) ? 0 : 9;
}

void com_close()
{
    if (com_handle == PLAT_PORT_INVALID)
        return;
    com_clear_tx();
    plat_port_close(com_handle);
    com_handle = PLAT_PORT_INVALID;
}

void com_clear_tx()
{
    // Pending output is discarded only while CTS is on: without a
    // listening adapter there is nothing worth saving either way.
    uint32_t status = 0;
    if (!plat_port_modem_status(com_handle, &status))
        return;
    if (status & PLAT_MS_CTS_ON)
        plat_port_purge_tx(com_handle);
}

void com_clear_rx()
{
    plat_port_purge_rx(com_handle);
}

int com_write(int length, const void *bytes)
{
    // An answer to an earlier transmission that was never read is stale.
    com_clear_rx();
    uint32_t status = 0;
    if (!plat_port_modem_status(com_handle, &status))
        return -1;
    uint32_t written = 0;
    if (!plat_port_write(com_handle, bytes, static_cast<uint32_t>(length), &written)) {
        uint32_t waiting = 0;
        plat_port_clear_errors(com_handle, &com_errors, &waiting);
        return -1;
    }
    return static_cast<int>(written);
}

int com_getc()
{
    uint8_t b = 0;
    uint32_t n = 0;
    if (!plat_port_read_byte(com_handle, &b, &n)) {
        uint32_t waiting = 0;
        plat_port_clear_errors(com_handle, &com_errors, &waiting);
        com_errors = 0;
        return COM_FLAGGED + b;
    }
    if (n == 0)
        return -1;
    if (com_errors != 0) {
        com_errors = 0;
        return COM_FLAGGED + b;
    }
    return b;
}

uint32_t com_rx_count()
{
    uint32_t waiting = 0;
    if (!plat_port_clear_errors(com_handle, &com_errors, &waiting))
        return 0;   // keeps the polling loops on their time-out paths
    return waiting;
}
