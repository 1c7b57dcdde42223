// sim.h - the simulated platform used by tests: a virtual serial line to a
// scripted terminal, a virtual clock, a recording progress window and a
// registry of fake plug-ins.
//
// Time only moves when the library waits (plat_pump_wait, plat_sleep_ms):
// it jumps to the next event (a byte arriving, a timer tick, a scheduled
// action), so a 30-second time-out takes microseconds and every run is the
// same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

// Fresh line, clock at 0, no timer, no window, no plug-ins, no faults.
void reset();

uint64_t now_ms();

// --- the line ---------------------------------------------------------
// Called with every block the library writes (one frame or message).
using PeerFn = std::function<void(const uint8_t *bytes, size_t n)>;
void set_peer(PeerFn peer);

// Queues bytes from the terminal, arriving delay_ms from now.  flagged
// marks them as received with a line error.
void deliver(const uint8_t *bytes, size_t n, uint32_t delay_ms = 0, bool flagged = false);
void deliver(const std::vector<uint8_t> &bytes, uint32_t delay_ms = 0);

// Everything the library wrote, in order, and each write separately.
const std::vector<uint8_t> &written();
const std::vector<std::vector<uint8_t>> &writes();

// Line state and faults.
struct LineFaults {
    bool open_fails = false;
    bool configure_fails = false;
    bool modem_status_fails = false;
    bool write_fails = false;
    bool read_fails = false;
    uint32_t cts = 1;   // CTS line state (modem status)
};
LineFaults &faults();
bool port_is_open();
unsigned opened_com_number();   // COM number of the last open
std::string last_mode();        // last configure as "COMn:baud,p,d,s"
uint32_t purges_rx();           // input purges so far
uint32_t port_reads();          // fetches from the port so far
uint32_t bytes_due_hint();      // the port's last wait hint (PortOps::expect), bytes
// The byte-trace file the platform reports (ORV5_TRACE); "" for none.
void set_trace_path(const std::string &path);
// What the platform reports for ORV5_TRACE_TELNET (the simulated line has
// no network port; kept so that the platform answers every question).
void set_trace_telnet(bool on);

// --- time ---------------------------------------------------------------
// Runs fn when virtual time reaches at_ms (from inside the pump).
void at(uint64_t at_ms, std::function<void()> fn);
// Runs fn on every pump (nested message handling, as a host window would).
void on_pump(std::function<void()> fn);
bool timer_exists();            // a session timer runs (armed, not killed)
uint32_t timer_interval_ms();   // interval of the timer armed last
struct TimerFaults {
    bool arm_fails = false;
    int arm_fails_after = -1;
};
TimerFaults &timer_faults();
uint64_t slept_ms();   // total of plat_sleep_ms

// --- hangs -------------------------------------------------------------------
// A session (from the port's opening to its closing) that runs past a cap
// is hung, not slow.  Without a watch only the 48-hour stop applies, which
// ends the process.  With one, a session that passes virtual_ms of virtual
// time, wall_ms of real time, or still_pumps pumps without virtual time
// moving (a loop spinning on a state it never leaves) gets a hang report
// naming the protocol state it was in, and on_hang is called once to end
// it (AbortOrv5); if it runs on regardless, the process stops with the
// report.  The watch is kept across reset().
struct HangWatch {
    uint64_t virtual_ms = 15ull * 60 * 1000;   // 15 minutes
    uint64_t wall_ms = 20000;
    uint64_t still_pumps = 5000000;
    std::function<void()> on_hang;
};
void watch_for_hangs(const HangWatch &watch);
void stop_watching_for_hangs();
// Empty, or what the watch saw of each hung session since the last clear,
// one a line: the state and how long the session ran.
const std::string &hang_report();
void clear_hang_report();
// The protocol state the library reported last in this session ("" for none).
std::string protocol_state();

// --- progress window ---------------------------------------------------------
struct Window {
    bool exists = false;
    int mode = 0;   // 1 counter, 2 bar
    std::string title, name, counter, bar_text;
    uint32_t bar_done = 0;
    int32_t bar_total = 0;
    uint32_t x_flags = 0;
    int32_t x = 0, y = 0;
    int created = 0, destroyed = 0;
    // Every plat_progress_show_counts, in order.
    struct Counts {
        uint32_t done;
        int32_t total;
        uint64_t bytes;
    };
    std::vector<Counts> counts;
};
Window &window();
bool &window_create_fails();
// Clicks the Abort button of the window that exists: its callback runs on
// the calling thread (from an on_pump or at action, as a window procedure
// would).  False when there is no window or it has no such callback.
bool click_abort();

// --- plug-ins -----------------------------------------------------------------
using InitFn = int (*)(int port);   // the plug-in entry; the port is a descriptor here
// A library at path; init null means it has no InitIrDevice export.
void add_library(const std::string &path, InitFn init);
int libraries_loaded();   // currently loaded (must be 0 after a session)
intptr_t last_init_port();

// --- file system ----------------------------------------------------------------
// The simulated file layer works on real files (tests hand it paths in a
// temporary folder) and fails where the fault plan says.  "at N" hits the
// Nth call of that kind since the last reset (1 = the first), 0 = never; a
// failing call reports an I/O error (EIO) and does nothing, except that a
// failing close still closes the file.
struct FsFaults {
    int create_fails_at = 0;   // plat_file_create_unique
    int open_fails_at = 0;     // plat_file_open_read and _append
    int write_fails_at = 0;
    int read_fails_at = 0;
    int sync_fails_at = 0;
    int close_fails_at = 0;
    int replace_fails_at = 0;
    int truncate_fails_at = 0;
    int remove_fails_at = 0;
    // Every sync (or close) of one file fails: the Nth file handed out by
    // plat_file_create_unique or plat_file_open_read / _append since the
    // last reset (1 = the first), whichever call of its kind that is.
    int sync_fails_on_file = 0;
    int close_fails_on_file = 0;
    // The disk takes this many more bytes (all writes together), then every
    // write fails with a full disk; the write crossing the limit stores the
    // bytes that fit first.  Negative: no limit.
    int64_t full_after_bytes = -1;
    bool free_space_unknown = false;   // plat_dir_free_space cannot tell
};
FsFaults &fs_faults();

// Calls made since the last reset, failed ones included.
struct FsCounts {
    int creates = 0, opens = 0, writes = 0, reads = 0, syncs = 0, closes = 0;
    int replaces = 0, truncates = 0, removes = 0;   // plat_file_replace_keeping counts as a replace
    uint64_t bytes_written = 0;
    int open_files = 0;   // created or opened and not yet closed
};
const FsCounts &fs_counts();

// The path of the Nth file handed out since the last reset (1 = the first),
// as counted for sync_fails_on_file; "" when there was none.
std::string fs_file_path(int n);

// What plat_dir_free_space and plat_disk_free report, bytes.
uint64_t &disk_free();

}   // namespace sim
