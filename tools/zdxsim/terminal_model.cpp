// terminal_model.cpp - the receiving terminal; see terminal_model.h.
#include "terminal_model.h"

#include <cstring>

#include "sim_wire.h"

namespace zdxsim {

namespace {

// Header layout: station 2, name 12, record count 5, then for a data file
// the field count 2 and three digits per field.
constexpr int HDR_NAME = 2, HDR_COUNT = 14, HDR_FIELDS = 19, HDR_WIDTHS = 21;
constexpr int NAME_FIELD = 12;
// Frame tail: terminator 1 + check 2.
constexpr int TAIL = 3;
// Shortest header: 19 content bytes + tail.
constexpr int HDR_MIN = HDR_FIELDS + TAIL;
// Data packet: station 2 + serial 5 + record + tail.
constexpr int DATA_OVERHEAD = 2 + 5 + TAIL;
constexpr int WIDTH_MAX = 254;      // one field, bytes
constexpr int WIDTH_SUM_MAX = 255;  // fields + sum of widths
constexpr int PD3_RECORD = 128;     // program file record, bytes
constexpr int EX3_RECORD = 130;

// Error codes the terminal reports in its summary.
constexpr int ERR_NAK_LIMIT = 53, ERR_HEADER = 70, ERR_RECORD = 71;

// Fixed-width decimal field; -1 when not all digits or above limit.
int digits(const uint8_t *p, int n, int limit) {
    int v = 0;
    for (int i = 0; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9') return -1;
        v = v * 10 + (p[i] - '0');
        if (v > limit) return -1;
    }
    return v;
}

// Characters of an 8.3 name: letters, digits and ! # $ % & ' ( ) ^ _ { | } ~
// @ `; the minus sign only after the first character.
bool name_char(uint8_t c, bool first) {
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
    if (c == '-') return !first;
    return c != 0 && std::strchr("!#$%&'()^_{|}~@`", c) != nullptr;
}

// Parses the 12-byte padded name field into out ("NAME.EXT"); false when it
// is not a valid name.  *ext points at the dot in out, or at its end.
bool parse_name(const uint8_t *f, char *out, const char **ext) {
    int i = 0, o = 0;
    if (!name_char(f[0], true)) return false;
    while (i < NAME_FIELD && o < 8 && name_char(f[i], i == 0)) out[o++] = char(f[i++]);
    *ext = out + o;
    if (i < NAME_FIELD && f[i] == '.') {
        out[o++] = '.';
        ++i;
        for (int k = 0; k < 3 && i < NAME_FIELD && name_char(f[i], false); ++k)
            out[o++] = char(f[i++]);
    }
    out[o] = '\0';
    for (; i < NAME_FIELD; ++i)
        if (f[i] != ' ') return false;
    return true;
}

int kind_of(const char *ext) {
    char up[5] = {0, 0, 0, 0, 0};
    for (int i = 0; i < 4 && ext[i]; ++i)
        up[i] = (ext[i] >= 'a' && ext[i] <= 'z') ? char(ext[i] - 32) : ext[i];
    if (std::strcmp(up, ".PD3") == 0) return 1;
    if (std::strcmp(up, ".EX3") == 0) return 2;
    if (std::strcmp(up, ".FN3") == 0) return 3;
    return 0;
}

}  // namespace

const char *status_text(TerminalStatus status) {
    switch (status) {
    case TerminalStatus::idle: return "idle";
    case TerminalStatus::receiving: return "receiving";
    case TerminalStatus::ok: return "ok";
    case TerminalStatus::aborted: return "aborted";
    case TerminalStatus::refused: return "refused";
    case TerminalStatus::error: return "error";
    }
    return "error";
}

TerminalModel::TerminalModel(const TerminalConfig &config, RecordSink *sink)
    : cfg_(config), sink_(sink), sum_() {
    start_next();
}

void TerminalModel::start_next() {
    sum_ = TerminalSummary();
    sum_.status = TerminalStatus::idle;
    rx_ = Rx::hunt;
    phase_ = Phase::connect;
    buf_len_ = 0;
    over_ = false;
    nak_run_ = fault_naks_ = 0;
    wack_done_ = eot_done_ = silenced_ = told_station_ = false;
    wrong_station_ = cfg_.faults.wrong_station_from == WRONG_STATION_AT_ENQ;
}

void TerminalModel::feed(const uint8_t *bytes, int len) {
    for (int i = 0; i < len; ++i) feed(bytes[i]);
}

// Byte-level receiver: control messages and frames, with DLE doubling undone
// and the stored bytes bounded as a receiving PC bounds them.
void TerminalModel::feed(uint8_t c) {
    switch (rx_) {
    case Rx::hunt:
        if (c == DLE) rx_ = Rx::after_dle;
        break;
    case Rx::after_dle:
        if (c == SOH || c == STX) {
            frame_is_header_ = c == SOH;
            buf_len_ = 0;
            over_ = false;
            rx_ = Rx::body;
        } else if (c == ENQ || c == EOT || c == ACK || c == NAK || c == WACK) {
            ctrl_code_ = c;
            ctrl_got_ = 0;
            rx_ = Rx::ctrl_tail;
        } else {
            rx_ = c == DLE ? Rx::after_dle : Rx::hunt;
        }
        break;
    case Rx::ctrl_tail:
        ctrl_station_[ctrl_got_++] = c;
        if (ctrl_got_ == 2) {
            rx_ = Rx::hunt;
            on_ctrl(ctrl_code_, ctrl_station_);
        }
        break;
    case Rx::body:
    case Rx::body_dle:
        if (rx_ == Rx::body && c == DLE) {
            rx_ = Rx::body_dle;
            break;
        }
        if (rx_ == Rx::body_dle) {
            if (c == ENQ || c == EOT) {  // frame abandoned for a message
                ctrl_code_ = c;
                ctrl_got_ = 0;
                rx_ = Rx::ctrl_tail;
                break;
            }
            if (c == SOH || c == STX) {  // a new frame before the end
                frame_is_header_ = c == SOH;
                buf_len_ = 0;
                over_ = false;
                rx_ = Rx::body;
                break;
            }
        }
        if (buf_len_ < RCV_STORE_MAX) buf_[buf_len_++] = c;
        else over_ = true;
        if (rx_ == Rx::body_dle && c == ETX) {
            check_got_ = 0;
            rx_ = Rx::check;
        } else {
            rx_ = Rx::body;
        }
        break;
    case Rx::check:
        if (buf_len_ < RCV_STORE_MAX) buf_[buf_len_++] = c;
        else over_ = true;
        if (++check_got_ == 2) {
            rx_ = Rx::hunt;
            on_frame();
        }
        break;
    }
}

bool TerminalModel::next_reply(TerminalReply *out) {
    if (q_count_ == 0) return false;
    *out = queue_[q_head_];
    q_head_ = (q_head_ + 1) % REPLY_QUEUE;
    --q_count_;
    return true;
}

bool TerminalModel::silent_now() const { return cfg_.faults.silent || silenced_; }

uint16_t TerminalModel::answer_station() const {
    return wrong_station_ ? cfg_.faults.wrong_station : cfg_.station;
}

void TerminalModel::answer(uint8_t code, uint32_t extra_delay) {
    if (silent_now() || q_count_ == REPLY_QUEUE) return;
    if (code == NAK) ++sum_.naks_sent;
    if (code == ACK && phase_ == Phase::header && !sum_.header_seen) told_station_ = true;
    uint16_t st = answer_station();
    TerminalReply &r = queue_[(q_head_ + q_count_) % REPLY_QUEUE];
    r.bytes[0] = DLE;
    r.bytes[1] = code;
    r.bytes[2] = uint8_t(st >> 8);
    r.bytes[3] = uint8_t(st & 0xFF);
    r.len = REPLY_LEN;
    r.delay_ms = cfg_.answer_delay_ms + extra_delay;
    ++q_count_;
}

void TerminalModel::nak() {
    answer(NAK);
    if (++nak_run_ >= NAK_LIMIT) fail(ERR_NAK_LIMIT);
}

// Ends the reception from the terminal's side; the PC's EOT is still
// acknowledged afterwards.
void TerminalModel::fail(int code) {
    if (sum_.status == TerminalStatus::receiving || sum_.status == TerminalStatus::idle) {
        sum_.status = TerminalStatus::error;
        sum_.error_code = code;
    }
    phase_ = Phase::closing;
}

// The answer to a good frame, through the scripted faults.
void TerminalModel::answer_frame(int index, uint8_t code) {
    const TerminalFaults &f = cfg_.faults;
    if (code == ACK && index == f.eot_frame && !eot_done_) {
        eot_done_ = true;
        answer(EOT);
        if (sum_.status == TerminalStatus::receiving) sum_.status = TerminalStatus::refused;
        phase_ = Phase::closing;
        return;
    }
    nak_run_ = code == ACK ? 0 : nak_run_;
    if (code == ACK && index == f.wack_frame && !wack_done_) {
        wack_done_ = true;
        answer(WACK);
        answer(ACK, f.wack_delay_ms);
        return;
    }
    answer(code);
}

void TerminalModel::on_ctrl(uint8_t code, const uint8_t station[2]) {
    uint16_t st = uint16_t(station[0] << 8 | station[1]);
    if (code == ENQ) {
        ++sum_.enquiries;
        // Until a header arrives an enquiry opens (or re-opens) the
        // transfer; its station bytes are not compared.
        if (phase_ == Phase::connect || (phase_ == Phase::header && !sum_.header_seen)) {
            if (sum_.status == TerminalStatus::idle) sum_.status = TerminalStatus::receiving;
            phase_ = Phase::header;
            answer(ACK);
            return;
        }
        // Later it asks for the frame again; after the last record (or an
        // empty file's header) too, in case the last ACK was lost.
        if (st != cfg_.station) return;
        if (phase_ == Phase::closing && sum_.status != TerminalStatus::receiving) return;
        nak();
        return;
    }
    if (code == EOT) {
        // Another station's EOT is not for us, unless the PC never learnt
        // our station because the enquiry went unanswered.
        if (st != cfg_.station && told_station_) return;
        sum_.eot_seen = true;
        if (sum_.status == TerminalStatus::receiving) {
            bool complete = phase_ == Phase::closing && sum_.header_seen &&
                            sum_.records_written == sum_.header.records;
            sum_.status = complete ? TerminalStatus::ok : TerminalStatus::aborted;
        }
        sum_.finished = true;
        phase_ = Phase::connect;
        answer(ACK);
    }
    // ACK, NAK and WACK from the PC are not expected here and are ignored.
}

void TerminalModel::on_frame() {
    ++sum_.frames;
    int len = buf_len_;
    if (phase_ == Phase::connect) return;  // no enquiry yet: ignored
    if (over_ || len < TAIL || crc16_arc(buf_, len) != 0) {
        if (phase_ != Phase::closing) nak();
        return;
    }
    if (uint16_t(buf_[0] << 8 | buf_[1]) != cfg_.station) return;  // not ours
    if (frame_is_header_) handle_header(len);
    else handle_data(len);
}

// Parses the header's fields; false with *code 0 = length fault (NAK),
// *code 70 = content fault (EOT).
bool TerminalModel::header_fields(const uint8_t *p, int len, TerminalHeader *h, int *code) {
    *code = 0;
    const char *ext = nullptr;
    std::memset(h, 0, sizeof *h);
    if (!parse_name(p + HDR_NAME, h->name, &ext)) {
        *code = ERR_HEADER;
        return false;
    }
    h->file_type = kind_of(ext);
    h->records = digits(p + HDR_COUNT, 5, MAX_RECORDS);
    if (h->records < 0) {
        *code = ERR_HEADER;
        return false;
    }
    if (h->file_type != 0) {
        h->record_length = h->file_type == 1 ? PD3_RECORD : EX3_RECORD;
        return len == HDR_MIN;
    }
    if (len <= HDR_WIDTHS + TAIL) return false;
    h->fields = digits(p + HDR_FIELDS, 2, MAX_FIELDS);
    if (h->fields < 1) {
        *code = ERR_HEADER;
        return false;
    }
    if (len != HDR_WIDTHS + 3 * h->fields + TAIL) return false;
    int sum = 0;
    for (int i = 0; i < h->fields; ++i) {
        int w = digits(p + HDR_WIDTHS + 3 * i, 3, WIDTH_MAX);
        if (w <= 0) {
            *code = ERR_HEADER;
            return false;
        }
        h->widths[i] = w;
        sum += w;
    }
    if (h->fields + sum > WIDTH_SUM_MAX) {
        *code = ERR_HEADER;
        return false;
    }
    h->record_length = sum;
    return true;
}

void TerminalModel::handle_header(int len) {
    // A header is taken until the first record has arrived (it comes again
    // when the ACK to it was lost); later ones and those after the end are
    // not answered.
    if (phase_ == Phase::closing) {
        if (sum_.status == TerminalStatus::receiving && sum_.header_seen &&
            sum_.header.records == 0)
            answer(ACK);  // repeat of an empty file's header
        return;
    }
    if (phase_ == Phase::data && sum_.records_written > 0) return;
    if (len < HDR_MIN) {
        nak();
        return;
    }
    const TerminalFaults &f = cfg_.faults;
    if (f.silent_from == 0) silenced_ = true;
    if (f.wrong_station_from == 0) wrong_station_ = true;
    if (silenced_) return;  // a dead terminal keeps nothing
    TerminalHeader h;
    int code = 0;
    if (!header_fields(buf_, len, &h, &code)) {
        if (code == 0) {
            nak();
            return;
        }
        answer(EOT);
        fail(code);
        return;
    }
    if (f.nak_frame == 0 && fault_naks_ < f.nak_times) {
        ++fault_naks_;
        nak();
        return;
    }
    sum_.header = h;
    sum_.header_seen = true;
    if (sink_) sink_->on_header(h);
    phase_ = h.records > 0 ? Phase::data : Phase::closing;
    answer_frame(0, ACK);
}

void TerminalModel::handle_data(int len) {
    if (phase_ != Phase::data && phase_ != Phase::closing) return;  // no header yet
    if (!sum_.header_seen) return;
    int received = sum_.records_written;
    if (len < DATA_OVERHEAD) {  // no room for a serial number
        if (phase_ == Phase::data) nak();
        return;
    }
    int b = digits(buf_ + 2, 5, MAX_RECORDS);
    if (b < 0) b = received + 1;
    const TerminalFaults &f = cfg_.faults;
    if (f.silent_from > 0 && b >= f.silent_from) silenced_ = true;
    if (f.wrong_station_from > 0 && b >= f.wrong_station_from) wrong_station_ = true;
    if (silenced_) return;
    if (phase_ == Phase::closing) {
        // After the last record only its repeat (a lost ACK) is answered.
        if (sum_.status == TerminalStatus::receiving && b == received &&
            len == sum_.header.record_length + DATA_OVERHEAD)
            answer(ACK);
        return;
    }
    if (len != sum_.header.record_length + DATA_OVERHEAD) {
        nak();
        return;
    }
    if (b == received) {
        nak_run_ = 0;
        answer(ACK);
        return;
    }
    if (b != received + 1) {
        nak();
        return;
    }
    if (b == f.nak_frame && fault_naks_ < f.nak_times) {
        ++fault_naks_;
        nak();
        return;
    }
    if (b == f.eot_frame && !eot_done_) {  // refused before it is stored
        answer_frame(b, ACK);
        return;
    }
    if (sink_ && !sink_->on_record(b, buf_ + 7, sum_.header.record_length)) {
        answer(EOT);
        fail(ERR_RECORD);
        return;
    }
    sum_.records_written = b;
    if (b >= sum_.header.records) phase_ = Phase::closing;
    answer_frame(b, ACK);
}

}  // namespace zdxsim
