// terminal_model.h - a ZDX terminal in its receiving role, as a pure model.
//
// The model is fed, byte by byte, what the PC writes to the line and answers
// the way a terminal that receives a file does:
//
//   PC:  DLE ENQ st st             terminal: DLE ACK own-station
//   PC:  DLE SOH header DLE ETX crc          DLE ACK   (or NAK, EOT)
//   PC:  DLE STX record DLE ETX crc  (each)  DLE ACK   (or NAK)
//   PC:  DLE EOT st st                       DLE ACK
//
// It has no I/O, no clock, no globals and throws nothing: every answer is
// queued as a TerminalReply carrying a delay in milliseconds, counted from
// the moment the byte that caused it was received (0 = at once).  The caller
// (the zdxsim CLI, or a unit test on a virtual line) drains the queue with
// next_reply() after each feed() and puts the bytes on its line when due.
// Accepted headers and records go to a RecordSink.
//
// Receiving checks made on every frame:
//   - the frame: at most RCV_STORE_MAX stored bytes, at least 3, CRC-16/ARC
//     over body + terminator + check must be 0; otherwise NAK;
//   - the station bytes at the start of the body must be the terminal's own
//     station; a frame for another station gets no answer;
//   - header: name field a padded 8.3 name, record count 00000..32767, for a
//     data file 01..16 fields of widths 001..254 with fields + widths <= 255
//     (content faults are answered with EOT and end the reception with
//     error 70); its length must agree with its content, else NAK;
//   - data: length = record length + 10, else NAK; serial number = records
//     received + 1 (stored, ACK), = records received (a repeat after a lost
//     ACK: ACK again, not stored), anything else NAK.  Unreadable serial
//     digits count as the next block.
//   - an enquiry after the header has been seen asks for the frame again and
//     is answered with NAK; ten NAKs in a row end the reception (error 53).
// A closing DLE EOT with the terminal's station is always acknowledged.  An
// EOT that arrives before all announced records leaves the status "aborted".
//
// Faults are scripted through TerminalFaults.  Frames are numbered 0 for the
// header and k for the data record with serial number k.
#pragma once

#include <cstdint>

namespace zdxsim {

// Stored bytes of one frame (body, terminator, check), as a receiving PC
// keeps them: the store limit of 792 plus the byte still stored at it.
constexpr int RCV_STORE_MAX = 793;
// At most 16 fields per record.
constexpr int MAX_FIELDS = 16;
// Record count limit of a file.
constexpr int MAX_RECORDS = 32767;
// Consecutive NAKs after which the terminal gives up on the frame.
constexpr int NAK_LIMIT = 10;
// Pending answers: at most a WACK and its delayed ACK, plus slack.
constexpr int REPLY_QUEUE = 8;
// Every answer is a four-byte control message.
constexpr int REPLY_LEN = 4;

// No frame selected.
constexpr int NO_FRAME = -1;

struct TerminalFaults {
    int nak_frame = NO_FRAME;    // answer this frame with NAK ...
    int nak_times = 0;           // ... this many times, then normally
    int wack_frame = NO_FRAME;   // answer WACK first, then the real
    uint32_t wack_delay_ms = 0;  // answer after this many ms
    int eot_frame = NO_FRAME;    // answer DLE EOT instead of ACK
    int silent_from = NO_FRAME;  // no answer from this frame on
    bool silent = false;         // no answer at all, not even the ENQ
    // Answer with wrong_station instead of the own station from this frame
    // on; -2 = already the answer to the enquiry.
    int wrong_station_from = NO_FRAME;
    uint16_t wrong_station = 0xFFFF;
};
constexpr int WRONG_STATION_AT_ENQ = -2;

struct TerminalConfig {
    uint16_t station = 0x0000;     // the terminal's own station number
    uint32_t answer_delay_ms = 0;  // think time before every answer
    TerminalFaults faults;
};

struct TerminalReply {
    uint8_t bytes[REPLY_LEN];
    int len;
    uint32_t delay_ms;  // from the byte that caused the answer
};

// What the header announced.
struct TerminalHeader {
    char name[13];  // name as sent, trailing spaces cut
    int records;    // records announced
    int file_type;  // 0 data, 1 .PD3, 2 .EX3, 3 .FN3
    int fields;     // 0 for a program file
    int widths[MAX_FIELDS];
    int record_length;  // bytes per record
};

class RecordSink {
public:
    virtual ~RecordSink() = default;
    // A header was accepted (again after a repeat of the header).
    virtual void on_header(const TerminalHeader &header) = 0;
    // A new record, serial numbers 1, 2, ... in order, each exactly once.
    // Returns false when it cannot be kept; the terminal then answers EOT.
    virtual bool on_record(int serial, const uint8_t *bytes, int len) = 0;
};

enum class TerminalStatus {
    idle,       // no enquiry seen yet
    receiving,  // transfer under way
    ok,         // all announced records received, closing EOT acknowledged
    aborted,    // the PC sent EOT before the transfer was complete
    refused,    // the terminal answered EOT (scripted fault)
    error       // the terminal ended the reception (error_code says why)
};
const char *status_text(TerminalStatus status);

struct TerminalSummary {
    TerminalStatus status;
    int error_code;  // 53 NAK limit, 70 bad header, 71 record not kept
    bool header_seen;
    TerminalHeader header;
    int records_written;
    int naks_sent;
    int enquiries;  // DLE ENQ messages received
    int frames;     // complete frames received, good or bad
    bool eot_seen;  // the PC sent DLE EOT
    bool finished;  // the transfer is over (EOT answered or seen)
};

class TerminalModel {
public:
    TerminalModel(const TerminalConfig &config, RecordSink *sink);

    // One byte written by the PC.  Answers may be queued.
    void feed(uint8_t byte);
    void feed(const uint8_t *bytes, int len);

    // Takes the oldest queued answer; false when none is queued.
    bool next_reply(TerminalReply *out);

    const TerminalSummary &summary() const { return sum_; }
    bool finished() const { return sum_.finished; }

    // Prepares for the next transfer on the same line; counts start again.
    void start_next();

private:
    enum class Rx { hunt, after_dle, ctrl_tail, body, body_dle, check };
    enum class Phase { connect, header, data, closing };

    void on_frame();
    void on_ctrl(uint8_t code, const uint8_t station[2]);
    void handle_header(int len);
    void handle_data(int len);
    bool header_fields(const uint8_t *p, int len, TerminalHeader *h, int *code);
    void answer(uint8_t code, uint32_t extra_delay = 0);
    void answer_frame(int index, uint8_t code);
    void nak();
    void fail(int code);
    bool silent_now() const;
    uint16_t answer_station() const;

    TerminalConfig cfg_;
    RecordSink *sink_;
    TerminalSummary sum_;

    Rx rx_ = Rx::hunt;
    Phase phase_ = Phase::connect;
    bool frame_is_header_ = false;
    uint8_t ctrl_code_ = 0;
    int ctrl_got_ = 0;
    uint8_t ctrl_station_[2] = {0, 0};
    uint8_t buf_[RCV_STORE_MAX];
    int buf_len_ = 0;
    bool over_ = false;
    int check_got_ = 0;

    int nak_run_ = 0;     // NAKs in a row
    int fault_naks_ = 0;  // scripted NAKs given so far
    bool wack_done_ = false;
    bool eot_done_ = false;
    bool silenced_ = false;       // silent_from reached
    bool wrong_station_ = false;  // wrong_station_from reached
    bool told_station_ = false;   // the enquiry was answered

    TerminalReply queue_[REPLY_QUEUE];
    int q_head_ = 0;
    int q_count_ = 0;
};

}  // namespace zdxsim
