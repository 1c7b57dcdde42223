// sim_line.cpp - the virtual serial line.
//
// The line is the simulated world: the wire, the scripted terminal at its
// far end and what tests read back about it.  It is one per process
// because the tests reach it without a port (sim::deliver, sim::written).
// A port opened on it is a PlatPort like any other, whose record names the
// line it is attached to; only one port can hold the line at a time, as
// only one program can hold a device.
//
// A wait hint (expect) makes the pump's wait last until the due bytes have
// arrived, as a tty's VMIN does, but at most twice their line time plus
// HINT_SLACK_MS of virtual time; then the wait wakes on the first byte
// again until the next hint.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <new>

#include "platform/serial_port.h"
#include "platform/sim/sim_internal.h"

namespace sim {

namespace {
struct Arrival {
    uint64_t at_ms;
    uint8_t byte;
    bool flagged;
};
struct Line {
    bool open = false;
    unsigned com = 0;
    std::string mode;
    std::deque<Arrival> incoming;   // sorted by at_ms
    std::vector<uint8_t> written;
    std::vector<std::vector<uint8_t>> writes;
    LineFaults faults;
    PeerFn peer;
    uint32_t purges_rx = 0;
    uint32_t reads = 0;
    uint32_t baud = 0;   // bit/s of the last configure
    uint32_t bits_per_byte = 10;
    uint32_t due = 0;          // bytes due by the last hint
    bool hint_new = false;     // the hint changed: applied at the next wait
    uint64_t hint_until = 0;   // end of the hinted wait, virtual ms; 0: none
    std::string trace_path;
    bool trace_telnet = false;
};
Line line;   // the world the tests script; see the head of this file

// A hinted wait ends at the latest after twice the due bytes' line time
// plus this, ms (the POSIX tty's bound).
constexpr uint64_t HINT_SLACK_MS = 10;

// What plug-ins get as the simulated port's OS handle: any valid-looking one.
constexpr intptr_t SIM_OS_HANDLE = 7;

// The record of a port open on the virtual line, inside its PlatPort.
struct SimPort {
    Line *line;     // the wire this port holds
    unsigned com;   // COM number of its name
};

SimPort &sim_port(PlatPort &port) { return plat_port_state<SimPort>(port); }
}   // namespace

void reset_line() { line = Line(); }

void set_peer(PeerFn peer) { line.peer = std::move(peer); }

void deliver(const uint8_t *bytes, size_t n, uint32_t delay_ms, bool flagged)
{
    uint64_t at = now_ms() + delay_ms;
    if (!line.incoming.empty() && line.incoming.back().at_ms > at)
        at = line.incoming.back().at_ms;   // bytes keep their order
    for (size_t i = 0; i < n; ++i)
        line.incoming.push_back({at, bytes[i], flagged});
}

void deliver(const std::vector<uint8_t> &bytes, uint32_t delay_ms)
{
    deliver(bytes.data(), bytes.size(), delay_ms, false);
}

const std::vector<uint8_t> &written() { return line.written; }
const std::vector<std::vector<uint8_t>> &writes() { return line.writes; }
LineFaults &faults() { return line.faults; }
bool port_is_open() { return line.open; }
unsigned opened_com_number() { return line.com; }
std::string last_mode() { return line.mode; }
uint32_t purges_rx() { return line.purges_rx; }
uint32_t port_reads() { return line.reads; }
uint32_t bytes_due_hint() { return line.due; }
void set_trace_path(const std::string &path) { line.trace_path = path; }
void set_trace_telnet(bool on) { line.trace_telnet = on; }

namespace {
// Bytes a wait is for: the due ones while a hinted wait runs, else one.
size_t bytes_awaited() { return line.hint_until != 0 ? line.due : 1; }
}   // namespace

bool next_arrival(uint64_t *at_ms)
{
    if (!line.open)
        return false;
    size_t want = bytes_awaited();
    bool known = line.incoming.size() >= want;
    if (known)
        *at_ms = line.incoming[want - 1].at_ms;
    if (line.hint_until != 0 && (!known || line.hint_until < *at_ms)) {
        *at_ms = line.hint_until;
        known = true;
    }
    return known;
}

bool input_waiting()
{
    return line.open && !line.incoming.empty() && line.incoming.front().at_ms <= now_ms();
}

}   // namespace sim

using namespace sim;

namespace {

bool sim_open(PlatPort &port, const char *name)
{
    unsigned com_number = static_cast<unsigned>(std::strtoul(name + 3, nullptr, 10));
    line.com = com_number;
    if (line.faults.open_fails || line.open || com_number == 0)
        return false;
    line.open = true;
    new (port.state) SimPort{&line, com_number};
    session_started();
    return true;
}

void sim_setup_queues(PlatPort &, uint32_t, uint32_t) {}

bool sim_configure(PlatPort &port, const LineSettings &settings)
{
    SimPort &sp = sim_port(port);
    // Recorded as the Win32 backend would spell it, for tests to compare.
    char parity = settings.parity == 1 ? 'o' : settings.parity == 2 ? 'e' : 'n';
    char mode[64];
    std::snprintf(mode, sizeof mode, "COM%u:%lu,%c,%c,%c", sp.com,
                  static_cast<unsigned long>(settings.baud_rate), parity,
                  settings.eight_data_bits ? '8' : '7', settings.two_stop_bits ? '2' : '1');
    sp.line->mode = mode;
    sp.line->baud = settings.baud_rate;
    sp.line->bits_per_byte = 1 + (settings.eight_data_bits ? 8 : 7) +
                             (settings.parity == 1 || settings.parity == 2 ? 1 : 0) +
                             (settings.two_stop_bits ? 2 : 1);
    return !sp.line->faults.configure_fails;
}

bool sim_modem_status(PlatPort &port, uint32_t *status)
{
    Line &l = *sim_port(port).line;
    if (l.faults.modem_status_fails)
        return false;
    *status = l.faults.cts ? PLAT_MODEM_CTS : 0;
    return true;
}

void sim_purge_tx(PlatPort &) {}

void sim_purge_rx(PlatPort &port)
{
    Line &l = *sim_port(port).line;
    ++l.purges_rx;
    while (input_waiting())
        l.incoming.pop_front();
}

bool sim_write(PlatPort &port, const void *bytes, uint32_t len, uint32_t *written)
{
    Line &l = *sim_port(port).line;
    if (l.faults.write_fails)
        return false;
    const uint8_t *p = static_cast<const uint8_t *>(bytes);
    l.written.insert(l.written.end(), p, p + len);
    l.writes.emplace_back(p, p + len);
    *written = len;
    if (l.peer)
        l.peer(p, len);
    return true;
}

bool sim_read(PlatPort &port, uint8_t *bytes, uint8_t *errors, uint32_t capacity, uint32_t *count)
{
    Line &l = *sim_port(port).line;
    *count = 0;
    if (l.faults.read_fails)
        return false;
    ++l.reads;
    uint32_t n = 0;
    while (n < capacity && input_waiting()) {
        Arrival a = l.incoming.front();
        l.incoming.pop_front();
        bytes[n] = a.byte;
        errors[n] = a.flagged ? PLAT_LINE_FRAMING : 0;
        ++n;
    }
    *count = n;
    return true;
}

intptr_t sim_os_handle(const PlatPort &) { return SIM_OS_HANDLE; }

void sim_expect(PlatPort &port, uint32_t bytes_due)
{
    Line &l = *sim_port(port).line;
    l.due = bytes_due;
    l.hint_new = true;
}

// Called by the pump before it waits: applies a new hint or ends a hinted
// wait that ran out, then says whether the bytes waited for are there.
bool sim_input_ready(PlatPort &port)
{
    Line &l = *sim_port(port).line;
    const uint64_t now = now_ms();
    if (l.hint_new) {
        l.hint_new = false;
        l.hint_until = 0;
        if (l.due > 1 && l.baud != 0) {
            uint64_t line_ms = (uint64_t{l.due} * l.bits_per_byte * 1000 + l.baud - 1) / l.baud;
            l.hint_until = now + 2 * line_ms + HINT_SLACK_MS;
        }
    } else if (l.hint_until != 0 && now >= l.hint_until) {
        l.hint_until = 0;
    }
    size_t want = bytes_awaited();
    return l.incoming.size() >= want && l.incoming[want - 1].at_ms <= now;
}

void sim_close(PlatPort &port)
{
    Line &l = *sim_port(port).line;
    l.open = false;
    l.incoming.clear();
}

// Every byte written has arrived at the terminal already; the simulated
// line has no modem lines to set.
bool sim_drain(PlatPort &) { return true; }

bool sim_set_lines(PlatPort &, bool, bool) { return true; }

// The simulated pump jumps virtual time to the line's next arrival itself:
// no handle to wait on, no slice to sleep.
const PortOps SIM_OPS = {
    sim_open,  sim_setup_queues, sim_configure, sim_modem_status, sim_purge_tx,    sim_purge_rx,
    sim_write, sim_read,         sim_os_handle, nullptr,          sim_input_ready, nullptr,
    sim_close, sim_drain,        sim_set_lines, sim_expect,
};

}   // namespace

bool plat_port_name(unsigned com_number, char *out, size_t size)
{
    int len = std::snprintf(out, size, "COM%u", com_number);
    return len > 0 && static_cast<size_t>(len) < size;
}

const PortOps *plat_port_backend(const char *name)
{
    return std::strncmp(name, "COM", 3) == 0 ? &SIM_OPS : nullptr;
}

bool plat_trace_telnet() { return line.trace_telnet; }

bool plat_trace_path(char *out, size_t size)
{
    if (line.trace_path.empty() || line.trace_path.size() >= size)
        return false;
    std::snprintf(out, size, "%s", line.trace_path.c_str());
    return true;
}
