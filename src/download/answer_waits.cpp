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

static void send_ctrl(Sender &snd, uint8_t code)
{
    uint8_t msg[CTRL_MSG_LEN];
    make_ctrl_msg(msg, code, snd.station);
    transmit(*snd.run, *snd.channel, CTRL_MSG_LEN, msg);
}

void send_enq(Sender &snd) { send_ctrl(snd, cENQ); }

int send_eot(Sender &snd, int state)
{
    send_ctrl(snd, cEOT);
    return state;
}

// A timer that cannot be armed stops the run (stop_code), which the wait
// that follows sees: the result needs no look here.
void arm_answer_wait(Sender &snd) { (void)timer_set(*snd.run, ANSWER_TICKS); }

// Disarms the timer; a failure stops the run, which the next wait sees.
static void disarm(Sender &snd) { (void)timer_set(*snd.run, 0); }

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
    if (snd.first_error == ORV5_OK)
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
    start_control_wait(snd);
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
            send_enq(snd);   // ask the terminal to answer the frame again
        return ORV5_OK;
    }
    if (snd.state >= DS310)
        return give_up(snd, DQUIT);
    return give_up(snd, send_eot(snd, DQUIT));
}

// --- single bytes ---------------------------------------------------------

// The terminal's control messages in the connection and closing phases:
// ACK and the others that carry two bytes (0x01 to 0x05, NAK), whatever
// their station while connecting (the terminal's is adopted); in the
// closing phase only an ACK for our station counts.
static const FrameRules CONNECT_RULES = {
    0, 0, FC_SOH | FC_STX | FC_ETX | FC_EOT | FC_ENQ | FC_ACK | FC_NAK, 0, 0, 0,
};
static const FrameRules CLOSING_RULES = {
    0, 0, FC_SOH | FC_STX | FC_ETX | FC_EOT | FC_ENQ | FC_ACK | FC_NAK, FC_ACK, 0, 0,
};

void start_control_wait(Sender &snd)
{
    frame_reader_init(snd.control, snd.state < DS310 ? CONNECT_RULES : CLOSING_RULES, snd.station,
                      nullptr, 0);
}

// The state that stands for where the reader is: hunting for the DLE, its
// code, the station bytes of an ACK, or the two bytes of another message.
static int32_t control_state(const Sender &snd, int32_t hunt)
{
    switch (frame_reader_pos(snd.control)) {
    case FramePos::AfterDle: return hunt + 1;
    case FramePos::MessageTail: return snd.control.code == cACK ? hunt + 2 : hunt + 3;
    default: return hunt;
    }
}

using ControlFn = void (*)(Sender &snd, const FrameEvent &e);

// Waits for one good byte, reads it and hands what it completed to decide;
// the 500 ms wait was armed when our control message went out.
[[nodiscard]] static Orv5Result wait_byte(Sender &snd, int32_t hunt, ControlFn decide)
{
    for (;;) {
        if (com_rx_count(*snd.channel) > 0) {
            int c = com_getc(*snd.channel);
            if ((c & COM_NO_BYTE_MASK) == 0) {
                FrameEvent e = frame_reader_feed(snd.control, static_cast<uint8_t>(c));
                snd.state = control_state(snd, hunt);
                if (e.kind == FrameEventKind::Message && e.code == cACK)
                    decide(snd, e);
                return ORV5_OK;
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

// The terminal's ACK to the enquiry names its station: it is used from here on.
static void on_connect_ack(Sender &snd, const FrameEvent &e)
{
    snd.station[0] = e.station[0];
    snd.station[1] = e.station[1];
    disarm(snd);
    snd.retry_limit = RETRY_LIMIT_LINKED;
    snd.state = DS210;
}

// The terminal acknowledged our EOT (the reader has matched its station).
static void on_closing_ack(Sender &snd, const FrameEvent &)
{
    disarm(snd);
    snd.state = DQUIT;
}

// DS11 to DS14: the reader's position names the state; the ACK decides.
Orv5Result ds11(Sender &snd, Orv5Result) { return wait_byte(snd, DS11, on_connect_ack); }
Orv5Result ds12(Sender &snd, Orv5Result) { return wait_byte(snd, DS11, on_connect_ack); }
Orv5Result ds13(Sender &snd, Orv5Result) { return wait_byte(snd, DS11, on_connect_ack); }
Orv5Result ds14(Sender &snd, Orv5Result) { return wait_byte(snd, DS11, on_connect_ack); }
Orv5Result ds311(Sender &snd, Orv5Result) { return wait_byte(snd, DS311, on_closing_ack); }
Orv5Result ds312(Sender &snd, Orv5Result) { return wait_byte(snd, DS311, on_closing_ack); }
Orv5Result ds313(Sender &snd, Orv5Result) { return wait_byte(snd, DS311, on_closing_ack); }
Orv5Result ds314(Sender &snd, Orv5Result) { return wait_byte(snd, DS311, on_closing_ack); }

// --- answers to frames ------------------------------------------------------

// What an answer means for the frame in flight.
enum class AnswerVerdict {
    KeepWaiting,   // nothing complete yet, an enquiry, a WACK
    Answered,      // an ACK, or a NAK below the limit: the wait ends, no error
    Failed,        // the NAK limit or the terminal's EOT: the wait ends with result
};

static void note_error(Sender &snd, Orv5Result code)
{
    if (snd.first_error == ORV5_OK)
        snd.first_error = code;
}

static AnswerVerdict on_nak(Sender &snd, Orv5Result &result);

static AnswerVerdict on_ack(Sender &snd, Orv5Result &result)
{
    // An ACK to our re-enquiry proves nothing about the frame: a terminal
    // that never saw the header answers any enquiry as it answered the
    // opening one, and one that missed a record may repeat its last ACK.
    // The frame goes out again, like after a NAK (and within its limit); a
    // terminal that has it acknowledges the repeat without keeping it twice.
    if (snd.retry_count > 0)
        return on_nak(snd, result);
    snd.wack_wait = false;
    snd.retry_count = 0;
    snd.nak_count = 0;
    if (snd.state < DS260) {   // the header was answered
        snd.state = snd.records_total > 0 ? DS260 : DS310;
    } else {
        progress_update(*snd.run, static_cast<uint32_t>(snd.serial_no), snd.records_total);
        snd.state = snd.serial_no < snd.records_total ? DS260 : DS310;
    }
    return AnswerVerdict::Answered;
}

static AnswerVerdict on_nak(Sender &snd, Orv5Result &result)
{
    snd.wack_wait = false;
    snd.retry_count = 0;
    if (++snd.nak_count < NAK_LIMIT)
        return AnswerVerdict::Answered;   // the same frame goes out again
    snd.nak_count = 0;
    snd.state = DS310;
    note_error(snd, ORV5_E_TX_NAK_LIMIT);
    result = ORV5_E_TX_NAK_LIMIT;
    return AnswerVerdict::Failed;
}

static AnswerVerdict on_eot(Sender &snd, Orv5Result &result)
{
    snd.wack_wait = false;
    snd.retry_count = 0;
    snd.nak_count = 0;
    snd.state = DS310;
    note_error(snd, ORV5_E_TERMINAL_EOT);
    result = ORV5_E_TERMINAL_EOT;
    return AnswerVerdict::Failed;
}

static AnswerVerdict on_wack(Sender &snd)
{
    snd.retry_count = 0;
    snd.wack_wait = true;
    (void)timer_set(*snd.run, WACK_WAIT_TICKS);   // a failure stops the run: the wait sees it
    return AnswerVerdict::KeepWaiting;
}

// result gets the error of a Failed answer.
static AnswerVerdict on_frame_answer(Sender &snd, Answer a, Orv5Result &result)
{
    switch (a) {
    case Answer::Ack: return on_ack(snd, result);
    case Answer::Nak: return on_nak(snd, result);
    case Answer::Eot: return on_eot(snd, result);
    case Answer::Wack: return on_wack(snd);
    default:
        return AnswerVerdict::KeepWaiting;   // an enquiry, a skipped frame, an incomplete answer
    }
}

// Until an answer ends the wait (result ORV5_OK after an ACK or a NAK below the
// limit), or an error, an abort or a time-out does.
[[nodiscard]] static Orv5Result await_answer(Sender &snd, Orv5Result result)
{
    SerialChannel &ch = *snd.channel;
    bool answered = false;
    while (result == ORV5_OK && !answered) {
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
            if ((c & COM_NO_BYTE_MASK) == 0) {
                Answer a = answer_reader_feed(snd.answers, static_cast<uint8_t>(c));
                answered = on_frame_answer(snd, a, result) == AnswerVerdict::Answered;
            }
        }
    }
    return result;
}

[[nodiscard]] static Orv5Result send_frame(Sender &snd, Orv5Result result)
{
    const int32_t state = snd.state;
    snd.nak_count = 0;
    while (snd.state == state && result == ORV5_OK) {
        snd.wack_wait = false;
        snd.retry_count = 0;
        answer_reader_reset(snd.answers, snd.station);
        transmit(*snd.run, *snd.channel, snd.frame_len, snd.frame);
        arm_answer_wait(snd);
        result = await_answer(snd, result);
        if (!timer_expired(*snd.run))
            disarm(snd);
    }
    if (!timer_expired(*snd.run))
        disarm(snd);
    return result;
}

Orv5Result ds211(Sender &snd, Orv5Result result) { return send_frame(snd, result); }
Orv5Result ds261(Sender &snd, Orv5Result result) { return send_frame(snd, result); }
