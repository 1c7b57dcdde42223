// receiver.h - the state of one file being received, handed to every step.
#pragma once

#include <cstdint>

#include "link/frame_reader.h"
#include "link/serial.h"
#include "link/wire.h"
#include "orv5w32.h"
#include "runtime/session_run.h"
#include "runtime/settings.h"
#include "upload/header_check.h"
#include "upload/received_file.h"

// The receiver's states, indexed into the step table.  The names are the
// protocol's; S243 and S283 (the terminal's EOT in the header and data
// phases) come after the classic ones.
enum ReceiveState {
    S11 = 0,   // wait for the DLE of the terminal's enquiry
    S12,       // the byte after that DLE
    S13,       // the enquiry's two station bytes; answer ACK
    S211,      // wait for the DLE that opens the header frame
    S212,      // the byte after that DLE
    S221,      // header frame body
    S222,      // the byte after a DLE inside the header body
    S23,       // the header's two check bytes; check and answer
    S241,      // the terminal's enquiry during the header phase
    S242,      // a control message to be skipped during the header phase
    S251,      // wait for the DLE that opens a data frame
    S252,      // the byte after that DLE
    S261,      // data frame body
    S262,      // the byte after a DLE inside the data body
    S27,       // a data frame's two check bytes; check and answer
    S281,      // the terminal's enquiry during the data phase
    S282,      // a control message to be skipped during the data phase
    S311,      // wait for the DLE of the terminal's closing message
    S312,      // the byte after that DLE
    S313,      // the closing message's station bytes; answer ACK and end
    S314,      // two bytes to be skipped in the closing phase
    S243,      // the terminal's EOT in the header phase: its station bytes
    S283,      // the terminal's EOT in the data phase: its station bytes
    UQUIT,     // end
};

constexpr uint32_t REPLY_WAIT_TICKS = 3000;   // 30 s from our last answer, 10 ms ticks
constexpr int32_t RX_NAK_LIMIT = 10;          // NAKs in a row before giving up

// Stored bytes of one frame (body, terminator, check): a byte is still
// stored when the write position stands exactly at the limit, so at most
// RCV_LIMIT + 1.
constexpr int FRAME_STORE_SIZE = RCV_LIMIT + 1;

// The accepted header frame's stored bytes, kept to recognise a repeat:
// station 2 + name 12 + count 5 + fields 2 + 16 widths of 3 + terminator 1
// + check 2 = 72.
constexpr int HEADER_COPY_SIZE = 72;

struct Receiver {
    const SessionSettings *settings;   // read-only
    SessionRun *run;   // run-time record: timer, stop request, progress, name buffer
    SerialChannel *channel;
    int32_t state;                      // ReceiveState
    int32_t records_accepted;           // "rcv_count": records written so far
    int32_t naks_in_row;                // "c_nakt": NAKs sent since our last ACK or EOT
    Orv5Result first_error;             // first error of the states; ORV5_OK while none
    bool header_accepted;               // the output is open
    bool complete;                      // every record is safely on disk
    FrameReader reader;                 // the terminal's bytes; stores frames into stored
    uint8_t stored[FRAME_STORE_SIZE];   // the frame being received
    int stored_len;                     // of the last complete frame
    FrameCheck check;                   // the reader's verdict on it (length, check value)
    uint8_t header_copy[HEADER_COPY_SIZE];
    int header_copy_len;
    ReceivedHeader header;   // what the accepted header announced
    ReceivedFile file;
};

// Checks and answers the stored header frame; sets the next state.
[[nodiscard]] Orv5Result pkt_hdr_chk(Receiver &r);

// Checks and answers the stored data frame; sets the next state.
[[nodiscard]] Orv5Result pkt_dat_chk(Receiver &r);

// Answers: DLE ACK or DLE EOT and the next state ("ack_eot"); DLE NAK with
// the state to retry in, and the NAK limit's failure ("nak").
void ack_eot(Receiver &r, uint8_t code, int32_t next);
[[nodiscard]] Orv5Result nak(Receiver &r, int32_t retry, int32_t fail);

// A failed reception: nothing the user had is changed, nothing is left.
void give_up_file(Receiver &r);
