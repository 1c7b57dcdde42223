// sender_model.h - a ZDX terminal in its sending role, as a pure model.
//
// The terminal is the active side; it sends one file and reads the PC's
// four-byte answers:
//
//   terminal: DLE ENQ own-station                  PC: DLE ACK station
//   terminal: DLE SOH header DLE ETX crc               DLE ACK  (NAK, EOT)
//   terminal: DLE STX record DLE ETX crc  (each)       DLE ACK  (NAK, EOT)
//   terminal: DLE EOT own-station                      DLE ACK
//
// Answers to the frame in flight:
//   ACK  the frame is taken: the next frame, or the closing EOT after the
//        last record (after the header of an empty file);
//   NAK  the same frame again; NAK_LIMIT NAKs in a row and the terminal
//        gives up ("gave_up": it sends its EOT);
//   EOT  the PC refused the file ("refused"): the terminal sends its EOT.
// No answer within reply_timeout_ms: the terminal asks with DLE ENQ +
// station, which the PC answers with NAK (send again) or ACK (taken);
// after `retries` unanswered enquiries for one frame it gives up
// ("no_answer", with its EOT).  Before the PC has answered the opening
// enquiry it is repeated every reply_timeout_ms, connect_tries times
// (0 = until the caller stops).  The closing EOT is sent at most
// EOT_TRIES times.  Answers carrying another station are ignored.
//
// Like TerminalModel it has no I/O, no clock, no globals: output is queued
// as SenderOutput (with a think-time delay), the caller feeds the PC's
// bytes, and calls timeout() once wait_ms() has passed since the last
// output reached the line without a complete answer.  Records come from a
// RecordSource, each asked for once, in order.
//
// Faults are scripted through SenderFaults.  Frames are numbered 0 for the
// header and k for the data record with serial number k; LAST_FRAME stands
// for the last frame of the file (the header of an empty file).
#pragma once

#include <cstdint>

#include "terminal_model.h"  // MAX_FIELDS, MAX_RECORDS, NO_FRAME

namespace zdxsim {

// NAKs in a row for one frame after which the terminal gives up; the PC
// ends its reception after as many.
constexpr int SEND_NAK_LIMIT = 10;
// Times the closing EOT is sent before the terminal ends without its ACK.
constexpr int EOT_TRIES = 3;
// Largest record: one field of 254 bytes (fields + widths <= 255).
constexpr int SEND_RECORD_MAX = 254;
// Bytes a length fault may add to a frame: enough to pass the 793 bytes a
// receiving PC stores.
constexpr int LENGTH_FAULT_MAX = 800;
// Largest frame body: station 2 + serial 5 + record + a length fault.
constexpr int SEND_BODY_MAX = 2 + 5 + SEND_RECORD_MAX + LENGTH_FAULT_MAX;
// Largest wire output: DLE SOH/STX 2 + every body byte doubled + DLE ETX 2
// + check 2 (a frame broken off ends instead with a 4-byte DLE ENQ).
constexpr int SEND_WIRE_MAX = 2 + 2 * SEND_BODY_MAX + 2 + 4;
// Outputs queued at once: a frame, or an EOT after an answer; plus slack.
constexpr int SEND_QUEUE = 4;
// Answer log of the summary (see SenderSummary::answers), bytes with NUL.
constexpr int ANSWER_LOG = 1024;
// Answers kept per frame before its log entry is cut.
constexpr int FRAME_LOG = 24;

constexpr int LAST_FRAME = -3;

// The file as the header announces it.
struct SendFile {
    char name[13];  // the 12-byte name field, without the fill
    int file_type;  // 0 data, 1 .PD3, 2 .EX3, 3 .FN3 (from the name)
    int fields;     // data file: 0..16; program file: 0
    int widths[MAX_FIELDS];
    int record_length;  // data: sum of widths; .PD3 128; .EX3/.FN3 130
    int records;        // 0..32767
};

class RecordSource {
public:
    virtual ~RecordSource() = default;
    // Fills the len bytes of record `serial` (1, 2, ... in order, each
    // once); false when it cannot be had, and the terminal ends the
    // transfer with its EOT ("failed").
    virtual bool record(int serial, uint8_t *out, int len) = 0;
};

// Invalid headers.  name: a name field that is no 8.3 name; count: record
// count 32768; fields: field count 17; width: first width 000; sum: the
// layout 02 127 128 (fields + widths 257); short: the content cut to 18
// bytes, too short for any header.  fields, width and sum change only a
// data file's header with fields; others are sent as they are.
enum class HeaderFault { none, name, count, fields, width, sum, short_header };

struct SenderFaults {
    bool silent = false;           // not even the enquiry
    int silent_from = NO_FRAME;    // nothing more from this frame on
    int eot_at = NO_FRAME;         // own DLE EOT instead of this frame
    int crc_frame = NO_FRAME;      // bad check value on this frame ...
    int crc_times = 0;             // ... on its first crc_times sendings
    int station_frame = NO_FRAME;  // this frame once with station ...
    int32_t station_value = -1;    // ... this one (-1: 0xFFFF, or 0xFFFE
                                   // when that is the terminal's own)
    int serial_frame = NO_FRAME;   // this data frame once with serial
    int serial_value = -1;         // number serial_value (-1: frame + 1)
    int length_frame = NO_FRAME;   // this frame once with length_delta
    int length_delta = 1;          // bytes more (negative: fewer)
    int break_frame = NO_FRAME;    // this frame once broken off by DLE
    int break_after = -1;          // ENQ after this many body bytes (-1: half)
    HeaderFault header = HeaderFault::none;
    int header_times = 1;           // sendings of the header with it
    int repeat_frame = NO_FRAME;    // sent once more after its ACK
    int lost_ack_frame = NO_FRAME;  // the ACK of this frame is not heard
    bool drop_closing_eot = false;  // after the last ACK: silence, no EOT
};

struct SenderConfig {
    uint16_t station = 0x0000;
    uint32_t think_ms = 0;             // delay before every transmission
    uint32_t reply_timeout_ms = 3000;  // wait for an answer before an ENQ
    int retries = 5;                   // unanswered enquiries per frame
    int connect_tries = 0;             // opening enquiries (0 = no limit)
    SendFile file;
    SenderFaults faults;
};

struct SenderOutput {
    uint8_t bytes[SEND_WIRE_MAX];
    int len;
    uint32_t delay_ms;  // from the moment it was queued
};

enum class SenderStatus {
    connecting,  // the opening enquiry is not answered yet
    sending,     // transfer under way
    ok,          // every record acknowledged
    refused,     // the PC answered EOT
    ended,       // the terminal sent its own EOT (scripted fault)
    gave_up,     // NAK_LIMIT NAKs in a row for one frame
    no_answer,   // enquiries for a frame went unanswered
    silent,      // the terminal fell silent (scripted fault)
    failed       // a record could not be had from the source
};
const char *status_text(SenderStatus status);

// What became of the terminal's closing EOT.
enum class Closing { none, pending, acked, refused, unanswered, dropped };
const char *closing_text(Closing closing);

struct SenderSummary {
    SenderStatus status;
    Closing closing;
    int acked;             // data records acknowledged
    int frames_sent;       // header and data frames put on the line, all tries
    int acks, naks, eots;  // answers from the PC with our station
    int foreign;           // answers carrying another station (ignored)
    int enquiries;         // enquiries about a frame (after no answer)
    int connect_tries;     // opening enquiries sent
    int timeouts;          // waits that ended without an answer
    bool pc_eot;           // the PC sent DLE EOT at some point
    bool finished;
    // Per frame, what the PC answered, as "KEY:ANSWERS" entries separated by
    // blanks: KEY enq (the opening), 0 (header), k (record k), eot (closing);
    // ANSWERS A ACK, N NAK, E EOT, ! an answer for another station, . no
    // answer in time, a an ACK not heard (lost-ack fault).  Records answered
    // by a single ACK are left out.  "..." at the end when cut.
    char answers[ANSWER_LOG];
};

class SenderModel {
public:
    SenderModel(const SenderConfig &config, RecordSource *source);

    // One byte written by the PC.
    void feed(uint8_t byte);
    void feed(const uint8_t *bytes, int len);
    // No complete answer came within wait_ms() of the last output.
    void timeout();
    // How long to wait for an answer, ms; 0 = no time-out (finished, or
    // silent until the PC gives up).
    uint32_t wait_ms() const;

    // Takes the oldest queued output; false when none is queued.
    bool next_output(SenderOutput *out);

    const SenderSummary &summary() const { return sum_; }
    bool finished() const { return sum_.finished; }

private:
    enum class Wait { connect, frame, closing, silent, done };

    void on_answer(uint8_t code, uint16_t station);
    void on_ack();
    void advance();
    void send_frame();
    int build_body(uint8_t *body);
    int apply_faults(uint8_t *body, int len, bool *bad_crc, int *break_at);
    void queue_frame(const uint8_t *body, int len, bool bad_crc, int break_at);
    void queue_ctrl(uint8_t code);
    SenderOutput *new_output();
    void close_with(SenderStatus status);
    void finish();
    void log(char c);
    void flush_log();
    int resolve(int frame) const;

    SenderConfig cfg_;
    RecordSource *source_;
    SenderSummary sum_;
    int last_frame_;  // records, or 0 for an empty file

    // Receiver of the PC's control messages.
    enum class Rx { hunt, after_dle, station } rx_ = Rx::hunt;
    uint8_t rx_code_ = 0;
    uint8_t rx_station_[2] = {0, 0};
    int rx_got_ = 0;

    Wait wait_ = Wait::connect;
    int frame_ = 0;       // frame in flight (0 header, k record k)
    int sends_ = 0;       // sendings of it so far
    int nak_run_ = 0;     // NAKs in a row
    int unanswered_ = 0;  // enquiries for it without an answer
    int eot_sends_ = 0;
    bool repeated_ = false;  // repeat fault used
    bool ack_lost_ = false;  // lost-ack fault used
    int crc_used_ = 0, header_used_ = 0;
    bool station_used_ = false, serial_used_ = false, length_used_ = false, break_used_ = false;
    uint8_t record_[SEND_RECORD_MAX];  // bytes of the record in flight

    char frame_log_[FRAME_LOG + 1];
    int frame_log_len_ = 0;
    int answers_len_ = 0;

    SenderOutput queue_[SEND_QUEUE];
    int q_head_ = 0;
    int q_count_ = 0;
};

}  // namespace zdxsim
