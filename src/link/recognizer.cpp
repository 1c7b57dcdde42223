// recognizer.cpp - reads the terminal's answer to a frame, byte by byte.
#include "link/recognizer.h"

#include "link/wire.h"

// Station bytes after a control code, and check bytes after a frame's
// terminator.
constexpr int32_t TAIL_BYTES = 2;

enum { SKIP_HUNT_DLE = 0, SKIP_AFTER_DLE = 1, SKIP_TAIL = 2 };

static void hunt_again(AnswerReader &r)
{
    r.dle_seen = 0;
    r.tail = 0;
    r.step = STEP_CONTROL_CODE;
    r.skip_state = SKIP_HUNT_DLE;
}

void answer_reader_reset(AnswerReader &r, const uint8_t station[2])
{
    r.station[0] = station[0];
    r.station[1] = station[1];
    hunt_again(r);
}

// The step that reads the station bytes after each control code.
static int32_t step_after_code(uint8_t code)
{
    switch (code) {
    case cSOH:
    case cSTX: return STEP_SKIP_FRAME;
    case cEOT: return STEP_EOT_STATION;
    case cENQ: return STEP_SKIP_ENQUIRY;
    case cACK: return STEP_ACK_STATION;
    case cNAK: return STEP_NAK_STATION;
    case cWACK: return STEP_WACK_STATION;
    default: return -1;   // a second DLE included
    }
}

static Answer read_control_code(AnswerReader &r, uint8_t c)
{
    if (r.dle_seen == 0) {
        if (c == cDLE)
            r.dle_seen = 1;
        return Answer::None;
    }
    int32_t next = step_after_code(c);
    if (next < 0) {
        hunt_again(r);
        return Answer::None;
    }
    r.step = next;
    if (next == STEP_SKIP_ENQUIRY) {
        r.tail = 0;
        r.skip_state = SKIP_TAIL;
    }
    return Answer::None;
}

// Matches the station bytes; a message for another station is dropped.
static Answer read_station(AnswerReader &r, uint8_t c, Answer complete)
{
    if (r.tail < 0 || r.tail >= TAIL_BYTES || c != r.station[r.tail]) {
        hunt_again(r);
        return Answer::None;
    }
    if (++r.tail < TAIL_BYTES)
        return Answer::None;
    hunt_again(r);
    return complete;
}

static Answer ack_station(AnswerReader &r, uint8_t c) { return read_station(r, c, Answer::Ack); }
static Answer nak_station(AnswerReader &r, uint8_t c) { return read_station(r, c, Answer::Nak); }
static Answer eot_station(AnswerReader &r, uint8_t c) { return read_station(r, c, Answer::Eot); }
static Answer wack_station(AnswerReader &r, uint8_t c) { return read_station(r, c, Answer::Wack); }

static bool ends_skipped_part(uint8_t c)
{
    return c == cETX || c == cEOT || c == cENQ || c == cACK || c == cNAK || c == cWACK;
}

// Skips a frame through its terminator and check bytes, and an enquiry
// through its station bytes.
static Answer skip_unexpected(AnswerReader &r, uint8_t c)
{
    switch (r.skip_state) {
    case SKIP_HUNT_DLE:
        if (c == cDLE)
            r.skip_state = SKIP_AFTER_DLE;
        return Answer::None;
    case SKIP_AFTER_DLE:
        if (ends_skipped_part(c)) {
            r.tail = 0;
            r.skip_state = SKIP_TAIL;
        } else {
            r.skip_state = SKIP_HUNT_DLE;
        }
        return Answer::None;
    default:
        if (++r.tail < TAIL_BYTES)
            return Answer::None;
        Answer done = r.step == STEP_SKIP_ENQUIRY ? Answer::Enquiry : Answer::None;
        hunt_again(r);
        return done;
    }
}

using AnswerStepFn = Answer (*)(AnswerReader &r, uint8_t c);

// Indexed by AnswerStep.
static const AnswerStepFn answer_steps[STEP_COUNT] = {
    read_control_code, ack_station, nak_station, eot_station, wack_station,
    skip_unexpected, skip_unexpected,
};

Answer answer_reader_feed(AnswerReader &r, uint8_t byte)
{
    if (r.step < 0 || r.step >= STEP_COUNT)
        hunt_again(r);
    return answer_steps[r.step](r, byte);
}
