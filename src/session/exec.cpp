// exec.cpp - the exported entry points and the session driver.
//
// One ExecOrv5 call is one session, run on the caller's thread: parse the
// command text, open the port, run the adapter plug-in, show the progress
// window, start the timer, transfer one file, then release everything in
// reverse order.  Nothing but files and name_buf outlives the call.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "download/download.h"
#include "link/adapter.h"
#include "link/serial.h"
#include "orv5w32.h"
#include "platform/os_reason.h"
#include "platform/session_clock.h"
#include "runtime/progress.h"
#include "runtime/session_run.h"
#include "runtime/settings.h"
#include "runtime/timer.h"
#include "session/argv.h"
#include "session/complete.h"
#include "session/options.h"
#include "upload/upload.h"

// Everything one call owns, created by ExecOrv5 and handed down.
struct Session {
    SessionSettings settings;   // read-only once the command text is parsed and completed
    ArgVector args;             // the emulated command line
    SessionRun run;             // the run-time record: timer, stop request, display, channel
    SerialChannel channel;
};

// The nested-call guard: what the process is doing, in one atomic so that
// busy and direction are read together.  Process-wide because a nested
// ExecOrv5 (from the host's window procedure, inside the session's pump) or
// AbortOrv5 from another thread must see the running session; the
// test-and-set keeps two threads entering at once from both starting one.
enum SessionGuard : uint8_t { GUARD_IDLE = 0, GUARD_SENDING = 1, GUARD_RECEIVING = 2 };
static std::atomic<uint8_t> session_guard{GUARD_IDLE};

[[nodiscard]] static Orv5Result busy_code(uint8_t guard)
{
    return guard == GUARD_RECEIVING ? ORV5_E_BUSY_RECEIVING : ORV5_E_BUSY_SENDING;
}

static const char ARGV0[] = "orvw.exe";
constexpr int ARGV0_LEN = sizeof ARGV0 - 1;   // 8
constexpr uint32_t AFTER_TRANSFER_MS = 100;   // lets the last answer drain
constexpr uint32_t DRAIN_BITS_TICKS = 20;     // see drain_ticks()

static const char VERSION_TEXT[] = "1.01S";

// Ticks of 10 ms for the drain wait: 20 / (baud / 100) + 1, so one tick at
// 2400 bit/s and above, 7 at 300 bit/s.
static uint32_t drain_ticks(uint32_t baud_rate)
{
    uint32_t per100 = baud_rate / 100;
    return (per100 ? DRAIN_BITS_TICKS / per100 : DRAIN_BITS_TICKS) + 1;
}

// Length of text if it is a usable command text, else -1 (empty or too
// long).  Never reads more than the limit + 1 characters.
static int command_length(const char *text)
{
    int n = 0;
    while (n <= CMDLINE_MAX - ARGV0_LEN && text[n] != '\0')
        ++n;
    if (n == 0 || ARGV0_LEN + n > CMDLINE_MAX)
        return -1;
    return n;
}

[[nodiscard]] static Orv5Result run_transfer(Session &ses)
{
    pump_messages(ses.run);
    if (Orv5Result stop = stop_code(ses.run); stop != ORV5_OK)
        return stop;
    const SessionSettings &s = ses.settings;
    Orv5Result rc = s.receive_mode ? upload(s, ses.run, ses.channel)
                                   : download(s, ses.run, ses.channel);
    plat_sleep_ms(AFTER_TRANSFER_MS);
    return rc;
}

// Lets the last bytes leave the port before it closes.  A timer that cannot
// be armed here skips the wait: the transfer is over and its result stands.
static void drain_wait(SessionRun &run, uint32_t baud_rate)
{
    if (timer_set(run, drain_ticks(baud_rate)) == ORV5_OK) {
        while (!timer_expired(run))
            plat_pump_wait(run.clock, PLAT_PORT_INVALID);
    }
    // The session ends either way; a timer the platform cannot kill dies
    // with the run's record of it (nothing ticks into it after the pump).
    (void)timer_stop(run);
}

[[nodiscard]] static Orv5Result open_port(Session &ses)
{
    const SessionSettings &s = ses.settings;
    LineSettings line{s.line.baud_rate, s.line.eight_data_bits, s.line.parity,
                      s.line.two_stop_bits};
    // port_index is 0..98 from the option parser, or -1 for "-P0" (COM0,
    // which never opens).
    return com_open(ses.channel, static_cast<unsigned>(s.line.port_index + 1), line);
}

// Port, plug-in, window, timer and transfer; releases what it acquired.
[[nodiscard]] static Orv5Result run_opened_session(Session &ses)
{
    const SessionSettings &s = ses.settings;
    Orv5Result rc = open_port(ses);
    if (rc != 0)
        return rc;
    rc = load_adapter(s.line.adapter_path, ses.channel.port);
    if (rc != 0) {
        com_close(ses.channel);
        return rc;
    }
    ses.run.channel = &ses.channel;
    ses.run.turnaround_ms = s.exchange.turnaround_delay;
    if (!progress_open(ses.run, s)) {
        rc = ORV5_E_INTERNAL;
    } else if (timer_start(ses.run) != ORV5_OK) {
        rc = ORV5_E_TIMER;
    } else {
        rc = run_transfer(ses);
        drain_wait(ses.run, s.line.baud_rate);
    }
    progress_close(ses.run);
    ses.run.channel = nullptr;
    com_close(ses.channel);
    return rc;
}

[[nodiscard]] static Orv5Result run_session(Session &ses, const char *text)
{
    process_abort_request().store(0);
    plat_reason_clear();
    if (text == nullptr || command_length(text) < 0)
        return ORV5_E_COMMAND;
    build_argv(ses.args, ARGV0, text);
    Orv5Result rc = parse_args(ses.settings, ses.args.count, ses.args.vector);
    if (rc == 0)
        rc = complete_settings(ses.settings);
    if (rc != 0)
        return rc;
    session_guard.store(ses.settings.receive_mode ? GUARD_RECEIVING : GUARD_SENDING);
    return run_opened_session(ses);
}

extern "C" {

ORV5_API int ORV5_CALL ExecOrv5(orv5_window owner, const char *text, char *buf)
{
    // Sending until the command text says otherwise.
    uint8_t guard = GUARD_IDLE;
    if (!session_guard.compare_exchange_strong(guard, GUARD_SENDING))
        return busy_code(guard);
    Session ses{};   // settings at their start-of-session values
    run_begin(ses.run, (void *)owner, buf, process_abort_request());
    int rc = run_session(ses, text);
    session_guard.store(GUARD_IDLE);
    return rc;
}

ORV5_API int ORV5_CALL AbortOrv5(void)
{
    request_abort();
    uint8_t guard = session_guard.load();
    return guard == GUARD_IDLE ? 0 : busy_code(guard);
}

ORV5_API char *ORV5_CALL GetOrv5DllVersion(char *buf)
{
    if (buf)
        std::memcpy(buf, VERSION_TEXT, sizeof VERSION_TEXT);
    return buf;
}

ORV5_API int ORV5_CALL GetOrv5LastReason(char *buf, int size)
{
    const char *text = plat_reason_text();
    int length = static_cast<int>(std::strlen(text));
    if (buf && size > 0) {
        int n = length < size ? length : size - 1;
        std::memcpy(buf, text, static_cast<size_t>(n));
        buf[n] = '\0';
    }
    return length;
}

}   // extern "C"

// The result-code enum and the message table come from one list; this
// keeps a hand edit of either from going unnoticed.
static_assert(sizeof orv5_result_texts / sizeof orv5_result_texts[0] == ORV5_RESULT_COUNT,
              "every result code has exactly one message");
