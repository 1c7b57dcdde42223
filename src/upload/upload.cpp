// upload.cpp - receiving one file from the terminal.
//
// The PC is the passive side: the terminal opens with an enquiry, sends one
// header frame, one data frame per record and closes with EOT; the PC
// answers each with a control message.  A table-driven state machine: every
// state function polls the port one byte at a time, pumps messages, watches
// the abort request and the time-out, and returns once a good byte has been
// handled.  The frame checks and answers are in receive_checks.cpp.
#include "upload/upload.h"

#include "orv5w32.h"
#include "platform/session_clock.h"
#include "runtime/timer.h"
#include "upload/receiver.h"

// Station bytes after a control code; check bytes after a terminator.
constexpr int32_t TAIL_BYTES = 2;

// The order of the three tests in one pass of a state's waiting loop.
enum class PassOrder {
    AbortFirst,         // waiting for a frame: an abort is seen at once
    ByteTimeoutAbort,   // inside a header body
    ByteAbortTimeout    // everywhere else
};

using ByteRule = int (*)(Receiver &r, uint8_t c);

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
static int run_state(Receiver &r, PassOrder order, ByteRule rule)
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
                return rule(r, static_cast<uint8_t>(c));
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

// --- storing frame bytes ----------------------------------------------------------

static void open_frame(Receiver &r)
{
    r.stored_len = 0;
    r.overflow = false;
}

static void store(Receiver &r, uint8_t c)
{
    if (r.stored_len < FRAME_STORE_SIZE)
        r.stored[r.stored_len++] = c;
    else
        r.overflow = true;
}

// --- byte rules -------------------------------------------------------------------

static int to_state(Receiver &r, int32_t next)
{
    r.state = next;
    r.tail_read = 0;
    return 0;
}

// Two bytes to skip, then next.
static int skip_tail(Receiver &r, int32_t next)
{
    if (++r.tail_read == TAIL_BYTES)
        return to_state(r, next);
    return 0;
}

// The station bytes of the terminal's message compared with ours; at the
// first difference back to mismatch, after both to match_action.
static bool station_byte_matches(Receiver &r, uint8_t c)
{
    return c == r.settings->exchange.station_id[r.tail_read];
}

static int s11(Receiver &r, uint8_t c) { return c == cDLE ? to_state(r, S12) : 0; }
static int s12(Receiver &r, uint8_t c) { return to_state(r, c == cENQ ? S13 : S11); }

static int s13(Receiver &r, uint8_t)
{
    if (++r.tail_read == TAIL_BYTES)
        ack_eot(r, cACK, S211);   // whatever station the enquiry named
    return 0;
}

// After a DLE where a frame may open: the opening, the terminal's enquiry,
// its EOT, or a control message to skip.
static int after_dle(Receiver &r, uint8_t c, uint8_t opening, int32_t body, int32_t enquiry,
                     int32_t eot, int32_t skip, int32_t hunt)
{
    if (c == opening) {
        open_frame(r);
        return to_state(r, body);
    }
    if (c == cENQ)
        return to_state(r, enquiry);
    if (c == cEOT)
        return to_state(r, eot);
    if (c == cACK || c == cNAK || c == cWACK)
        return to_state(r, skip);
    return to_state(r, hunt);
}

static int s211(Receiver &r, uint8_t c) { return c == cDLE ? to_state(r, S212) : 0; }
static int s212(Receiver &r, uint8_t c)
{
    return after_dle(r, c, SOHstr.bytes[0], S221, S241, S243, S242, S211);
}

// A data frame may also be a repeat of the header whose ACK was lost,
// before the first record.
static int s251(Receiver &r, uint8_t c) { return c == cDLE ? to_state(r, S252) : 0; }
static int s252(Receiver &r, uint8_t c)
{
    if (c == SOHstr.bytes[0] && r.records_accepted == 0) {
        open_frame(r);
        return to_state(r, S221);
    }
    return after_dle(r, c, STXstr.bytes[0], S261, S281, S283, S282, S251);
}

static int body_byte(Receiver &r, uint8_t c, int32_t after_dle_state)
{
    if (c == cDLE)
        return to_state(r, after_dle_state);
    store(r, c);
    return 0;
}

// The byte after a DLE in a body is stored whatever it is (a doubled DLE
// yields one); the terminator leads to the check, an ENQ abandons the frame.
static int body_after_dle(Receiver &r, uint8_t c, int32_t check, int32_t enquiry, int32_t body)
{
    store(r, c);
    if (c == ETXstr.bytes[0])
        return to_state(r, check);
    if (c == cENQ)
        return to_state(r, enquiry);
    return to_state(r, body);
}

static int s221(Receiver &r, uint8_t c) { return body_byte(r, c, S222); }
static int s222(Receiver &r, uint8_t c) { return body_after_dle(r, c, S23, S241, S221); }
static int s261(Receiver &r, uint8_t c) { return body_byte(r, c, S262); }
static int s262(Receiver &r, uint8_t c) { return body_after_dle(r, c, S27, S281, S261); }

static int s23(Receiver &r, uint8_t c)
{
    store(r, c);
    if (++r.tail_read < TAIL_BYTES)
        return 0;
    return pkt_hdr_chk(r);
}

static int s27(Receiver &r, uint8_t c)
{
    store(r, c);
    if (++r.tail_read < TAIL_BYTES)
        return 0;
    return pkt_dat_chk(r);
}

// The terminal's enquiry: NAK when it names our station (send the frame
// again), otherwise silence.
static int enquiry_station(Receiver &r, uint8_t c, int32_t hunt)
{
    if (!station_byte_matches(r, c))
        return to_state(r, hunt);
    if (++r.tail_read < TAIL_BYTES)
        return 0;
    return nak(r, hunt, S311);
}

// The terminal ends the transfer before its file is complete: acknowledge
// and stop.  Its EOT for another station is ignored.
static int eot_station(Receiver &r, uint8_t c, int32_t hunt)
{
    if (!station_byte_matches(r, c))
        return to_state(r, hunt);
    if (++r.tail_read < TAIL_BYTES)
        return 0;
    ack_eot(r, cACK, UQUIT);
    return ORV5_E_TERMINAL_EOT;
}

static int s241(Receiver &r, uint8_t c) { return enquiry_station(r, c, S211); }
static int s242(Receiver &r, uint8_t) { return skip_tail(r, S211); }
static int s243(Receiver &r, uint8_t c) { return eot_station(r, c, S211); }
// After the last record the enquiry's NAK leads back to the closing phase.
static int s281(Receiver &r, uint8_t c) { return enquiry_station(r, c, r.complete ? S311 : S251); }
static int s282(Receiver &r, uint8_t) { return skip_tail(r, S251); }
static int s283(Receiver &r, uint8_t c) { return eot_station(r, c, S251); }

static int s311(Receiver &r, uint8_t c) { return c == cDLE ? to_state(r, S312) : 0; }

// Once the file is complete the terminal may not have heard our last ACK:
// it repeats its last block (or, for an empty file, the header), or asks
// with an enquiry.  Those are answered as in the data phase.
static int s312(Receiver &r, uint8_t c)
{
    if (r.complete) {
        if (c == STXstr.bytes[0] && r.records_accepted > 0) {
            open_frame(r);
            return to_state(r, S261);
        }
        if (c == SOHstr.bytes[0] && r.records_accepted == 0) {
            open_frame(r);
            return to_state(r, S221);
        }
        if (c == cENQ)
            return to_state(r, S281);
    }
    switch (c) {
    case cEOT: return to_state(r, S313);
    case cSOH: case cSTX: case cETX: case cENQ: case cACK: case cNAK: return to_state(r, S314);
    default: return to_state(r, S311);
    }
}

static int s313(Receiver &r, uint8_t c)
{
    if (!station_byte_matches(r, c))
        return to_state(r, S311);
    if (++r.tail_read == TAIL_BYTES)
        ack_eot(r, cACK, UQUIT);   // the exchange is complete
    return 0;
}

static int s314(Receiver &r, uint8_t) { return skip_tail(r, S311); }

// --- the state table ----------------------------------------------------------------

struct StateStep {
    PassOrder order;
    ByteRule rule;
    const char *name;   // the protocol's name of the state, for diagnostics
};

// Indexed by ReceiveState.
static const StateStep receive_steps[UQUIT] = {
    {PassOrder::ByteAbortTimeout, s11, "S11"},   {PassOrder::ByteAbortTimeout, s12, "S12"},
    {PassOrder::ByteAbortTimeout, s13, "S13"},   {PassOrder::AbortFirst, s211, "S211"},
    {PassOrder::AbortFirst, s212, "S212"},       {PassOrder::ByteTimeoutAbort, s221, "S221"},
    {PassOrder::ByteTimeoutAbort, s222, "S222"}, {PassOrder::ByteAbortTimeout, s23, "S23"},
    {PassOrder::ByteAbortTimeout, s241, "S241"}, {PassOrder::ByteAbortTimeout, s242, "S242"},
    {PassOrder::AbortFirst, s251, "S251"},       {PassOrder::AbortFirst, s252, "S252"},
    {PassOrder::AbortFirst, s261, "S261"},       {PassOrder::ByteAbortTimeout, s262, "S262"},
    {PassOrder::ByteAbortTimeout, s27, "S27"},   {PassOrder::ByteAbortTimeout, s281, "S281"},
    {PassOrder::ByteAbortTimeout, s282, "S282"}, {PassOrder::ByteAbortTimeout, s311, "S311"},
    {PassOrder::ByteAbortTimeout, s312, "S312"}, {PassOrder::ByteAbortTimeout, s313, "S313"},
    {PassOrder::ByteAbortTimeout, s314, "S314"}, {PassOrder::ByteAbortTimeout, s243, "S243"},
    {PassOrder::ByteAbortTimeout, s283, "S283"},
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
    const int bytes = DATA_RECORD_OFFSET + h.record_length + separators + DLEstr.len
                      + ETXstr.len + h.chk_len;
    return bytes > 0 ? static_cast<uint32_t>(bytes) : 0;
}

static bool in_data_frame(int32_t state)
{
    return state == S261 || state == S262 || state == S27;
}

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
        int result = run_state(r, step.order, step.rule);
        hint_bytes_due(r, before);
        if (r.first_error == 0)
            r.first_error = result;
    }
    if (!r.complete)
        give_up_file(r);
    // Once the machine stops, every state's result is a result code.
    return static_cast<Orv5Result>(r.first_error);
}
