// receive_checks.cpp - checking and answering the terminal's frames.
//
// Every answer is a control message with our station.  A record is
// acknowledged once it has been written; the last one (and the header of an
// empty file) only once the whole file is safely on disk, so a terminal
// hears that its file arrived only when it has.
#include <cstring>

#include "orv5w32.h"
#include "runtime/progress.h"
#include "runtime/timer.h"
#include "upload/receiver.h"

// The timer results need no look here: a timer that cannot be armed stops
// the run (stop_code), which the next wait sees.
void ack_eot(Receiver &r, uint8_t code, int32_t next)
{
    (void)timer_set(*r.run, 0);
    uint8_t msg[CTRL_MSG_LEN];
    make_ctrl_msg(msg, code, r.settings->exchange.station_id);
    r.state = next;
    r.naks_in_row = 0;
    transmit(*r.run, *r.channel, CTRL_MSG_LEN, msg);
    if (next != UQUIT)
        (void)timer_set(*r.run, REPLY_WAIT_TICKS);
}

Orv5Result nak(Receiver &r, int32_t retry, int32_t fail)
{
    (void)timer_set(*r.run, 0);
    uint8_t msg[CTRL_MSG_LEN];
    make_ctrl_msg(msg, cNAK, r.settings->exchange.station_id);
    transmit(*r.run, *r.channel, CTRL_MSG_LEN, msg);
    (void)timer_set(*r.run, REPLY_WAIT_TICKS);
    if (++r.naks_in_row >= RX_NAK_LIMIT) {   // the tenth NAK has gone out
        r.naks_in_row = 0;
        r.state = fail;
        return ORV5_E_RX_NAK_LIMIT;
    }
    r.state = retry;
    return ORV5_OK;
}

void give_up_file(Receiver &r)
{
    received_file_discard(r.file);
    r.header_accepted = false;
}

// Tells the terminal the reception failed; it closes with its own EOT.
[[nodiscard]] static Orv5Result refuse(Receiver &r, Orv5Result code)
{
    give_up_file(r);
    ack_eot(r, cEOT, S311);
    return code;
}

// The file is complete: on disk before the terminal is told, through the
// ACK of its last block (next is where the exchange goes on).
[[nodiscard]] static Orv5Result finish(Receiver &r, int32_t next)
{
    const Orv5Result rc = received_file_commit(r.file);
    if (rc != ORV5_OK)
        return refuse(r, rc);
    r.complete = true;
    ack_eot(r, cACK, next);
    return ORV5_OK;
}

[[nodiscard]] static Orv5Result to_hunt_for_header(Receiver &r)
{
    r.state = S211;
    return ORV5_OK;
}

static bool frame_good(const Receiver &r) { return r.check == FRAME_GOOD; }

// The frame carries our station in its first two bytes.
static bool from_our_station(const Receiver &r)
{
    const uint8_t *station = r.settings->exchange.station_id;
    return r.stored_len >= 2 && r.stored[0] == station[0] && r.stored[1] == station[1];
}

// A header after ours was accepted: the terminal missed its ACK.  The same
// header is acknowledged again; anything else is asked for again.
[[nodiscard]] static Orv5Result repeated_header(Receiver &r)
{
    const int32_t next = r.complete ? S311 : S251;
    if (!from_our_station(r)) {
        r.state = next;   // another station's header: no answer, no NAK counted
        return ORV5_OK;
    }
    if (frame_good(r) && r.stored_len == r.header_copy_len &&
        std::memcmp(r.stored, r.header_copy, static_cast<size_t>(r.stored_len)) == 0) {
        ack_eot(r, cACK, next);
        return ORV5_OK;
    }
    return nak(r, next, S311);
}

static void keep_header_copy(Receiver &r)
{
    int n = r.stored_len < HEADER_COPY_SIZE ? r.stored_len : HEADER_COPY_SIZE;
    std::memcpy(r.header_copy, r.stored, static_cast<size_t>(n));
    r.header_copy_len = n;
}

Orv5Result pkt_hdr_chk(Receiver &r)
{
    if (r.header_accepted)
        return repeated_header(r);
    if (!frame_good(r))
        return nak(r, S211, S311);
    const HeaderVerdict verdict = check_header(
        r.stored, r.stored_len, r.settings->exchange.station_id, *r.settings, r.header);
    // Once the names have passed, the caller's name buffer and the window
    // show the destination, whatever the later checks of this header say.
    if (r.header.named)
        show_transfer_name(*r.run, r.header.name, r.header.ext);
    if (verdict == HeaderVerdict::OtherStation)
        return to_hunt_for_header(r);
    if (verdict == HeaderVerdict::TooShort || verdict == HeaderVerdict::LengthDisagrees)
        return nak(r, S211, S311);
    if (verdict != HeaderVerdict::Accepted)
        return refuse(r, header_refusal_result(verdict));
    if (!header_terminator_ok(r.stored, r.stored_len, r.header))
        return nak(r, S211, S311);

    const Orv5Result code = received_file_open(r.file, *r.settings, r.header);
    if (code != ORV5_OK)
        return refuse(r, code);
    r.header_accepted = true;
    keep_header_copy(r);
    progress_update(*r.run, 0, r.header.records_announced);
    if (r.header.records_announced == 0)
        return finish(r, S311);
    ack_eot(r, cACK, S251);
    return ORV5_OK;
}

Orv5Result pkt_dat_chk(Receiver &r)
{
    const int32_t accept = r.complete ? S311 : S251;
    if (!from_our_station(r)) {
        r.state = accept;   // another station's frame: no answer
        return ORV5_OK;
    }
    if (!frame_good(r))
        return nak(r, accept, S311);
    DataVerdict verdict = check_data_packet(r.stored, r.stored_len, r.header, r.records_accepted);
    if (verdict == DataVerdict::Repeat) {   // its ACK was lost: again, not written
        ack_eot(r, cACK, accept);
        return ORV5_OK;
    }
    if (verdict != DataVerdict::New || r.complete)
        return nak(r, accept, S311);

    const Orv5Result rc = received_file_put(r.file, r.stored + DATA_RECORD_OFFSET);
    if (rc != ORV5_OK)
        return refuse(r, rc);
    r.records_accepted += 1;
    progress_update(*r.run, static_cast<uint32_t>(r.records_accepted), r.header.records_announced);
    if (r.records_accepted < r.header.records_announced) {
        ack_eot(r, cACK, S251);
        return ORV5_OK;
    }
    return finish(r, S311);
}
