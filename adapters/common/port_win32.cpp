// port_win32.cpp - adapter port operations on a Win32 COM handle.
#include "adapter_port.h"

namespace {

// One character at the command speed (10 bits / 9600 bit/s = 1.04 ms),
// in whole milliseconds as Sleep takes them, rounded up.
constexpr DWORD CHARACTER_TIME_MS = 2;

// How long the output queue may take to empty when the driver cannot
// flush, ms.  A byte at 9600 bit/s needs about 1 ms.
constexpr DWORD OUTPUT_DRAIN_LIMIT_MS = 1000;

int escape(HANDLE port, DWORD function) { return EscapeCommFunction(port, function) ? 0 : -1; }

// Polls the driver's output count when FlushFileBuffers is refused.
int wait_output_queue_empty(HANDLE port)
{
    for (DWORD waited = 0; waited <= OUTPUT_DRAIN_LIMIT_MS; ++waited) {
        DWORD errors = 0;
        COMSTAT stat{};
        if (!ClearCommError(port, &errors, &stat))
            return -1;
        if (stat.cbOutQue == 0)
            return 0;
        Sleep(1);
    }
    return -1;
}

}   // namespace

int port_read_settings(orv5_port_handle port, PortSettings *settings)
{
    *settings = DCB{};
    settings->DCBlength = sizeof(DCB);
    return GetCommState(port, settings) ? 0 : -1;
}

uint32_t port_speed_of(const PortSettings &settings) { return settings.BaudRate; }

int port_apply_speed(orv5_port_handle port, const PortSettings &settings, uint32_t baud)
{
    DCB changed = settings;
    changed.BaudRate = baud;
    return port_apply(port, changed);
}

int port_apply(orv5_port_handle port, const PortSettings &settings)
{
    DCB copy = settings;   // SetCommState takes a non-const pointer
    return SetCommState(port, &copy) ? 0 : -1;
}

int port_set_rts(orv5_port_handle port, bool on) { return escape(port, on ? SETRTS : CLRRTS); }
int port_set_dtr(orv5_port_handle port, bool on) { return escape(port, on ? SETDTR : CLRDTR); }

int port_wait_sent(orv5_port_handle port)
{
    if (!FlushFileBuffers(port) && wait_output_queue_empty(port) != 0)
        return -1;
    Sleep(CHARACTER_TIME_MS);
    return 0;
}

void port_sleep_ms(unsigned ms) { Sleep(ms); }

int adapter_write(orv5_port_handle port, uint32_t len, const uint8_t *bytes)
{
    PurgeComm(port, PURGE_RXCLEAR);
    DWORD status = 0;
    if (!GetCommModemStatus(port, &status))
        return -1;
    DWORD written = 0;
    if (!WriteFile(port, bytes, len, &written, nullptr)) {
        DWORD errors = 0;
        ClearCommError(port, &errors, nullptr);
        return -1;
    }
    PurgeComm(port, PURGE_RXCLEAR);
    return static_cast<int>(written);
}
