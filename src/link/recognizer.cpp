// recognizer.cpp - the terminal's answer to a frame, read with the frame
// reader.
#include "link/recognizer.h"

// An answer names our station; the enquiry's station bytes are skipped
// whatever they are; a frame from the terminal is passed over.
static const FrameRules ANSWER_RULES = {
    0,                                             // frames
    FC_SOH | FC_STX,                               // skipped
    FC_EOT | FC_ENQ | FC_ACK | FC_NAK | FC_WACK,   // messages
    FC_EOT | FC_ACK | FC_NAK | FC_WACK,            // addressed
    0,
    0,
};

void answer_reader_reset(AnswerReader &r, const uint8_t station[2])
{
    frame_reader_init(r.reader, ANSWER_RULES, station, nullptr, 0);
}

Answer answer_reader_feed(AnswerReader &r, uint8_t byte)
{
    FrameEvent e = frame_reader_feed(r.reader, byte);
    if (e.kind != FrameEventKind::Message)
        return Answer::None;
    switch (e.code) {
    case cACK: return Answer::Ack;
    case cNAK: return Answer::Nak;
    case cEOT: return Answer::Eot;
    case cWACK: return Answer::Wack;
    case cENQ: return Answer::Enquiry;
    default: return Answer::None;
    }
}
