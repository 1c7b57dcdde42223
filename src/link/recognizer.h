// recognizer.h - reads the terminal's answer to a frame, byte by byte.
//
// A pure parser: it is fed the good bytes that arrive while the sender
// waits and says when a complete answer for our station has been read.  It
// decides nothing about the transfer; the sender does that with the answer.
//
// Besides the four answers it skips what the sender does not expect: a
// frame the terminal sends (through its terminator and check bytes), the
// terminal's enquiry (reported, with its station bytes skipped), messages
// for other stations, and a doubled DLE.
#pragma once

#include <cstdint>

enum class Answer {
    None,     // nothing complete yet: keep feeding
    Ack,      // DLE ACK for our station: the frame arrived
    Nak,      // DLE NAK: send the frame again
    Eot,      // DLE EOT: the terminal ends the transfer
    Wack,     // DLE WACK (';'): the terminal is busy, keep waiting
    Enquiry   // DLE ENQ: the terminal asks us to answer again (skipped)
};

// Which step reads the next byte (the protocol's "CtrlSW").
enum AnswerStep {
    STEP_CONTROL_CODE = 0,   // hunting for DLE, then the control code
    STEP_ACK_STATION = 1,    // the station bytes of an ACK ...
    STEP_NAK_STATION = 2,    // ... of a NAK
    STEP_EOT_STATION = 3,    // ... of an EOT
    STEP_WACK_STATION = 4,   // ... of a WACK
    STEP_SKIP_FRAME = 5,     // through a frame the terminal sent
    STEP_SKIP_ENQUIRY = 6,   // the two station bytes of an enquiry
    STEP_COUNT = 7
};

struct AnswerReader {
    uint8_t station[2];   // the only station whose answers count, high byte first
    int32_t dle_seen;     // "DleCnt": a DLE has been read (0 or 1)
    int32_t step;         // AnswerStep for the next byte
    int32_t skip_state;   // "SttSW": 0 hunting DLE, 1 after DLE, 2 skipping the tail
    int32_t tail;         // "TailCnt": station or check bytes read after the code
};

// Starts reading a new answer for station (before every transmission).
void answer_reader_reset(AnswerReader &r, const uint8_t station[2]);

// Feeds one good byte; returns the answer once it is complete.
Answer answer_reader_feed(AnswerReader &r, uint8_t byte);
