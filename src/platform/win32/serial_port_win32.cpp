// serial_port_win32.cpp - the serial port on the Win32 communications API.
//
// Synchronous (non-overlapped) I/O on one handle, which the adapter
// plug-ins also write to.  The read time-outs are set so that a read
// returns at once with whatever the driver holds and, when it holds
// nothing, waits at most WIN32_READ_SLICE_MS for the first byte: the pump
// sleeps in such a one-byte read while the session waits for the terminal,
// and the channel fetches with one read of the count ClearCommError gives.
//
// While a wait hint (expect) says the rest of a frame is due, the pump's
// read asks for those bytes instead, under time-outs that make it wait for
// all of them (no interval limit, no per-byte allowance), again at most the
// slice: one read takes a frame that comes byte by byte, and a frame that
// comes short or slow is handed over at the slice's end as it stands.
//
// Each open port is a PlatPort whose record (ComPort) holds the handle,
// the byte read ahead by the pump and the flags waiting for the next byte;
// nothing here is kept per process.
#include "platform/serial_port.h"
#include "platform/os_reason.h"
#include "platform/win32/win32_port.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

// "\\.\COM" + up to 10 digits + NUL.
constexpr int DEVICE_NAME_SIZE = 4 + 3 + 10 + 1;

// "COM" + up to 10 digits + NUL: the name failure reasons show.
constexpr int SHOWN_NAME_SIZE = 3 + 10 + 1;

// Mode string for BuildCommDCBA and failure reasons:
// "COM4294967295:4294967295,n,8,1" is 30 characters.
constexpr int MODE_SIZE = 40;

// Ports above 9 exist only in the device namespace: the plain name "COM10"
// is an ordinary file name to CreateFile.  COM1..COM9 keep the plain name.
constexpr unsigned LAST_PLAIN_COM = 9;

// Flow-control characters and thresholds put into every DCB.
constexpr char XON_CHAR = 0x11;
constexpr char XOFF_CHAR = 0x13;
constexpr WORD XON_XOFF_LIMIT = 300;   // bytes

// Most bytes one hinted wait reads ahead; more due are read in steps.
constexpr uint32_t AHEAD_MAX = 192;

// The record of one open COM port, inside its PlatPort.
struct ComPort {
    HANDLE handle;
    unsigned com;
    uint32_t hint_due;      // bytes due by the last hint (expect)
    bool hinted_timeouts;   // the read time-outs wait for all bytes asked for
    uint8_t pending;        // PLAT_LINE_* flags for the next byte fetched
    uint16_t ahead_len;     // bytes read while the pump waited, handed out
    uint16_t ahead_pos;     // first by the next read from ahead_pos
    uint8_t ahead[AHEAD_MAX];
    char name[SHOWN_NAME_SIZE];
};

// Read time-outs: a read returns at once with what the driver holds and,
// when it holds nothing, waits at most the slice for the first byte.
const COMMTIMEOUTS FIRST_BYTE_TIMEOUTS = {MAXDWORD, MAXDWORD, WIN32_READ_SLICE_MS, 0, 0};
// A read waits until it has every byte asked for, at most the slice.
const COMMTIMEOUTS ALL_BYTES_TIMEOUTS = {0, 0, WIN32_READ_SLICE_MS, 0, 0};

ComPort &com_port(PlatPort &port) { return plat_port_state<ComPort>(port); }

const ComPort &com_port(const PlatPort &port) { return plat_port_state<ComPort>(port); }

// The driver's communications error bits in the platform's terms.
uint8_t line_flags(DWORD ce)
{
    uint8_t flags = 0;
    if (ce & CE_OVERRUN)
        flags |= PLAT_LINE_OVERRUN;
    if (ce & CE_RXPARITY)
        flags |= PLAT_LINE_PARITY;
    if (ce & CE_FRAME)
        flags |= PLAT_LINE_FRAMING;
    if (ce & CE_BREAK)
        flags |= PLAT_LINE_BREAK;
    if (ce & CE_RXOVER)
        flags |= PLAT_LINE_QUEUE_FULL;
    if (ce & ~static_cast<DWORD>(CE_OVERRUN | CE_RXPARITY | CE_FRAME | CE_BREAK | CE_RXOVER))
        flags |= PLAT_LINE_OTHER;
    return flags;
}

// Learns (and clears) the port's error state: the flags go to the next
// byte fetched.  *in_queue: bytes the driver holds.  False on failure.
bool take_errors(ComPort &p, DWORD *in_queue)
{
    DWORD ce = 0;
    COMSTAT stat = {};
    if (!ClearCommError(p.handle, &ce, &stat)) {
        *in_queue = 0;
        return false;
    }
    p.pending |= line_flags(ce);
    *in_queue = stat.cbInQue;
    return true;
}

// The mode string of the settings, "COMn:baud,p,d,s".
void mode_string(char *out, size_t size, unsigned com, const LineSettings &s)
{
    char parity = s.parity == 1 ? 'o' : s.parity == 2 ? 'e' : 'n';
    std::snprintf(out, size, "COM%u:%lu,%c,%c,%c", com, static_cast<unsigned long>(s.baud_rate),
                  parity, s.eight_data_bits ? '8' : '7', s.two_stop_bits ? '2' : '1');
}

bool com_open(PlatPort &port, const char *shown)
{
    // shown is "COMn" (plat_port_backend checked the form).
    unsigned com_number = static_cast<unsigned>(std::strtoul(shown + 3, nullptr, 10));
    char name[DEVICE_NAME_SIZE];
    std::snprintf(name, sizeof name, "%sCOM%u", com_number > LAST_PLAIN_COM ? "\\\\.\\" : "",
                  com_number);
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        plat_reason_note(shown);
        return false;
    }
    // A read returns at once with what the driver holds; when it holds
    // nothing it waits for the first byte, at most the slice.  Writes have
    // no time-out.
    COMMTIMEOUTS to = FIRST_BYTE_TIMEOUTS;
    if (!SetCommTimeouts(h, &to)) {
        plat_reason_note(shown);
        CloseHandle(h);
        return false;
    }
    ComPort &p = *new (port.state) ComPort{h, com_number, 0, false, 0, 0, 0, {}, {}};
    std::snprintf(p.name, sizeof p.name, "COM%u", com_number);
    return true;
}

void com_setup_queues(PlatPort &port, uint32_t in_bytes, uint32_t out_bytes)
{
    SetupComm(com_port(port).handle, in_bytes, out_bytes);
}

bool com_configure(PlatPort &port, const LineSettings &settings)
{
    ComPort *p = &com_port(port);
    if (settings.baud_rate == 0) {
        // Some drivers take it and stop the line.
        plat_reason_set(p->name, "0 bit/s is no line speed");
        return false;
    }
    char mode[MODE_SIZE];
    mode_string(mode, sizeof mode, p->com, settings);
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(p->handle, &dcb)) {
        plat_reason_note(p->name);
        return false;
    }
    if (!BuildCommDCBA(mode, &dcb)) {   // speed, data bits, parity, stop bits
        plat_reason_note(mode);
        return false;
    }
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
    if (!SetCommState(p->handle, &dcb)) {
        plat_reason_note(mode);
        return false;
    }
    p->ahead_len = p->ahead_pos = 0;
    p->pending = 0;
    return true;
}

bool com_modem_status(PlatPort &port, uint32_t *lines)
{
    DWORD bits = 0;
    if (!GetCommModemStatus(com_port(port).handle, &bits)) {
        // A port whose driver has no modem lines (a virtual port, or a
        // pseudo-terminal under a compatibility layer) refuses the request
        // as unsupported; it reads as all lines off, not as a broken port.
        DWORD why = GetLastError();
        if (why != ERROR_NOT_SUPPORTED && why != ERROR_INVALID_FUNCTION)
            return false;
        bits = 0;
    }
    uint32_t out = 0;
    if (bits & MS_CTS_ON)
        out |= PLAT_MODEM_CTS;
    if (bits & MS_DSR_ON)
        out |= PLAT_MODEM_DSR;
    if (bits & MS_RING_ON)
        out |= PLAT_MODEM_RING;
    if (bits & MS_RLSD_ON)
        out |= PLAT_MODEM_DCD;
    if (lines)
        *lines = out;
    return true;
}

void com_purge_tx(PlatPort &port) { PurgeComm(com_port(port).handle, PURGE_TXCLEAR); }

void com_purge_rx(PlatPort &port)
{
    ComPort &p = com_port(port);
    PurgeComm(p.handle, PURGE_RXCLEAR);
    p.ahead_len = p.ahead_pos = 0;   // it was input waiting, like the rest
}

bool com_write(PlatPort &port, const void *bytes, uint32_t len, uint32_t *written)
{
    ComPort &p = com_port(port);
    DWORD n = 0;
    BOOL ok = WriteFile(p.handle, bytes, len, &n, nullptr);
    if (written)
        *written = n;
    if (!ok) {
        plat_reason_note(p.name);
        // A driver that stops on errors wants them cleared before it moves
        // again; what it reports goes to the next byte read.
        DWORD waiting = 0;
        take_errors(p, &waiting);
    }
    return ok != 0;
}

bool com_read(PlatPort &port, uint8_t *bytes, uint8_t *errors, uint32_t capacity, uint32_t *count)
{
    *count = 0;
    ComPort *p = &com_port(port);
    if (capacity == 0)
        return true;
    uint32_t n = 0;
    while (p->ahead_pos < p->ahead_len && n < capacity)
        bytes[n++] = p->ahead[p->ahead_pos++];
    if (p->ahead_pos == p->ahead_len)
        p->ahead_len = p->ahead_pos = 0;
    DWORD waiting = 0;
    bool ok = take_errors(*p, &waiting);
    if (!ok)
        plat_reason_note(p->name);
    DWORD want = waiting < capacity - n ? waiting : capacity - n;
    if (ok && want > 0) {
        // Returns at once: the driver holds at least this much.
        DWORD got = 0;
        if (!ReadFile(p->handle, bytes + n, want, &got, nullptr)) {
            plat_reason_note(p->name);
            take_errors(*p, &waiting);
            ok = false;
        }
        n += got;
    }
    for (uint32_t i = 0; i < n; ++i)
        errors[i] = 0;
    // The driver does not say which byte was damaged: the first one
    // fetched after the report carries the flags, as a poll before each
    // byte would have it.
    if (n > 0) {
        errors[0] = p->pending;
        p->pending = 0;
    }
    *count = n;
    return ok || n > 0;
}

intptr_t com_os_handle(const PlatPort &port)
{
    return reinterpret_cast<intptr_t>(com_port(port).handle);
}

void com_expect(PlatPort &port, uint32_t bytes_due) { com_port(port).hint_due = bytes_due; }

// Puts the read time-outs for a read of all bytes asked for (hinted) or of
// the first byte; only when they change.  False when the driver refused.
bool use_timeouts(ComPort &p, bool hinted)
{
    if (p.hinted_timeouts == hinted)
        return true;
    COMMTIMEOUTS to = hinted ? ALL_BYTES_TIMEOUTS : FIRST_BYTE_TIMEOUTS;
    if (!SetCommTimeouts(p.handle, &to))
        return false;
    p.hinted_timeouts = hinted;
    return true;
}

bool com_wait_input(PlatPort &port)
{
    ComPort *p = &com_port(port);
    if (p->ahead_pos < p->ahead_len)
        return true;
    DWORD want = p->hint_due < AHEAD_MAX ? p->hint_due : AHEAD_MAX;
    // Back to waking on the first byte when no hint asks for more, or the
    // time-outs for more cannot be had.
    if (want <= 1 || !use_timeouts(*p, true)) {
        want = 1;
        use_timeouts(*p, false);
    }
    DWORD got = 0;
    if (!ReadFile(p->handle, p->ahead, want, &got, nullptr)) {
        DWORD waiting = 0;
        take_errors(*p, &waiting);
        // A failing port fails at once: sleep the slice rather than spin.
        Sleep(WIN32_READ_SLICE_MS);
        return false;
    }
    p->ahead_pos = 0;
    p->ahead_len = static_cast<uint16_t>(got);
    return got > 0;
}

bool com_drain(PlatPort &port)
{
    // A synchronous write returns once the driver took the bytes; this
    // waits until they have gone out of it.
    ComPort &p = com_port(port);
    if (FlushFileBuffers(p.handle))
        return true;
    plat_reason_note(p.name);
    return false;
}

bool com_set_lines(PlatPort &port, bool rts, bool dtr)
{
    ComPort &p = com_port(port);
    if (EscapeCommFunction(p.handle, rts ? SETRTS : CLRRTS) &&
        EscapeCommFunction(p.handle, dtr ? SETDTR : CLRDTR))
        return true;
    plat_reason_note(p.name);
    return false;
}

void com_close(PlatPort &port)
{
    ComPort &p = com_port(port);
    use_timeouts(p, false);   // as the device was opened
    CloseHandle(p.handle);
    p.handle = INVALID_HANDLE_VALUE;
}

}   // namespace

// The handle serves plug-ins; the pump waits in com_wait_input, since a
// synchronous handle gives nothing to wait on for input.
extern const PortOps WIN32_COM_OPS = {
    com_open,  com_setup_queues, com_configure, com_modem_status, com_purge_tx, com_purge_rx,
    com_write, com_read,         com_os_handle, nullptr,          nullptr,      com_wait_input,
    com_close, com_drain,        com_set_lines, com_expect,
};

bool plat_trace_path(char *out, size_t size)
{
    // The process environment, which a host's SetEnvironmentVariable and
    // the runtime's putenv both change.
    DWORD len = GetEnvironmentVariableA("ORV5_TRACE", out, static_cast<DWORD>(size));
    return len > 0 && len < size;
}

bool plat_trace_telnet()
{
    // Room for "1" and one more character, so that "10" is not "1".
    char v[3] = {};
    DWORD len = GetEnvironmentVariableA("ORV5_TRACE_TELNET", v, sizeof v);
    return len == 1 && v[0] == '1';
}
