// answer_waits.cpp - the sender's waits for the terminal's answers.
//
// Every wait polls the port, pumps messages and tests the abort request and
// the session timer.  In the connection and closing phases the 500 ms wait
// runs from the control message we sent: bytes that arrive (stray bytes
// from an infrared adapter included) neither stop nor restart it.
#include <cstring>

#include "download/steps.h"
#include "orv5w32.h"
#include "runtime/progress.h"
#include "runtime/timer.h"

// A control message's station pair, bytes.
constexpr int32_t STATION_BYTES = 2;

static void send_ctrl(Sender &snd, uint8_t code)
{
    uint8_t msg[CTRL_MSG_LEN];
    make_ctrl_msg(msg, code, snd.station);
    transmit(*snd.run, *snd.channel, CTRL_MSG_LEN, msg);
}

void send_enq(Sender &snd)
{
    send_ctrl(snd, cENQ);
}

int send_eot(Sender &snd, int state)
{
    send_ctrl(snd, cEOT);
    return state;
}

// A timer that cannot be armed stops the run (stop_code), which the wait
// that follows sees: the result needs no look here.
void arm_answer_wait(Sender &snd)
{
    (void)timer_set(*snd.run, ANSWER_TICKS);
}

// Disarms the timer; a failure stops the run, which the next wait sees.
static void disarm(Sender &snd)
{
    (void)timer_set(*snd.run, 0);
}

Orv5Result abort_now(Sender &snd)
{
    disarm(snd);
    com_clear_tx(*snd.channel);
    snd.state = send_eot(snd, DQUIT);
    return stop_code(*snd.run);
}

[[nodiscard]] static Orv5Result give_up(Sender &snd, int state)
{
    snd.state = state;
    if (snd.first_error == 0)
        snd.first_error = ORV5_E_TX_TIMEOUT;
    return ORV5_E_TX_TIMEOUT;
}

// The port is gone (device unplugged, line hung up): no answer can come,
// and -L0 would otherwise ask for ever.  Ends as a time-out does.
[[nodiscard]] static Orv5Result line_gone(Sender &snd)
{
    disarm(snd);
    return give_up(snd, send_eot(snd, DQUIT));
}

// Connection phase: the enquiry goes out again and the answer is read from
// its first byte, so that a half-read station pair is never completed with
// whatever comes next.
[[nodiscard]] static Orv5Result ask_again_for_connection(Sender &snd)
{
    snd.state = DS11;
    send_enq(snd);
    arm_answer_wait(snd);
    return ORV5_OK;
}

Orv5Result ds_timeout(Sender &snd)
{
    disarm(snd);
    if (snd.wack_wait) {   // a WACK, then 60 s of silence
        snd.wack_wait = false;
        return give_up(snd, send_eot(snd, DQUIT));
    }
    const bool connecting = snd.state < DS210;
    if (connecting && snd.settings->exchange.timeout_s == 0)
        return ask_again_for_connection(snd);   // -L0: never gives up
    snd.retry_count += 1;
    if (snd.retry_count < snd.retry_limit) {
        if (connecting)
            return ask_again_for_connection(snd);
        if (snd.state >= DS310)
            snd.state = DS310;   // send the EOT again
        else
            send_enq(snd);       // ask the terminal to answer the frame again
        return ORV5_OK;
    }
    if (snd.state >= DS310)
        return give_up(snd, DQUIT);
    return give_up(snd, send_eot(snd, DQUIT));
}

// --- single bytes ---------------------------------------------------------

using ByteFn = void (*)(Sender &snd, uint8_t c);

// Waits for one good byte and hands it to handle; the 500 ms wait was
// armed when our control message went out.
static int wait_byte(Sender &snd, ByteFn handle)
{
    for (;;) {
        if (com_rx_count(*snd.channel) > 0) {
            int c = com_getc(*snd.channel);
            if ((c & COM_NO_BYTE_MASK) == 0) {
                handle(snd, static_cast<uint8_t>(c));
                return 0;
            }
            continue;
        }
        pump_wait(*snd.run, snd.channel->port);
        if (stop_code(*snd.run) != ORV5_OK)
            return abort_now(snd);
        if (port_gone(*snd.run, *snd.channel))
            return line_gone(snd);
        if (timer_expired(*snd.run))
            return ds_timeout(snd);
    }
}

// The control codes whose two station bytes are skipped.
static bool is_other_ctrl(uint8_t c)
{
    return (c >= cSOH && c <= cENQ) || c == cNAK;
}

static void on_answer_dle(Sender &snd, uint8_t c, int next)
{
    if (c == cDLE)
        snd.state = next;
}

static void on_answer_code(Sender &snd, uint8_t c, int ack_state, int skip_state, int hunt_state)
{
    snd.station_bytes_read = 0;
    snd.state = c == cACK ? ack_state : is_other_ctrl(c) ? skip_state : hunt_state;
}

static void on_skipped_byte(Sender &snd, int hunt_state)
{
    if (++snd.station_bytes_read == STATION_BYTES)
        snd.state = hunt_state;
}

static void on_ds11(Sender &snd, uint8_t c) { on_answer_dle(snd, c, DS12); }
static void on_ds12(Sender &snd, uint8_t c) { on_answer_code(snd, c, DS13, DS14, DS11); }
static void on_ds14(Sender &snd, uint8_t) { on_skipped_byte(snd, DS11); }
static void on_ds311(Sender &snd, uint8_t c) { on_answer_dle(snd, c, DS312); }
static void on_ds312(Sender &snd, uint8_t c) { on_answer_code(snd, c, DS313, DS314, DS311); }
static void on_ds314(Sender &snd, uint8_t) { on_skipped_byte(snd, DS311); }

// The terminal's ACK to the enquiry names its station: it is used from here on.
static void on_ds13(Sender &snd, uint8_t c)
{
    snd.station[snd.station_bytes_read++] = c;
    if (snd.station_bytes_read == STATION_BYTES) {
        disarm(snd);
        snd.retry_limit = RETRY_LIMIT_LINKED;
        snd.state = DS210;
    }
}

static void on_ds313(Sender &snd, uint8_t c)
{
    if (c != snd.station[snd.station_bytes_read]) {
        snd.state = DS311;
        return;
    }
    if (++snd.station_bytes_read == STATION_BYTES) {
        disarm(snd);
        snd.state = DQUIT;
    }
}

int ds11(Sender &snd, int) { return wait_byte(snd, on_ds11); }
int ds12(Sender &snd, int) { return wait_byte(snd, on_ds12); }
int ds13(Sender &snd, int) { return wait_byte(snd, on_ds13); }
int ds14(Sender &snd, int) { return wait_byte(snd, on_ds14); }
int ds311(Sender &snd, int) { return wait_byte(snd, on_ds311); }
int ds312(Sender &snd, int) { return wait_byte(snd, on_ds312); }
int ds313(Sender &snd, int) { return wait_byte(snd, on_ds313); }
int ds314(Sender &snd, int) { return wait_byte(snd, on_ds314); }

// --- answers to frames ------------------------------------------------------

// Result of a complete answer that ends the wait without an error.
constexpr int ANSWER_DONE = -1;

static void note_error(Sender &snd, int code)
{
    if (snd.first_error == 0)
        snd.first_error = code;
}

static int on_nak(Sender &snd);

static int on_ack(Sender &snd)
{
    // An ACK to our re-enquiry proves nothing about the frame: a terminal
    // that never saw the header answers any enquiry as it answered the
    // opening one, and one that missed a record may repeat its last ACK.
    // The frame goes out again, like after a NAK (and within its limit); a
    // terminal that has it acknowledges the repeat without keeping it twice.
    if (snd.retry_count > 0)
        return on_nak(snd);
    snd.wack_wait = false;
    snd.retry_count = 0;
    snd.nak_count = 0;
    if (snd.state < DS260) {   // the header was answered
        snd.state = snd.records_total > 0 ? DS260 : DS310;
    } else {
        progress_update(*snd.run, static_cast<uint32_t>(snd.serial_no), snd.records_total);
        snd.state = snd.serial_no < snd.records_total ? DS260 : DS310;
    }
    return ANSWER_DONE;
}

static int on_nak(Sender &snd)
{
    snd.wack_wait = false;
    snd.retry_count = 0;
    if (++snd.nak_count < NAK_LIMIT)
        return ANSWER_DONE;   // the same frame goes out again
    snd.nak_count = 0;
    snd.state = DS310;
    note_error(snd, ORV5_E_TX_NAK_LIMIT);
    return ORV5_E_TX_NAK_LIMIT;
}

static int on_eot(Sender &snd)
{
    snd.wack_wait = false;
    snd.retry_count = 0;
    snd.nak_count = 0;
    snd.state = DS310;
    note_error(snd, ORV5_E_TERMINAL_EOT);
    return ORV5_E_TERMINAL_EOT;
}

static int on_wack(Sender &snd)
{
    snd.retry_count = 0;
    snd.wack_wait = true;
    (void)timer_set(*snd.run, WACK_WAIT_TICKS);   // a failure stops the run: the wait sees it
    return 0;
}

// What an answer means for the frame in flight: 0 keep waiting,
// ANSWER_DONE, or an error that ends the wait.
static int on_frame_answer(Sender &snd, Answer a)
{
    switch (a) {
    case Answer::Ack: return on_ack(snd);
    case Answer::Nak: return on_nak(snd);
    case Answer::Eot: return on_eot(snd);
    case Answer::Wack: return on_wack(snd);
    default: return 0;   // an enquiry, a skipped frame, an incomplete answer
    }
}

static int await_answer(Sender &snd, int result)
{
    SerialChannel &ch = *snd.channel;
    while (result == 0) {
        if (com_rx_count(ch) == 0)
            pump_wait(*snd.run, ch.port);
        else
            pump_messages(*snd.run);
        if (stop_code(*snd.run) != ORV5_OK) {
            result = abort_now(snd);
        } else if (port_gone(*snd.run, ch)) {
            result = line_gone(snd);
        } else if (timer_expired(*snd.run)) {
            result = ds_timeout(snd);   // the frame is not sent again
            arm_answer_wait(snd);
        } else if (com_rx_count(ch) > 0) {
            int c = com_getc(ch);
            if ((c & COM_NO_BYTE_MASK) == 0)
                result = on_frame_answer(snd, answer_reader_feed(snd.answers, static_cast<uint8_t>(c)));
        }
    }
    return result;
}

static int send_frame(Sender &snd, int result)
{
    const int32_t state = snd.state;
    snd.nak_count = 0;
    while (snd.state == state && result == 0) {
        snd.wack_wait = false;
        snd.retry_count = 0;
        answer_reader_reset(snd.answers, snd.station);
        transmit(*snd.run, *snd.channel, snd.frame_len, snd.frame);
        arm_answer_wait(snd);
        result = await_answer(snd, result);
        if (result == ANSWER_DONE)   // a complete ACK, or a NAK below the limit
            result = 0;
        if (!timer_expired(*snd.run))
            disarm(snd);
    }
    if (!timer_expired(*snd.run))
        disarm(snd);
    return result;
}

int ds211(Sender &snd, int result) { return send_frame(snd, result); }
int ds261(Sender &snd, int result) { return send_frame(snd, result); }
