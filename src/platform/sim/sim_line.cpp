// sim_line.cpp - the virtual serial line.
#include <cstdio>
#include <deque>

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
    std::string trace_path;
};
Line line;
constexpr plat_port SIM_PORT = 7;   // any valid-looking handle
}  // namespace

void reset_line()
{
    line = Line();
}

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
void set_trace_path(const std::string &path) { line.trace_path = path; }

bool next_arrival(uint64_t *at_ms)
{
    if (!line.open || line.incoming.empty())
        return false;
    *at_ms = line.incoming.front().at_ms;
    return true;
}

bool input_waiting()
{
    return line.open && !line.incoming.empty() && line.incoming.front().at_ms <= now_ms();
}

}  // namespace sim

using namespace sim;

plat_port plat_port_open(unsigned com_number)
{
    line.com = com_number;
    if (line.faults.open_fails || line.open || com_number == 0)
        return PLAT_PORT_INVALID;
    line.open = true;
    session_started();
    return SIM_PORT;
}

void plat_port_setup_queues(plat_port, uint32_t, uint32_t) {}

bool plat_port_configure(plat_port, const LineSettings &settings)
{
    // Recorded as the Win32 backend would spell it, for tests to compare.
    char parity = settings.parity == 1 ? 'o' : settings.parity == 2 ? 'e' : 'n';
    char mode[64];
    std::snprintf(mode, sizeof mode, "COM%u:%lu,%c,%c,%c", line.com,
                  static_cast<unsigned long>(settings.baud_rate), parity,
                  settings.eight_data_bits ? '8' : '7', settings.two_stop_bits ? '2' : '1');
    line.mode = mode;
    return !line.faults.configure_fails;
}

bool plat_port_modem_status(plat_port port, uint32_t *status)
{
    if (port != SIM_PORT || line.faults.modem_status_fails)
        return false;
    *status = line.faults.cts ? PLAT_MODEM_CTS : 0;
    return true;
}

void plat_port_purge_tx(plat_port) {}

void plat_port_purge_rx(plat_port)
{
    ++line.purges_rx;
    while (input_waiting())
        line.incoming.pop_front();
}

bool plat_port_write(plat_port port, const void *bytes, uint32_t len, uint32_t *written)
{
    if (port != SIM_PORT || line.faults.write_fails)
        return false;
    const uint8_t *p = static_cast<const uint8_t *>(bytes);
    line.written.insert(line.written.end(), p, p + len);
    line.writes.emplace_back(p, p + len);
    *written = len;
    if (line.peer)
        line.peer(p, len);
    return true;
}

bool plat_port_read(plat_port port, uint8_t *bytes, uint8_t *errors, uint32_t capacity,
                    uint32_t *count)
{
    *count = 0;
    if (port != SIM_PORT || line.faults.read_fails)
        return false;
    ++line.reads;
    uint32_t n = 0;
    while (n < capacity && input_waiting()) {
        Arrival a = line.incoming.front();
        line.incoming.pop_front();
        bytes[n] = a.byte;
        errors[n] = a.flagged ? PLAT_LINE_FRAMING : 0;
        ++n;
    }
    *count = n;
    return true;
}

void plat_port_close(plat_port)
{
    line.open = false;
    line.incoming.clear();
}

bool plat_trace_path(char *out, size_t size)
{
    if (line.trace_path.empty() || line.trace_path.size() >= size)
        return false;
    std::snprintf(out, size, "%s", line.trace_path.c_str());
    return true;
}
