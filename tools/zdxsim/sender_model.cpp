// sender_model.cpp - the sending terminal; see sender_model.h.
#include "sender_model.h"

#include <cstdio>
#include <cstring>

#include "sim_wire.h"

namespace zdxsim {

namespace {

// Header body: station 2, name 12, record count 5, then for a data file
// the field count 2 and three digits per field.
constexpr int HDR_NAME = 2, HDR_COUNT = 14, HDR_FIELDS = 19, HDR_WIDTHS = 21;
constexpr int NAME_FIELD = 12;
// Data body: station 2, serial number 5, record.
constexpr int DATA_SERIAL = 2, DATA_RECORD = 7;
// A short header: one byte less than the shortest header body (19).
constexpr int SHORT_HEADER = 18;
// Station put on a frame "from another station" unless told otherwise.
constexpr uint16_t FOREIGN_STATION = 0xFFFF;
// Flipped bits of a check value sent wrong on purpose.
constexpr uint16_t CRC_SPOIL = 0x5A5A;
// Longest log key ("eot", or a record number up to 32767) with its ':'.
constexpr int KEY_MAX = 8;
// Mark of a cut answer log.
constexpr char CUT_MARK[] = " ...";

// Writes value as a zero-filled decimal of exactly width digits.
void put_digits(uint8_t *p, long value, int width) {
    for (int i = width - 1; i >= 0; --i, value /= 10) p[i] = uint8_t('0' + value % 10);
}

}  // namespace

const char *status_text(SenderStatus status) {
    switch (status) {
    case SenderStatus::connecting: return "connecting";
    case SenderStatus::sending: return "sending";
    case SenderStatus::ok: return "ok";
    case SenderStatus::refused: return "refused";
    case SenderStatus::ended: return "ended";
    case SenderStatus::gave_up: return "gave_up";
    case SenderStatus::no_answer: return "no_answer";
    case SenderStatus::silent: return "silent";
    case SenderStatus::failed: return "failed";
    }
    return "failed";
}

const char *closing_text(Closing closing) {
    switch (closing) {
    case Closing::none: return "none";
    case Closing::pending: return "pending";
    case Closing::acked: return "acked";
    case Closing::refused: return "refused";
    case Closing::unanswered: return "unanswered";
    case Closing::dropped: return "dropped";
    }
    return "none";
}

SenderModel::SenderModel(const SenderConfig &config, RecordSource *source)
    : cfg_(config), source_(source), sum_(), last_frame_(config.file.records) {
    sum_.status = SenderStatus::connecting;
    sum_.closing = Closing::none;
    frame_log_[0] = '\0';
    if (cfg_.faults.silent) {
        sum_.status = SenderStatus::silent;
        wait_ = Wait::silent;
        return;
    }
    queue_ctrl(ENQ);
    ++sum_.connect_tries;
}

int SenderModel::resolve(int frame) const { return frame == LAST_FRAME ? last_frame_ : frame; }

void SenderModel::feed(const uint8_t *bytes, int len) {
    for (int i = 0; i < len; ++i) feed(bytes[i]);
}

// The PC sends only control messages; anything else is skipped by hunting
// for the next DLE.
void SenderModel::feed(uint8_t c) {
    switch (rx_) {
    case Rx::hunt:
        if (c == DLE) rx_ = Rx::after_dle;
        break;
    case Rx::after_dle:
        if (c == ACK || c == NAK || c == EOT || c == ENQ || c == WACK) {
            rx_code_ = c;
            rx_got_ = 0;
            rx_ = Rx::station;
        } else if (c != DLE) {
            rx_ = Rx::hunt;
        }
        break;
    case Rx::station:
        rx_station_[rx_got_++] = c;
        if (rx_got_ == 2) {
            rx_ = Rx::hunt;
            if (rx_code_ == ACK || rx_code_ == NAK || rx_code_ == EOT)
                on_answer(rx_code_, uint16_t(rx_station_[0] << 8 | rx_station_[1]));
        }
        break;
    }
}

void SenderModel::on_answer(uint8_t code, uint16_t station) {
    if (wait_ == Wait::done) return;
    if (station != cfg_.station) {
        ++sum_.foreign;
        log('!');
        return;
    }
    if (code == ACK) ++sum_.acks;
    if (code == NAK) ++sum_.naks;
    if (code == EOT) {
        ++sum_.eots;
        sum_.pc_eot = true;
    }
    log(code == ACK ? 'A' : code == NAK ? 'N' : 'E');
    switch (wait_) {
    case Wait::connect:
        if (code == ACK) {
            sum_.status = SenderStatus::sending;
            advance();
        } else if (code == EOT) {
            close_with(SenderStatus::refused);
        }
        break;  // a NAK: the next enquiry follows
    case Wait::frame:
        if (code == ACK) {
            on_ack();
        } else if (code == EOT) {
            close_with(SenderStatus::refused);
        } else {
            unanswered_ = 0;
            if (++nak_run_ >= SEND_NAK_LIMIT) close_with(SenderStatus::gave_up);
            else send_frame();
        }
        break;
    case Wait::closing:
        if (code == NAK) break;  // not an answer to EOT
        sum_.closing = code == ACK ? Closing::acked : Closing::refused;
        finish();
        break;
    case Wait::silent:
        if (code == EOT) finish();  // the PC gave up on us
        break;
    case Wait::done: break;
    }
}

void SenderModel::on_ack() {
    nak_run_ = 0;
    unanswered_ = 0;
    const SenderFaults &f = cfg_.faults;
    if (frame_ == resolve(f.lost_ack_frame) && !ack_lost_) {
        ack_lost_ = true;  // keep waiting as if nothing came
        frame_log_[frame_log_len_ - 1] = 'a';
        return;
    }
    if (frame_ == resolve(f.repeat_frame) && !repeated_) {
        repeated_ = true;
        send_frame();
        return;
    }
    if (frame_ > 0) ++sum_.acked;
    advance();
}

// The frame after the one just taken (the header after the opening), or
// the end of the file.
void SenderModel::advance() {
    bool opening = wait_ == Wait::connect;
    if (!opening && frame_ == last_frame_) {
        if (cfg_.faults.drop_closing_eot) {
            // The file went across; its closing EOT is lost (the terminal
            // is lifted from the cradle): silence until the PC gives up.
            flush_log();
            sum_.status = SenderStatus::ok;
            sum_.closing = Closing::dropped;
            wait_ = Wait::silent;
            return;
        }
        close_with(SenderStatus::ok);
        return;
    }
    flush_log();
    frame_ = opening ? 0 : frame_ + 1;
    sends_ = 0;
    unanswered_ = 0;
    nak_run_ = 0;
    const SenderFaults &f = cfg_.faults;
    if (frame_ == resolve(f.silent_from)) {
        sum_.status = SenderStatus::silent;
        wait_ = Wait::silent;
        return;
    }
    if (frame_ == resolve(f.eot_at)) {
        close_with(SenderStatus::ended);
        return;
    }
    if (frame_ > 0 && !(source_ && source_->record(frame_, record_, cfg_.file.record_length))) {
        close_with(SenderStatus::failed);
        return;
    }
    wait_ = Wait::frame;
    send_frame();
}

void SenderModel::timeout() {
    switch (wait_) {
    case Wait::connect:
        ++sum_.timeouts;
        if (cfg_.connect_tries > 0 && sum_.connect_tries >= cfg_.connect_tries) {
            sum_.status = SenderStatus::no_answer;
            finish();  // nobody there to tell
            return;
        }
        queue_ctrl(ENQ);
        ++sum_.connect_tries;
        break;
    case Wait::frame:
        ++sum_.timeouts;
        log('.');
        if (unanswered_ >= cfg_.retries) {
            close_with(SenderStatus::no_answer);
            return;
        }
        ++unanswered_;
        ++sum_.enquiries;
        queue_ctrl(ENQ);
        break;
    case Wait::closing:
        ++sum_.timeouts;
        log('.');
        if (eot_sends_ >= EOT_TRIES) {
            sum_.closing = Closing::unanswered;
            finish();
            return;
        }
        ++eot_sends_;
        queue_ctrl(EOT);
        break;
    case Wait::silent:
    case Wait::done: break;
    }
}

uint32_t SenderModel::wait_ms() const {
    return (wait_ == Wait::silent || wait_ == Wait::done) ? 0 : cfg_.reply_timeout_ms;
}

// Ends the transfer from the terminal's side: status, then its DLE EOT.
void SenderModel::close_with(SenderStatus status) {
    flush_log();
    sum_.status = status;
    sum_.closing = Closing::pending;
    wait_ = Wait::closing;
    eot_sends_ = 1;
    queue_ctrl(EOT);
}

void SenderModel::finish() {
    flush_log();
    wait_ = Wait::done;
    sum_.finished = true;
}

void SenderModel::send_frame() {
    uint8_t body[SEND_BODY_MAX];
    int len = build_body(body);
    bool bad_crc = false;
    int break_at = -1;
    len = apply_faults(body, len, &bad_crc, &break_at);
    queue_frame(body, len, bad_crc, break_at);
    ++sends_;
    ++sum_.frames_sent;
}

int SenderModel::build_body(uint8_t *body) {
    const SendFile &file = cfg_.file;
    body[0] = uint8_t(cfg_.station >> 8);
    body[1] = uint8_t(cfg_.station & 0xFF);
    if (frame_ > 0) {
        put_digits(body + DATA_SERIAL, frame_, 5);
        std::memcpy(body + DATA_RECORD, record_, size_t(file.record_length));
        return DATA_RECORD + file.record_length;
    }
    std::memset(body + HDR_NAME, ' ', NAME_FIELD);
    size_t name_len = strnlen(file.name, NAME_FIELD);
    std::memcpy(body + HDR_NAME, file.name, name_len);
    put_digits(body + HDR_COUNT, file.records, 5);
    if (file.file_type != 0) return HDR_FIELDS;
    put_digits(body + HDR_FIELDS, file.fields, 2);
    for (int i = 0; i < file.fields; ++i) put_digits(body + HDR_WIDTHS + 3 * i, file.widths[i], 3);
    return HDR_WIDTHS + 3 * file.fields;
}

// One scripted fault per sending, the first one still due for this frame;
// returns the new body length.
int SenderModel::apply_faults(uint8_t *body, int len, bool *bad_crc, int *break_at) {
    const SenderFaults &f = cfg_.faults;
    const bool data_layout = cfg_.file.file_type == 0 && cfg_.file.fields > 0;
    if (frame_ == 0 && f.header != HeaderFault::none && header_used_ < f.header_times) {
        ++header_used_;
        switch (f.header) {
        case HeaderFault::name: body[HDR_NAME] = '?'; return len;
        case HeaderFault::count: std::memcpy(body + HDR_COUNT, "32768", 5); return len;
        case HeaderFault::fields:
            if (data_layout) std::memcpy(body + HDR_FIELDS, "17", 2);
            return len;
        case HeaderFault::width:
            if (data_layout) std::memcpy(body + HDR_WIDTHS, "000", 3);
            return len;
        case HeaderFault::sum:
            if (cfg_.file.file_type != 0) return len;
            std::memcpy(body + HDR_FIELDS, "02127128", 8);
            return HDR_FIELDS + 8;
        case HeaderFault::short_header: return SHORT_HEADER;
        case HeaderFault::none: break;
        }
    }
    if (frame_ == resolve(f.station_frame) && !station_used_) {
        station_used_ = true;
        uint16_t other = f.station_value >= 0              ? uint16_t(f.station_value)
                         : cfg_.station == FOREIGN_STATION ? uint16_t(FOREIGN_STATION - 1)
                                                           : FOREIGN_STATION;
        body[0] = uint8_t(other >> 8);
        body[1] = uint8_t(other & 0xFF);
        return len;
    }
    if (frame_ > 0 && frame_ == resolve(f.serial_frame) && !serial_used_) {
        serial_used_ = true;
        put_digits(body + DATA_SERIAL, f.serial_value < 0 ? frame_ + 1 : f.serial_value, 5);
        return len;
    }
    if (frame_ == resolve(f.length_frame) && !length_used_) {
        length_used_ = true;
        int want = len + f.length_delta;
        if (want < 0) want = 0;
        if (want > SEND_BODY_MAX) want = SEND_BODY_MAX;
        for (int i = len; i < want; ++i) body[i] = '0';
        return want;
    }
    if (frame_ == resolve(f.break_frame) && !break_used_) {
        break_used_ = true;
        *break_at = (f.break_after < 0 || f.break_after > len) ? len / 2 : f.break_after;
        return len;
    }
    if (frame_ == resolve(f.crc_frame) && crc_used_ < f.crc_times) {
        ++crc_used_;
        *bad_crc = true;
    }
    return len;
}

// The wire form: DLE SOH/STX, the body with every DLE doubled, DLE ETX and
// the check (over body + ETX, low byte first, not doubled); or, broken off,
// the first break_at body bytes and DLE ENQ with the terminal's station.
void SenderModel::queue_frame(const uint8_t *body, int len, bool bad_crc, int break_at) {
    SenderOutput *o = new_output();
    if (!o) return;
    uint8_t *w = o->bytes;
    int n = 0;
    w[n++] = DLE;
    w[n++] = frame_ == 0 ? SOH : STX;
    int stop = break_at >= 0 ? break_at : len;
    for (int i = 0; i < stop; ++i) {
        w[n++] = body[i];
        if (body[i] == DLE) w[n++] = DLE;
    }
    if (break_at >= 0) {
        w[n++] = DLE;
        w[n++] = ENQ;
        w[n++] = uint8_t(cfg_.station >> 8);
        w[n++] = uint8_t(cfg_.station & 0xFF);
    } else {
        const uint8_t etx = ETX;
        uint16_t crc = crc16_arc(&etx, 1, crc16_arc(body, len));
        if (bad_crc) crc ^= CRC_SPOIL;
        w[n++] = DLE;
        w[n++] = ETX;
        w[n++] = uint8_t(crc & 0xFF);
        w[n++] = uint8_t(crc >> 8);
    }
    o->len = n;
}

void SenderModel::queue_ctrl(uint8_t code) {
    SenderOutput *o = new_output();
    if (!o) return;
    o->bytes[0] = DLE;
    o->bytes[1] = code;
    o->bytes[2] = uint8_t(cfg_.station >> 8);
    o->bytes[3] = uint8_t(cfg_.station & 0xFF);
    o->len = 4;
}

SenderOutput *SenderModel::new_output() {
    if (q_count_ == SEND_QUEUE) return nullptr;  // the caller stopped draining
    SenderOutput *o = &queue_[(q_head_ + q_count_) % SEND_QUEUE];
    ++q_count_;
    o->len = 0;
    o->delay_ms = cfg_.think_ms;
    return o;
}

bool SenderModel::next_output(SenderOutput *out) {
    if (q_count_ == 0) return false;
    *out = queue_[q_head_];
    q_head_ = (q_head_ + 1) % SEND_QUEUE;
    --q_count_;
    return true;
}

void SenderModel::log(char c) {
    if (wait_ == Wait::silent || wait_ == Wait::done) return;
    if (frame_log_len_ < FRAME_LOG) {
        frame_log_[frame_log_len_++] = c;
    } else {
        frame_log_[FRAME_LOG - 1] = '+';  // more than fits
    }
    frame_log_[frame_log_len_] = '\0';
}

// Writes the entry of the frame (or phase) that ends into the summary.
void SenderModel::flush_log() {
    int len = frame_log_len_;
    frame_log_len_ = 0;
    if (len == 0) return;
    bool plain_record = wait_ == Wait::frame && frame_ > 0 && len == 1 && frame_log_[0] == 'A';
    if (plain_record) return;
    char key[KEY_MAX];
    if (wait_ == Wait::connect) std::snprintf(key, sizeof key, "enq");
    else if (wait_ == Wait::closing) std::snprintf(key, sizeof key, "eot");
    else std::snprintf(key, sizeof key, "%d", frame_);
    if (answers_len_ >= ANSWER_LOG - 1) return;  // already cut
    char *out = sum_.answers + answers_len_;
    int room = ANSWER_LOG - answers_len_;
    const char *sep = answers_len_ ? " " : "";
    // Room for this entry and, after it, a later cut mark.
    int need = int(std::strlen(sep) + std::strlen(key)) + 1 + len + int(sizeof CUT_MARK);
    if (need > room) {
        std::snprintf(out, size_t(room), "%s", CUT_MARK);
        answers_len_ = ANSWER_LOG - 1;
        return;
    }
    answers_len_ += std::snprintf(out, size_t(room), "%s%s:%s", sep, key, frame_log_);
}

}  // namespace zdxsim
