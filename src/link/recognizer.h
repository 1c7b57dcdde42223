// recognizer.h - the terminal's answer to a frame, read with the frame
// reader.
//
// It is fed the good bytes that arrive while the sender waits and says when
// a complete answer for our station has been read.  It decides nothing
// about the transfer; the sender does that with the answer.
//
// Besides the four answers it passes over what the sender does not expect:
// a frame the terminal sends (through its terminator and check bytes), the
// terminal's enquiry (reported, with its station bytes skipped), messages
// for other stations, and a doubled DLE.
#pragma once

#include <cstdint>

#include "link/frame_reader.h"

enum class Answer {
    None,     // nothing complete yet: keep feeding
    Ack,      // DLE ACK for our station: the frame arrived
    Nak,      // DLE NAK: send the frame again
    Eot,      // DLE EOT: the terminal ends the transfer
    Wack,     // DLE WACK (';'): the terminal is busy, keep waiting
    Enquiry   // DLE ENQ: the terminal asks us to answer again (skipped)
};

struct AnswerReader {
    FrameReader reader;   // stores nothing: the terminal's frames are passed over
};

// Starts reading a new answer for station (before every transmission).
void answer_reader_reset(AnswerReader &r, const uint8_t station[2]);

// Feeds one good byte; returns the answer once it is complete.
Answer answer_reader_feed(AnswerReader &r, uint8_t byte);
