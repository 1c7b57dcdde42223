// upload.cpp - receiving one file from the terminal.
//
// The PC is the passive side: the terminal opens with an enquiry, sends one
// header frame, one data frame per record and closes with EOT; the PC
// answers each with a control message.  A table-driven state machine: every
// state function polls the port one byte at a time, pumps messages, watches
// the abort request and the time-out, and returns once a good byte has been
// handled.  The frame reader (link/frame_reader) reads the bytes: where it
// stands names the next state, and each state decides over what it
// completed (a message, a frame).  The frame checks and answers are in
// receive_checks.cpp.
#include "upload/upload.h"

#include "orv5w32.h"
#include "platform/session_clock.h"
#include "runtime/timer.h"
#include "upload/receiver.h"

// The order of the three tests in one pass of a state's waiting loop.
enum class PassOrder {
    AbortFirst,         // waiting for a frame: an abort is seen at once
    ByteTimeoutAbort,   // inside a header body
    ByteAbortTimeout    // everywhere else
};

// What a state does with what the reader completed: ORV5_OK, or a result.
using EventRule = Orv5Result (*)(Receiver &r, const FrameEvent &e);

[[nodiscard]] static Orv5Result on_byte(Receiver &r, uint8_t c, EventRule rule);

[[nodiscard]] static Orv5Result on_abort(Receiver &r)
{
    com_clear_tx(*r.channel);
    ack_eot(r, cEOT, UQUIT);
    return stop_code(*r.run);
}

static bool timed_out(const Receiver &r)
{
    // A port that is gone brings no terminal any more: it ends the wait at
    // once, the -L0 wait included, as its time-out would.
    if (port_gone(*r.run, *r.channel))
        return true;
    // Until the header phase -L0 waits for the terminal without limit.
    return timer_expired(*r.run) && (r.state >= S211 || r.settings->exchange.timeout_s != 0);
}

[[nodiscard]] static Orv5Result on_timeout(Receiver &r)
{
    ack_eot(r, cEOT, UQUIT);
    return ORV5_E_RX_TIMEOUT;
}

// One state: loops until a good byte has been handled, an abort or a
// time-out.  The time-out (and in the last two orders the abort) is only
// looked at while no byte is waiting.
[[nodiscard]] static Orv5Result run_state(Receiver &r, PassOrder order, EventRule rule)
{
    SerialChannel &ch = *r.channel;
    for (;;) {
        if (order == PassOrder::AbortFirst) {
            pump_messages(*r.run);
            if (stop_code(*r.run) != ORV5_OK)
                return on_abort(r);
        }
        if (com_rx_count(ch) > 0) {
            int c = com_getc(ch);
            if ((c & COM_NO_BYTE_MASK) == 0)
                return on_byte(r, static_cast<uint8_t>(c), rule);
            continue;   // a byte with a line error, or none after all
        }
        if (order == PassOrder::ByteTimeoutAbort && timed_out(r))
            return on_timeout(r);
        pump_wait(*r.run, ch.port);
        if (stop_code(*r.run) != ORV5_OK)
            return on_abort(r);
        if (timed_out(r))
            return on_timeout(r);
    }
}

// --- reading the terminal's bytes -----------------------------------------------

// What the reader takes after a DLE in each phase.  Connection: only the
// enquiry, whatever its station.  Header and data phases: the frame the
// phase expects (in the data phase a repeat of the header whose ACK was
// lost, before the first record), the terminal's enquiry and EOT for our
// station, and ACK, NAK or WACK with two bytes to skip.
static FrameRules rules_connect() { return FrameRules{0, 0, FC_ENQ, 0, 0, 0}; }

static FrameRules rules_for_frames(uint16_t frames)
{
    return FrameRules{frames,          0, FC_ENQ | FC_EOT | FC_ACK | FC_NAK | FC_WACK,
                      FC_ENQ | FC_EOT, 0, 0};
}

// Stored bytes of the data frames the accepted header announced.
static uint16_t data_frame_size(const Receiver &r)
{
    if (!r.header_accepted)
        return 0;
    return static_cast<uint16_t>(data_packet_length(r.header));
}

// Closing phase: the terminal's EOT for our station, and codes whose two
// bytes are skipped.  Once the file is complete the terminal may not have
// heard our last ACK: it repeats its last block (or, for an empty file,
// the header), or asks with an enquiry; those are answered as in the data
// phase.
static FrameRules rules_closing(const Receiver &r)
{
    FrameRules rules{0,      0, FC_EOT | FC_SOH | FC_STX | FC_ETX | FC_ENQ | FC_ACK | FC_NAK,
                     FC_EOT, 0, 0};
    if (r.complete) {
        rules.frames = r.records_accepted > 0 ? FC_STX : FC_SOH;
        rules.addressed |= FC_ENQ;
    }
    return rules;
}

// Sets what the reader takes after the DLE just read.
static void set_rules(Receiver &r)
{
    FrameRules rules;
    switch (r.state) {
    case S12: rules = rules_connect(); break;
    case S212: rules = rules_for_frames(FC_SOH); break;
    case S252: rules = rules_for_frames(r.records_accepted == 0 ? FC_STX | FC_SOH : FC_STX); break;
    case S312: rules = rules_closing(r); break;
    default: return;
    }
    rules.expected_stx = data_frame_size(r);
    frame_reader_set_rules(r.reader, rules);
}

// The state a phase hunts for a DLE in.  A frame abandoned for an enquiry
// goes on in the phase of its kind (S241 or S281).
static int32_t hunt_state(const Receiver &r, int32_t was)
{
    switch (was) {
    case S11:
    case S12:
    case S13: return S11;
    case S211:
    case S212:
    case S221:
    case S222:
    case S23:
    case S241:
    case S242:
    case S243: return S211;
    case S281: return r.complete ? S311 : S251;
    case S311:
    case S312:
    case S313:
    case S314: return S311;
    default: return S251;
    }
}

// The state that stands for where the reader is after a byte read in was.
static int32_t state_after(const Receiver &r, int32_t was)
{
    const int32_t hunt = hunt_state(r, was);
    const bool header_frame = r.reader.opening == cSOH;
    switch (frame_reader_pos(r.reader)) {
    case FramePos::AfterDle: return hunt + 1;
    case FramePos::Body: return header_frame ? S221 : S261;
    case FramePos::BodyAfterDle: return header_frame ? S222 : S262;
    case FramePos::Check: return header_frame ? S23 : S27;
    case FramePos::MessageTail: break;
    default: return hunt;
    }
    const uint8_t code = r.reader.code;
    switch (hunt) {
    case S11: return S13;
    case S211: return code == cENQ ? S241 : code == cEOT ? S243 : S242;
    case S251: return code == cENQ ? S281 : code == cEOT ? S283 : S282;
    default: return code == cEOT ? S313 : code == cENQ && r.complete ? S281 : S314;
    }
}

static Orv5Result on_byte(Receiver &r, uint8_t c, EventRule rule)
{
    const FramePos before = frame_reader_pos(r.reader);
    if (before == FramePos::AfterDle)
        set_rules(r);
    FrameEvent e = frame_reader_feed(r.reader, c);
    // Most bytes (a body's, those hunted over) leave the reader where it
    // was and complete nothing: the state stays.
    if (e.kind == FrameEventKind::None && frame_reader_pos(r.reader) == before)
        return ORV5_OK;
    r.state = state_after(r, r.state);
    return rule(r, e);
}

// --- decisions over what the reader completed -------------------------------------

// A state that only reads: the reader's position names the next state.
[[nodiscard]] static Orv5Result read_on(Receiver &, const FrameEvent &) { return ORV5_OK; }

// The enquiry, whatever station it named.
[[nodiscard]] static Orv5Result s13(Receiver &r, const FrameEvent &e)
{
    if (e.kind == FrameEventKind::Message)
        ack_eot(r, cACK, S211);
    return ORV5_OK;
}

// The frame the reader stored in r.stored, for the checks.
static void take_frame(Receiver &r)
{
    const FrameView f = frame_reader_frame(r.reader);
    r.stored_len = static_cast<int>(f.length);
    r.check = f.check;
}

[[nodiscard]] static Orv5Result s23(Receiver &r, const FrameEvent &e)
{
    if (e.kind != FrameEventKind::Frame)
        return ORV5_OK;
    take_frame(r);
    return pkt_hdr_chk(r);
}

[[nodiscard]] static Orv5Result s27(Receiver &r, const FrameEvent &e)
{
    if (e.kind != FrameEventKind::Frame)
        return ORV5_OK;
    take_frame(r);
    return pkt_dat_chk(r);
}

// The terminal's enquiry for our station: NAK (send the frame again); for
// another station the reader has gone back to hunting, without an answer.
// r.state is already the phase's hunting state, where the NAK leads back.
[[nodiscard]] static Orv5Result enquiry(Receiver &r, const FrameEvent &e)
{
    if (e.kind == FrameEventKind::Message)
        return nak(r, r.state, S311);
    return ORV5_OK;
}

// The terminal ends the transfer before its file is complete: acknowledge
// and stop.  Its EOT for another station is ignored.
[[nodiscard]] static Orv5Result early_eot(Receiver &r, const FrameEvent &e)
{
    if (e.kind != FrameEventKind::Message)
        return ORV5_OK;
    ack_eot(r, cACK, UQUIT);
    return ORV5_E_TERMINAL_EOT;
}

// The terminal's closing EOT for our station: the exchange is complete.
[[nodiscard]] static Orv5Result s313(Receiver &r, const FrameEvent &e)
{
    if (e.kind == FrameEventKind::Message)
        ack_eot(r, cACK, UQUIT);
    return ORV5_OK;
}

// --- the state table ----------------------------------------------------------------

struct StateStep {
    PassOrder order;
    EventRule rule;
    const char *name;   // the protocol's name of the state, for diagnostics
};

// Indexed by ReceiveState.
static const StateStep receive_steps[UQUIT] = {
    {PassOrder::ByteAbortTimeout, read_on, "S11"},
    {PassOrder::ByteAbortTimeout, read_on, "S12"},
    {PassOrder::ByteAbortTimeout, s13, "S13"},
    {PassOrder::AbortFirst, read_on, "S211"},
    {PassOrder::AbortFirst, read_on, "S212"},
    {PassOrder::ByteTimeoutAbort, read_on, "S221"},
    {PassOrder::ByteTimeoutAbort, read_on, "S222"},
    {PassOrder::ByteAbortTimeout, s23, "S23"},
    {PassOrder::ByteAbortTimeout, enquiry, "S241"},
    {PassOrder::ByteAbortTimeout, read_on, "S242"},
    {PassOrder::AbortFirst, read_on, "S251"},
    {PassOrder::AbortFirst, read_on, "S252"},
    {PassOrder::AbortFirst, read_on, "S261"},
    {PassOrder::ByteAbortTimeout, read_on, "S262"},
    {PassOrder::ByteAbortTimeout, s27, "S27"},
    {PassOrder::ByteAbortTimeout, enquiry, "S281"},
    {PassOrder::ByteAbortTimeout, read_on, "S282"},
    {PassOrder::ByteAbortTimeout, read_on, "S311"},
    {PassOrder::ByteAbortTimeout, read_on, "S312"},
    {PassOrder::ByteAbortTimeout, s313, "S313"},
    {PassOrder::ByteAbortTimeout, read_on, "S314"},
    {PassOrder::ByteAbortTimeout, early_eot, "S243"},
    {PassOrder::ByteAbortTimeout, early_eot, "S283"},
};

// --- wait hints --------------------------------------------------------------------
// (To move onto a shared frame reader: it knows the bytes still due.)

// Wire bytes of a data frame after its DLE STX, fewest possible (no DLE
// doubled): station, serial number, record, separators, the DLE and the
// terminator, the check field.
static uint32_t data_frame_bytes_due(const Receiver &r)
{
    const ReceivedHeader &h = r.header;
    const int separators = h.file_type == FT_DATA ? (h.ditems - 1) * SEPstr.len : 0;
    const int bytes = DATA_RECORD_OFFSET + h.record_length + separators + DLEstr.len + ETXstr.len +
                      h.chk_len;
    return bytes > 0 ? static_cast<uint32_t>(bytes) : 0;
}

static bool in_data_frame(int32_t state) { return state == S261 || state == S262 || state == S27; }

// Tells the channel, after each state, how many bytes the frame in progress
// still brings: its length is known once a data frame opens (the header
// gave the record length), and nothing is due once it ended or broke off.
static void hint_bytes_due(Receiver &r, int32_t before)
{
    if (!in_data_frame(before) && in_data_frame(r.state) && r.header_accepted)
        com_expect(*r.channel, data_frame_bytes_due(r));
    else if (in_data_frame(before) && !in_data_frame(r.state))
        com_expect(*r.channel, 0);
}

// --- the reception -------------------------------------------------------------------

static void start(Receiver &r, const SessionSettings &s, SessionRun &run, SerialChannel &channel)
{
    r.settings = &s;
    r.run = &run;
    r.channel = &channel;
    r.state = S11;
    frame_reader_init(r.reader, rules_connect(), s.exchange.station_id, r.stored, FRAME_STORE_SIZE);
}

Orv5Result upload(const SessionSettings &s, SessionRun &run, SerialChannel &channel)
{
    Receiver r{};
    start(r, s, run, channel);
    // A timer that cannot be armed stops the run (stop_code), which the
    // first wait sees: the results need no look here.
    (void)timer_set(run, 0);
    pump_messages(run);
    // -L0 leaves the timer disarmed: the terminal is awaited for ever.
    (void)timer_set(run, static_cast<uint32_t>(s.exchange.timeout_s) * 100);
    while (r.state >= S11 && r.state < UQUIT) {
        const StateStep &step = receive_steps[r.state];
        plat_note_state(step.name);
        const int32_t before = r.state;
        const Orv5Result result = run_state(r, step.order, step.rule);
        hint_bytes_due(r, before);
        if (r.first_error == ORV5_OK)
            r.first_error = result;
    }
    if (!r.complete)
        give_up_file(r);
    return r.first_error;
}
