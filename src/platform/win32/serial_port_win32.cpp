// serial_port_win32.cpp - the serial port on the Win32 communications API.
//
// Synchronous (non-overlapped) I/O on one handle.  Reception is polled: the
// channel asks ClearCommError how many bytes wait and reads one at a time,
// so no call here waits for the line.
#include "platform/serial_port.h"

#include <windows.h>

#include <cstdio>

namespace {

// "\\.\COM" + up to 10 digits + NUL.
constexpr int DEVICE_NAME_SIZE = 4 + 3 + 10 + 1;

// Ports above 9 exist only in the device namespace: the plain name "COM10"
// is an ordinary file name to CreateFile.  COM1..COM9 keep the plain name.
constexpr unsigned LAST_PLAIN_COM = 9;

// Flow-control characters and thresholds put into every DCB.
constexpr char XON_CHAR = 0x11;
constexpr char XOFF_CHAR = 0x13;
constexpr WORD XON_XOFF_LIMIT = 300;   // bytes

HANDLE as_handle(plat_port port)
{
    return reinterpret_cast<HANDLE>(port);
}

}  // namespace

plat_port plat_port_open(unsigned com_number)
{
    char name[DEVICE_NAME_SIZE];
    std::snprintf(name, sizeof name, "%sCOM%u",
                  com_number > LAST_PLAIN_COM ? "\\\\.\\" : "", com_number);
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        (void)GetLastError();
        return PLAT_PORT_INVALID;
    }
    // A one-byte read returns at once with what is queued (possibly
    // nothing) instead of waiting under whatever time-outs the driver
    // holds; writes have no time-out.  The channel reads only after the
    // queue count said a byte waits, so this just guards against a driver
    // default that would block the session thread.
    COMMTIMEOUTS to = {};
    to.ReadIntervalTimeout = MAXDWORD;
    SetCommTimeouts(h, &to);
    return reinterpret_cast<plat_port>(h);
}

void plat_port_setup_queues(plat_port port, uint32_t in_bytes, uint32_t out_bytes)
{
    SetupComm(as_handle(port), in_bytes, out_bytes);
}

bool plat_port_configure(plat_port port, const char *mode, const LineSettings &)
{
    if (mode == nullptr)
        return false;
    HANDLE h = as_handle(port);
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb))
        return false;
    if (!BuildCommDCBA(mode, &dcb))   // speed, data bits, parity, stop bits
        return false;
    dcb.DCBlength = sizeof dcb;
    dcb.fBinary = 1;
    dcb.fParity = 1;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;   // DTR and RTS held on: they
    dcb.fRtsControl = RTS_CONTROL_ENABLE;   // power many adapters
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.XonChar = XON_CHAR;
    dcb.XoffChar = XOFF_CHAR;
    dcb.XonLim = XON_XOFF_LIMIT;
    dcb.XoffLim = XON_XOFF_LIMIT;
    return SetCommState(h, &dcb) != 0;
}

bool plat_port_modem_status(plat_port port, uint32_t *status)
{
    DWORD bits = 0;
    if (!GetCommModemStatus(as_handle(port), &bits)) {
        // A port whose driver has no modem lines (a virtual port, or a
        // pseudo-terminal under a compatibility layer) refuses the request
        // as unsupported; it reads as all lines off, not as a broken port.
        DWORD why = GetLastError();
        if (why != ERROR_NOT_SUPPORTED && why != ERROR_INVALID_FUNCTION)
            return false;
        bits = 0;
    }
    if (status)
        *status = bits;
    return true;
}

void plat_port_purge_tx(plat_port port)
{
    PurgeComm(as_handle(port), PURGE_TXCLEAR);
}

void plat_port_purge_rx(plat_port port)
{
    PurgeComm(as_handle(port), PURGE_RXCLEAR);
}

bool plat_port_write(plat_port port, const void *bytes, uint32_t len, uint32_t *written)
{
    DWORD n = 0;
    BOOL ok = WriteFile(as_handle(port), bytes, len, &n, nullptr);
    if (written)
        *written = n;
    return ok != 0;
}

bool plat_port_read_byte(plat_port port, uint8_t *byte, uint32_t *n)
{
    uint8_t b = 0;
    DWORD got = 0;
    BOOL ok = ReadFile(as_handle(port), &b, 1, &got, nullptr);
    if (byte)
        *byte = b;
    if (n)
        *n = got;
    return ok != 0;
}

bool plat_port_clear_errors(plat_port port, uint32_t *errors, uint32_t *in_queue)
{
    DWORD err = 0;
    COMSTAT stat = {};
    BOOL ok = ClearCommError(as_handle(port), &err, &stat);
    if (errors)
        *errors = ok ? err : 0;
    if (in_queue)
        *in_queue = ok ? stat.cbInQue : 0;   // nothing to read on failure
    return ok != 0;
}

void plat_port_close(plat_port port)
{
    if (port != PLAT_PORT_INVALID)
        CloseHandle(as_handle(port));
}
