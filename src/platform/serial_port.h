// serial_port.h - the platform's serial port.
//
// The portable serial channel (link/serial.cpp) builds the session's port
// handling from these.  The interface speaks of line settings, modem lines
// and line errors in its own terms; each backend translates: Win32 into
// the communications API, POSIX into termios and ioctl, the simulated one
// into a virtual line driven by a scripted terminal.
//
// Every failure of open, configure and write is also kept, in the system's
// own words and naming the device, by plat_reason_note (os_reason.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// A port is an object: a table of the backend's operations and the
// backend's own record of the port, in storage the caller owns (the
// session's channel record keeps one), so that nothing about a port lives
// in tables of the backend and two ports never share state.  plat_port is
// a pointer to such an object while it is open.
struct PlatPort;
using plat_port = PlatPort *;
constexpr plat_port PLAT_PORT_INVALID = nullptr;

// Modem lines reported by plat_port_modem_status (set = line on).
constexpr uint32_t PLAT_MODEM_CTS = 0x01;    // clear to send
constexpr uint32_t PLAT_MODEM_DSR = 0x02;    // data set ready
constexpr uint32_t PLAT_MODEM_RING = 0x04;   // ring indicator
constexpr uint32_t PLAT_MODEM_DCD = 0x08;    // data carrier detect

// Line errors, per received byte (plat_port_read).  Any of them makes the
// byte unusable.
constexpr uint8_t PLAT_LINE_OVERRUN = 0x01;      // the UART lost bytes before this one
constexpr uint8_t PLAT_LINE_PARITY = 0x02;       // parity error
constexpr uint8_t PLAT_LINE_FRAMING = 0x04;      // framing error (or the stream is out of step)
constexpr uint8_t PLAT_LINE_BREAK = 0x08;        // break condition
constexpr uint8_t PLAT_LINE_QUEUE_FULL = 0x10;   // the driver's input queue overflowed
constexpr uint8_t PLAT_LINE_OTHER = 0x80;        // an error the platform does not name

struct LineSettings {
    uint32_t baud_rate;    // bit/s
    int eight_data_bits;   // non-zero = 8, zero = 7
    int parity;            // 1 odd, 2 even, other none
    int two_stop_bits;     // non-zero = 2
};

// What a backend does with a port.  The channel (link/serial.cpp) and the
// platform's pump reach the port only through this table, so a backend
// chosen at open (a tty, a COM handle, the simulated line, and later a
// network port) changes nothing above it.  Every operation gets the open
// port object; the dispatchers below deal with a closed one.
struct PortOps {
    // Opens the named port into port.state (zeroed before the call).  False
    // on failure, with the reason kept; the object is reset then.
    bool (*open)(PlatPort &port, const char *name);

    // Requests driver queue sizes, bytes.  Result not checked by callers.
    void (*setup_queues)(PlatPort &port, uint32_t in_bytes, uint32_t out_bytes);

    // Applies speed, data bits, parity and stop bits, raw binary transfer,
    // no flow control, RTS and DTR held on.  False = refused.
    bool (*configure)(PlatPort &port, const LineSettings &settings);

    // Reads the modem lines (PLAT_MODEM_*).  A port without modem lines (a
    // pseudo-terminal) reports success with no line on; false only on a
    // real failure.
    bool (*modem_status)(PlatPort &port, uint32_t *lines);

    void (*purge_tx)(PlatPort &port);   // discard pending output
    void (*purge_rx)(PlatPort &port);   // discard pending input

    // Synchronous write of len bytes; false on failure (*written: bytes
    // that went out before it).
    bool (*write)(PlatPort &port, const void *bytes, uint32_t len, uint32_t *written);

    // Fetches what is waiting, at most capacity bytes, in one go and
    // without waiting for more: bytes[i] with its PLAT_LINE_* flags in
    // errors[i].  *count is 0 when nothing waits.  A line error the driver
    // reports without a byte to pin it on flags the next byte fetched.
    // False when the port failed (hang-up, device gone).
    bool (*read)(PlatPort &port, uint8_t *bytes, uint8_t *errors, uint32_t capacity,
                 uint32_t *count);

    // The operating system's handle of the port, as adapter plug-ins take
    // it (orv5_port_handle: a HANDLE on Win32, a descriptor on POSIX).
    intptr_t (*os_handle)(const PlatPort &port);

    // What the pump sleeps on while the session waits for input.  A POSIX
    // pump polls wait_handle (a descriptor that turns readable when input
    // waits) after asking input_ready; the Win32 pump calls wait_input,
    // which sleeps at most one read slice in the port itself, since a
    // synchronous COM handle cannot be waited on for input.  An entry the
    // backend's platform does not use is null.
    intptr_t (*wait_handle)(const PlatPort &port);
    bool (*input_ready)(PlatPort &port);
    bool (*wait_input)(PlatPort &port);

    // Releases the port; the dispatcher resets the object afterwards.
    void (*close)(PlatPort &port);

    // Waits until the output written so far has left (a line: gone out of
    // the UART; a socket: sent), within a bound of the backend's.  False
    // when it did not, or the port failed.
    bool (*drain)(PlatPort &port);

    // Sets RTS and DTR (true = on).  False when refused or not possible.
    bool (*set_lines)(PlatPort &port, bool rts, bool dtr);

    // A hint for the next waits: at least bytes_due more bytes are on
    // their way (the rest of a frame whose length is known), so a wait may
    // sleep until that many have arrived instead of waking on the first
    // one.  0: wake on the first byte again.  The hint never holds input
    // back (read still fetches whatever waits), and a hinted wait is
    // bounded by a little more than the bytes' line time, so that a frame
    // that comes short or slow is still seen soon; the session's time-outs
    // and plat_wake end it as any wait.  Null: the backend takes no hints.
    void (*expect)(PlatPort &port, uint32_t bytes_due);
};

// Room for a backend's record of one port, bytes: the network port's (a
// host name of up to 255 bytes as reasons show it, the telnet codec) is
// the largest.
constexpr size_t PLAT_PORT_STATE_SIZE = 512;

struct PlatPort {
    const PortOps *ops;                                     // null while closed
    alignas(8) unsigned char state[PLAT_PORT_STATE_SIZE];   // the backend's record
    // plat_clock_ms() as the opening began: the zero of the port's traces.
    uint64_t opened_ms;
};

// The backend's record inside a port object.  Each backend checks that its
// record fits (static_assert against PLAT_PORT_STATE_SIZE).
template <typename T> T &plat_port_state(PlatPort &port)
{
    static_assert(sizeof(T) <= PLAT_PORT_STATE_SIZE, "port record too large");
    static_assert(alignof(T) <= 8, "port record over-aligned");
    return *reinterpret_cast<T *>(port.state);
}
template <typename T> const T &plat_port_state(const PlatPort &port)
{
    static_assert(sizeof(T) <= PLAT_PORT_STATE_SIZE, "port record too large");
    return *reinterpret_cast<const T *>(port.state);
}

// Size of a port name buffer: a device path on POSIX, "COMn" on Win32, or
// a network port's address ("rfc2217://HOST:PORT", "tcp://HOST:PORT").
constexpr size_t PLAT_PORT_NAME_SIZE = 4096;

// The name of COM<com_number> as plat_port_open takes it.  Win32: the
// network address in $ORV5_DEVICE or else in $ORV5_COM<n> (process
// environment; a value of another form is not used), else "COMn".
// POSIX: $ORV5_DEVICE when set (the CLI's --device), else $ORV5_COM<n>,
// else /dev/ttyS<n-1>.  False (and the reason kept) when there is no such
// name: COM0 on POSIX, or a device path longer than size - 1.
bool plat_port_name(unsigned com_number, char *out, size_t size);

// The backend that opens name, or null (reason kept) when none does.  Each platform has
// its table of backends; the choice is made here only, by the name's form.
const PortOps *plat_port_backend(const char *name);

// Monotonic milliseconds (session_clock.h, which includes this header).
uint64_t plat_clock_ms();

// Opens the named port, exclusive read/write, into storage.  Returns
// &storage, or PLAT_PORT_INVALID on failure with storage reset and the
// reason kept.
inline plat_port plat_port_open(PlatPort &storage, const char *name)
{
    std::memset(&storage, 0, sizeof storage);
    storage.opened_ms = plat_clock_ms();
    const PortOps *ops = plat_port_backend(name);
    if (ops == nullptr)
        return PLAT_PORT_INVALID;
    if (!ops->open(storage, name)) {
        std::memset(&storage, 0, sizeof storage);
        return PLAT_PORT_INVALID;
    }
    storage.ops = ops;
    return &storage;
}

// Releases an open port and resets its object (ops null, record zeroed), so
// that a stale pointer to it reaches nothing; safe on PLAT_PORT_INVALID and
// on a closed object.
inline void plat_port_close(plat_port port)
{
    if (port == nullptr || port->ops == nullptr)
        return;
    port->ops->close(*port);
    std::memset(port, 0, sizeof *port);
}

// The operations on an open port.  On a closed object or PLAT_PORT_INVALID
// they do nothing and report failure (false, -1, no bytes).
inline bool plat_port_is_open(plat_port port) { return port != nullptr && port->ops != nullptr; }

inline void plat_port_setup_queues(plat_port port, uint32_t in_bytes, uint32_t out_bytes)
{
    if (plat_port_is_open(port))
        port->ops->setup_queues(*port, in_bytes, out_bytes);
}

inline bool plat_port_configure(plat_port port, const LineSettings &settings)
{
    return plat_port_is_open(port) && port->ops->configure(*port, settings);
}

inline bool plat_port_modem_status(plat_port port, uint32_t *lines)
{
    return plat_port_is_open(port) && port->ops->modem_status(*port, lines);
}

inline void plat_port_purge_tx(plat_port port)
{
    if (plat_port_is_open(port))
        port->ops->purge_tx(*port);
}

inline void plat_port_purge_rx(plat_port port)
{
    if (plat_port_is_open(port))
        port->ops->purge_rx(*port);
}

inline bool plat_port_write(plat_port port, const void *bytes, uint32_t len, uint32_t *written)
{
    if (!plat_port_is_open(port)) {
        if (written != nullptr)
            *written = 0;
        return false;
    }
    return port->ops->write(*port, bytes, len, written);
}

inline bool plat_port_read(plat_port port, uint8_t *bytes, uint8_t *errors, uint32_t capacity,
                           uint32_t *count)
{
    *count = 0;
    return plat_port_is_open(port) && port->ops->read(*port, bytes, errors, capacity, count);
}

// Passes a wait hint (PortOps::expect) to an open port that takes hints.
inline void plat_port_expect(plat_port port, uint32_t bytes_due)
{
    if (plat_port_is_open(port) && port->ops->expect != nullptr)
        port->ops->expect(*port, bytes_due);
}

inline bool plat_port_drain(plat_port port)
{
    return plat_port_is_open(port) && port->ops->drain(*port);
}

inline bool plat_port_set_lines(plat_port port, bool rts, bool dtr)
{
    return plat_port_is_open(port) && port->ops->set_lines(*port, rts, dtr);
}

// The OS handle for plug-ins; -1 when the port is not open, and for a
// port that has no such handle (a network port).
inline intptr_t plat_port_os_handle(plat_port port)
{
    return plat_port_is_open(port) ? port->ops->os_handle(*port) : -1;
}

// The byte-trace file named by the environment variable ORV5_TRACE, read
// from the process environment as it is now.  False when it is unset,
// empty or longer than size - 1.
bool plat_trace_path(char *out, size_t size);

// True when the environment variable ORV5_TRACE_TELNET is "1" (read as
// ORV5_TRACE is): a network port then adds its socket bytes, telnet
// framing included, to the byte trace (net/net_trace.h).
bool plat_trace_telnet();
