// sender.h - the state of one file being sent, handed to every step.
#pragma once

#include <cstdint>

#include "download/packet.h"
#include "orv5w32.h"
#include "link/recognizer.h"
#include "link/serial.h"
#include "link/wire.h"
#include "runtime/session_run.h"
#include "runtime/settings.h"

// The sender's states.  The numbers are the protocol's; each state with a
// step has an entry in the step table, indexed by state - DS_FIRST.
enum SendState {
    DS10 = 10,    // send the opening enquiry
    DS11,         // wait for the DLE of the terminal's answer
    DS12,         // its control code
    DS13,         // the two station bytes of the terminal's ACK (adopted)
    DS14,         // skip the two bytes of any other control message
    DS210 = 15,   // build the header frame
    DS211,        // send it and wait for its answer
    DS260,        // build the next data frame
    DS261,        // send it and wait for its answer
    DS310 = 19,   // send the closing EOT
    DS311,        // wait for the DLE of the answer to the EOT
    DS312,        // its control code
    DS313,        // the station bytes of the closing ACK
    DS314,        // skip the two bytes of any other control message
    DEND = 24,    // end after a local failure: send EOT
    DQUIT = 25    // final state
};
constexpr int DS_FIRST = DS10;
constexpr int DS_FINAL = DQUIT;

constexpr uint32_t ANSWER_TICKS = 50;         // 500 ms per answer, 10 ms ticks
constexpr uint32_t WACK_WAIT_TICKS = 6000;    // 60 s after a WACK, 10 ms ticks
constexpr int NAK_LIMIT = 10;                 // NAKs for one frame before giving up
constexpr uint32_t RETRY_LIMIT_LINKED = 60;   // time-outs once connected: 60 x 500 ms = 30 s

struct Sender {
    const SessionSettings *settings;   // read-only
    SessionRun *run;   // run-time record: timer, stop request, progress, name buffer
    SerialChannel *channel;
    int32_t state;            // SendState
    int32_t records_total;    // records of the file, 0..32767
    int32_t serial_no;        // last data packet built; 0 after the header
    uint32_t retry_count;     // time-outs while waiting for this answer
    uint32_t retry_limit;     // time-outs before giving up
    int32_t nak_count;        // consecutive NAKs for the frame in flight
    bool wack_wait;           // the terminal asked us to wait (WACK)
    Orv5Result first_error;   // first error of the state loop; ORV5_OK while none
    uint8_t station[2];       // ours, then the terminal's (adopted in DS13)
    FrameReader control;      // the terminal's control messages (connection, closing)
    AnswerReader answers;     // the terminal's answer to the frame in flight
    SendFile file;
    uint8_t frame[FRAME_BUF_SIZE];   // the frame being sent, in its wire form
    int frame_len;
    uint8_t built[FRAME_BUF_SIZE];   // the frame as built, before DLE doubling
};

// Records of the file: the count, -1 when uncountable, RECORDS_MAX + 1 when
// more than RECORDS_MAX or a read error occurred.
int datlines(Sender &snd);
