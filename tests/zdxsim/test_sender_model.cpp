// The simulator's sending terminal: the exchange with a scripted PC, each
// fault's bytes on the wire, retries on NAK and on silence, the summary;
// and the file it sends (widths, lines, generated records).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "link/wire.h"
#include "sim_session.h"
#include "zdxsim/sender_model.h"
#include "zdxsim/sender_source.h"

using namespace zdxsim;

namespace {

struct Records : RecordSource {
    explicit Records(std::vector<std::string> r) : recs(std::move(r)) {}
    std::vector<std::string> recs;
    int asked = 0;
    bool record(int serial, uint8_t *out, int len) override {
        EXPECT_EQ(serial, ++asked);  // once each, in order
        if (serial > int(recs.size())) return false;
        std::string r = recs[size_t(serial - 1)];
        r.resize(size_t(len), ' ');
        std::memcpy(out, r.data(), size_t(len));
        return true;
    }
};

// One output taken apart: 'Q' enquiry, 'E' EOT, 'H' header, 'D' data
// frame, 'B' a frame broken off by DLE ENQ.
struct Sent {
    char kind = '?';
    std::string body;        // DLE doubling undone
    bool crc_ok = false;     // checked with the library's CRC
    uint8_t st[2] = {0, 0};  // of a control message or the break
    std::vector<uint8_t> wire;
};

Sent decode(const SenderOutput &o) {
    Sent s;
    s.wire.assign(o.bytes, o.bytes + o.len);
    if (o.len == 4 && (o.bytes[1] == cENQ || o.bytes[1] == cEOT)) {
        s.kind = o.bytes[1] == cENQ ? 'Q' : 'E';
        s.st[0] = o.bytes[2];
        s.st[1] = o.bytes[3];
        return s;
    }
    s.kind = o.bytes[1] == cSOH ? 'H' : 'D';
    for (int i = 2; i < o.len; ++i) {
        if (o.bytes[i] != cDLE) {
            s.body += char(o.bytes[i]);
            continue;
        }
        uint8_t next = o.bytes[i + 1];
        if (next == cDLE) {
            s.body += char(cDLE);
            ++i;
        } else if (next == cETX) {
            EXPECT_EQ(i + 4, o.len);
            std::string span = s.body + char(cETX);
            uint16_t crc = crc16(reinterpret_cast<const uint8_t *>(span.data()), span.size());
            s.crc_ok = o.bytes[i + 2] == (crc & 0xFF) && o.bytes[i + 3] == (crc >> 8);
            break;
        } else {
            EXPECT_EQ(next, cENQ);
            EXPECT_EQ(i + 4, o.len);
            s.kind = 'B';
            s.st[0] = o.bytes[i + 2];
            s.st[1] = o.bytes[i + 3];
            break;
        }
    }
    return s;
}

SendFile data_file(int records, std::vector<int> widths, const char *name = "DATA.TXT") {
    SendFile f{};
    std::snprintf(f.name, sizeof f.name, "%s", name);
    f.fields = int(widths.size());
    for (size_t i = 0; i < widths.size(); ++i) {
        f.widths[i] = widths[i];
        f.record_length += widths[i];
    }
    f.records = records;
    return f;
}

// A terminal with a scripted PC on the other end.
struct Link {
    Records src;
    SenderModel model;
    uint8_t st[2];
    Link(SenderConfig cfg, std::vector<std::string> recs)
        : src(std::move(recs)),
          model(cfg, &src), st{uint8_t(cfg.station >> 8), uint8_t(cfg.station)} {}

    // What the terminal wrote since the last look, one letter per output.
    std::string out(std::vector<Sent> *sent = nullptr) {
        std::string kinds;
        SenderOutput o;
        while (model.next_output(&o)) {
            Sent s = decode(o);
            kinds += s.kind;
            if (sent) sent->push_back(s);
        }
        return kinds;
    }
    Sent one() {
        std::vector<Sent> v;
        EXPECT_EQ(out(&v).size(), 1u);
        return v.empty() ? Sent() : v[0];
    }
    // The PC answers; returns what the terminal wrote in reply.
    std::string pc(uint8_t code, std::vector<Sent> *sent = nullptr,
                   const uint8_t *station = nullptr) {
        uint8_t m[4];
        make_ctrl_msg(m, code, station ? station : st);
        model.feed(m, 4);
        return out(sent);
    }
    Sent pc_one(uint8_t code) {
        std::vector<Sent> v;
        EXPECT_EQ(pc(code, &v).size(), 1u);
        return v.empty() ? Sent() : v[0];
    }
    // No answer in time.
    std::string wait(std::vector<Sent> *sent = nullptr) {
        model.timeout();
        return out(sent);
    }
    const SenderSummary &sum() const { return model.summary(); }
};

SenderConfig config(SendFile f, uint16_t station = 0) {
    SenderConfig c;
    c.station = station;
    c.file = f;
    return c;
}

}  // namespace

TEST(SenderModel, SendsADataFileWithAStationThatIsDle) {
    Link l(config(data_file(2, {3, 2}), 0x0210), {"AB\x10"
                                                  "DE",
                                                  "12345"});
    Sent enq = l.one();
    EXPECT_EQ(enq.wire, (std::vector<uint8_t>{0x10, 0x05, 0x02, 0x10}));
    EXPECT_EQ(l.sum().status, SenderStatus::connecting);
    EXPECT_EQ(l.model.wait_ms(), 3000u);

    Sent h = l.pc_one(cACK);
    EXPECT_EQ(h.kind, 'H');
    EXPECT_TRUE(h.crc_ok);
    EXPECT_EQ(h.body, std::string("\x02\x10"
                                  "DATA.TXT    00002"
                                  "02003002",
                                  2 + 12 + 5 + 8));
    EXPECT_EQ(std::vector<uint8_t>(h.wire.begin(), h.wire.begin() + 6),
              (std::vector<uint8_t>{0x10, 0x01, 0x02, 0x10, 0x10, 'D'}));

    Sent d1 = l.pc_one(cACK);
    EXPECT_EQ(d1.kind, 'D');
    EXPECT_TRUE(d1.crc_ok);
    EXPECT_EQ(d1.body, std::string("\x02\x10"
                                   "00001"
                                   "AB\x10"
                                   "DE",
                                   12));
    Sent d2 = l.pc_one(cACK);
    EXPECT_EQ(d2.body, std::string("\x02\x10"
                                   "00002"
                                   "12345",
                                   12));
    Sent eot = l.pc_one(cACK);
    EXPECT_EQ(eot.wire, (std::vector<uint8_t>{0x10, 0x04, 0x02, 0x10}));
    EXPECT_EQ(l.sum().status, SenderStatus::ok);
    EXPECT_EQ(l.sum().closing, Closing::pending);
    EXPECT_FALSE(l.model.finished());
    EXPECT_EQ(l.pc(cACK), "");
    EXPECT_TRUE(l.model.finished());
    EXPECT_EQ(l.model.wait_ms(), 0u);
    const SenderSummary &s = l.sum();
    EXPECT_EQ(s.closing, Closing::acked);
    EXPECT_EQ(s.acked, 2);
    EXPECT_EQ(s.frames_sent, 3);
    EXPECT_EQ(s.acks, 5);
    EXPECT_STREQ(s.answers, "enq:A 0:A eot:A");  // plain record ACKs left out
    EXPECT_STREQ(status_text(s.status), "ok");
}

TEST(SenderModel, EmptyProgramFileHeaderIsTheKnownWireForm) {
    SendFile f{};
    std::snprintf(f.name, sizeof f.name, "TEST.PD3");
    f.file_type = 1;
    f.record_length = 128;
    Link l(config(f), {});
    l.one();
    Sent h = l.pc_one(cACK);
    EXPECT_EQ(h.wire, (std::vector<uint8_t>{0x10, 0x01, 0x00, 0x00, 0x54, 0x45, 0x53, 0x54, 0x2E,
                                            0x50, 0x44, 0x33, 0x20, 0x20, 0x20, 0x20, 0x30, 0x30,
                                            0x30, 0x30, 0x30, 0x10, 0x03, 0x11, 0x16}));
    EXPECT_EQ(l.pc(cACK), "E");  // no records: straight to EOT
    EXPECT_EQ(l.pc(cACK), "");
    EXPECT_EQ(l.sum().status, SenderStatus::ok);
}

TEST(SenderModel, NakResendsTheSameBytesAndTenInARowGiveUp) {
    Link l(config(data_file(1, {4})), {"abcd"});
    l.one();
    Sent h = l.pc_one(cACK);
    Sent again = l.pc_one(cNAK);
    EXPECT_EQ(again.wire, h.wire);
    Sent d = l.pc_one(cACK);
    std::string seen;
    for (int i = 0; i < 9; ++i) {
        Sent r = l.pc_one(cNAK);
        EXPECT_EQ(r.wire, d.wire);
        seen += r.kind;
    }
    EXPECT_EQ(seen, "DDDDDDDDD");
    EXPECT_EQ(l.pc(cNAK), "E");  // the tenth: give up
    EXPECT_EQ(l.sum().status, SenderStatus::gave_up);
    EXPECT_EQ(l.pc(cACK), "");
    EXPECT_EQ(l.sum().closing, Closing::acked);
    EXPECT_STREQ(l.sum().answers, "enq:A 0:NA 1:NNNNNNNNNN eot:A");
    EXPECT_EQ(l.sum().acked, 0);
}

TEST(SenderModel, SilenceIsAskedAboutWithEnquiriesUntilTheTerminalGivesUp) {
    SenderConfig cfg = config(data_file(2, {1}), 7);
    cfg.retries = 2;
    Link l(cfg, {"x", "y"});
    l.one();
    EXPECT_EQ(l.wait(), "Q");  // the opening, again
    EXPECT_EQ(l.wait(), "Q");
    l.pc_one(cACK);
    std::vector<Sent> v;
    EXPECT_EQ(l.wait(&v), "Q");  // header unanswered
    EXPECT_EQ(v[0].wire, (std::vector<uint8_t>{0x10, 0x05, 0x00, 0x07}));
    EXPECT_EQ(l.pc(cNAK), "H");  // asked again: resend
    EXPECT_EQ(l.wait(), "Q");
    EXPECT_EQ(l.pc(cACK), "D");  // an ACK to the enquiry takes it
    EXPECT_EQ(l.wait(), "Q");
    EXPECT_EQ(l.wait(), "Q");
    EXPECT_EQ(l.wait(), "E");  // retries used up
    EXPECT_EQ(l.sum().status, SenderStatus::no_answer);
    EXPECT_EQ(l.wait(), "E");  // closing EOT, three times
    EXPECT_EQ(l.wait(), "E");
    EXPECT_EQ(l.wait(), "");
    EXPECT_TRUE(l.model.finished());
    const SenderSummary &s = l.sum();
    EXPECT_EQ(s.closing, Closing::unanswered);
    EXPECT_EQ(s.connect_tries, 3);
    EXPECT_EQ(s.enquiries, 4);
    EXPECT_EQ(s.timeouts, 2 + 5 + 3);
    EXPECT_STREQ(s.answers, "enq:A 0:.N.A 1:... eot:...");
}

TEST(SenderModel, OpeningLimitAndAnswersForAnotherStation) {
    SenderConfig cfg = config(data_file(0, {1}), 0x0102);
    cfg.connect_tries = 2;
    Link l(cfg, {});
    l.one();
    static const uint8_t other[2] = {0x01, 0x03};
    EXPECT_EQ(l.pc(cACK, nullptr, other), "");  // not ours: ignored
    EXPECT_EQ(l.sum().foreign, 1);
    EXPECT_EQ(l.wait(), "Q");
    EXPECT_EQ(l.wait(), "");  // nobody there: no EOT
    EXPECT_TRUE(l.model.finished());
    EXPECT_EQ(l.sum().status, SenderStatus::no_answer);
    EXPECT_EQ(l.sum().closing, Closing::none);
}

TEST(SenderModel, EachFaultOnTheWire) {
    // Three records of widths 2 and 3; each case scripts one fault and
    // looks at the first sending of the frame it hits and the one after.
    struct Case {
        const char *what;
        int frame;
        void (*script)(SenderFaults &);
        const char *first;  // body of the first sending, after the station
        bool crc_ok;
        char kind;
        const char *station = "\0\0";  // the station it carries
    };
    const std::string st("\0\0", 2);
    const Case cases[] = {
        {"crc", 2,
         [](SenderFaults &f) {
             f.crc_frame = 2;
             f.crc_times = 1;
         },
         "00002bbbbb", false, 'D'},
        {"station", 1, [](SenderFaults &f) { f.station_frame = 1; }, "00001aaaaa", true, 'D',
         "\xFF\xFF"},
        {"station id", 0,
         [](SenderFaults &f) {
             f.station_frame = 0;
             f.station_value = 0x1234;
         },
         "DATA.TXT    0000302002003", true, 'H', "\x12\x34"},
        {"serial", 2, [](SenderFaults &f) { f.serial_frame = 2; }, "00003bbbbb", true, 'D'},
        {"serial@", 2,
         [](SenderFaults &f) {
             f.serial_frame = 2;
             f.serial_value = 1;
         },
         "00001bbbbb", true, 'D'},
        {"longer", 3, [](SenderFaults &f) { f.length_frame = LAST_FRAME; }, "00003ccccc0", true,
         'D'},
        {"shorter", 1,
         [](SenderFaults &f) {
             f.length_frame = 1;
             f.length_delta = -2;
         },
         "00001aaa", true, 'D'},
        {"header longer", 0, [](SenderFaults &f) { f.length_frame = 0; },
         "DATA.TXT    00003020020030", true, 'H'},
        {"break", 1, [](SenderFaults &f) { f.break_frame = 1; }, "0000", false, 'B'},
        {"break@3", 1,
         [](SenderFaults &f) {
             f.break_frame = 1;
             f.break_after = 3;
         },
         "0", false, 'B'},
        {"name", 0, [](SenderFaults &f) { f.header = HeaderFault::name; },
         "?ATA.TXT    0000302002003", true, 'H'},
        {"count", 0, [](SenderFaults &f) { f.header = HeaderFault::count; },
         "DATA.TXT    3276802002003", true, 'H'},
        {"fields", 0, [](SenderFaults &f) { f.header = HeaderFault::fields; },
         "DATA.TXT    0000317002003", true, 'H'},
        {"width", 0, [](SenderFaults &f) { f.header = HeaderFault::width; },
         "DATA.TXT    0000302000003", true, 'H'},
        {"sum", 0, [](SenderFaults &f) { f.header = HeaderFault::sum; },
         "DATA.TXT    0000302127128", true, 'H'},
        {"short", 0, [](SenderFaults &f) { f.header = HeaderFault::short_header; },
         "DATA.TXT    0000", true, 'H'},
    };
    for (const Case &c : cases) {
        SenderConfig cfg = config(data_file(3, {2, 3}));
        c.script(cfg.faults);
        Link l(cfg, {"aaaaa", "bbbbb", "ccccc"});
        l.one();
        Sent first = l.pc_one(cACK);
        for (int k = 0; k < c.frame; ++k) first = l.pc_one(cACK);
        EXPECT_EQ(first.kind, c.kind) << c.what;
        EXPECT_EQ(first.body, std::string(c.station, 2) + c.first) << c.what;
        EXPECT_EQ(first.crc_ok, c.crc_ok) << c.what;
        if (c.kind == 'B') {
            EXPECT_EQ(first.st[0] | first.st[1], 0) << c.what;
        }
        // The PC refuses (NAK, or for a break just answers the enquiry):
        // the frame comes again, now right.
        Sent second = l.pc_one(cNAK);
        EXPECT_TRUE(second.crc_ok) << c.what;
        EXPECT_EQ(second.body.substr(0, 2), st) << c.what;
        EXPECT_EQ(second.body.size(), c.frame == 0 ? 27u : 12u) << c.what;
    }
}

TEST(SenderModel, BadCheckValueKTimesAndHeaderFaultKTimes) {
    SenderConfig cfg = config(data_file(1, {1}));
    cfg.faults.crc_frame = 1;
    cfg.faults.crc_times = 3;
    cfg.faults.header = HeaderFault::short_header;
    cfg.faults.header_times = 2;
    Link l(cfg, {"z"});
    l.one();
    std::string header_lens, crcs;
    Sent s = l.pc_one(cACK);
    for (int i = 0; i < 3; ++i) {
        header_lens += std::to_string(s.body.size()) + " ";
        s = l.pc_one(i < 2 ? cNAK : cACK);
    }
    EXPECT_EQ(header_lens, "18 18 24 ");
    for (int i = 0; i < 4; ++i) {
        crcs += s.crc_ok ? 'G' : 'B';
        s = l.pc_one(i < 3 ? cNAK : cACK);
    }
    EXPECT_EQ(crcs, "BBBG");
    EXPECT_EQ(s.kind, 'E');
    EXPECT_STREQ(l.sum().answers, "enq:A 0:NNA 1:NNNA");
}

TEST(SenderModel, RepeatAfterAckAndLostAcks) {
    {  // the last block again after its ACK, and the header too
        SenderConfig cfg = config(data_file(2, {1}));
        cfg.faults.repeat_frame = LAST_FRAME;
        Link l(cfg, {"a", "b"});
        l.one();
        l.pc_one(cACK);
        l.pc_one(cACK);
        Sent last = l.pc_one(cACK);
        Sent rep = l.pc_one(cACK);
        EXPECT_EQ(rep.wire, last.wire);
        EXPECT_EQ(l.pc(cACK), "E");
        EXPECT_EQ(l.sum().acked, 2);
        EXPECT_STREQ(l.sum().answers, "enq:A 0:A 2:AA");
    }
    {
        SenderConfig cfg = config(data_file(1, {1}));
        cfg.faults.repeat_frame = 0;
        Link l(cfg, {"a"});
        l.one();
        Sent h = l.pc_one(cACK);
        EXPECT_EQ(l.pc_one(cACK).wire, h.wire);
        EXPECT_EQ(l.pc(cACK), "D");
    }
    {  // the final ACK not heard: enquiry, NAK, the last block again
        SenderConfig cfg = config(data_file(2, {1}));
        cfg.faults.lost_ack_frame = LAST_FRAME;
        Link l(cfg, {"a", "b"});
        l.one();
        l.pc_one(cACK);
        l.pc_one(cACK);
        Sent last = l.pc_one(cACK);
        EXPECT_EQ(l.pc(cACK), "");  // not heard
        EXPECT_EQ(l.sum().acked, 1);
        EXPECT_EQ(l.wait(), "Q");
        EXPECT_EQ(l.pc_one(cNAK).wire, last.wire);
        EXPECT_EQ(l.pc(cACK), "E");
        EXPECT_STREQ(l.sum().answers, "enq:A 0:A 2:a.NA");
    }
    {  // ... or the PC answers the enquiry with ACK: straight to the EOT
        SenderConfig cfg = config(data_file(1, {1}));
        cfg.faults.lost_ack_frame = 1;
        Link l(cfg, {"a"});
        l.one();
        l.pc_one(cACK);
        l.pc_one(cACK);
        EXPECT_EQ(l.pc(cACK), "");
        EXPECT_EQ(l.wait(), "Q");
        EXPECT_EQ(l.pc(cACK), "E");
        EXPECT_STREQ(l.sum().answers, "enq:A 0:A 1:a.A");
    }
}

TEST(SenderModel, PcRefusalOwnEotAndSilence) {
    {  // the PC could not store the file: EOT for the last record
        Link l(config(data_file(2, {1})), {"a", "b"});
        l.one();
        l.pc_one(cACK);
        l.pc_one(cACK);
        l.pc_one(cACK);
        EXPECT_EQ(l.pc(cEOT), "E");
        EXPECT_EQ(l.sum().status, SenderStatus::refused);
        EXPECT_TRUE(l.sum().pc_eot);
        EXPECT_EQ(l.pc(cACK), "");
        EXPECT_EQ(l.sum().closing, Closing::acked);
        EXPECT_EQ(l.sum().acked, 1);
        EXPECT_STREQ(l.sum().answers, "enq:A 0:A 2:E eot:A");
    }
    {  // the terminal's own EOT instead of record 2
        SenderConfig cfg = config(data_file(3, {1}));
        cfg.faults.eot_at = 2;
        Link l(cfg, {"a", "b", "c"});
        l.one();
        l.pc_one(cACK);
        l.pc_one(cACK);
        EXPECT_EQ(l.pc(cACK), "E");
        EXPECT_EQ(l.src.asked, 1);  // record 2 never read
        EXPECT_EQ(l.pc(cACK), "");
        EXPECT_EQ(l.sum().status, SenderStatus::ended);
        EXPECT_EQ(l.sum().closing, Closing::acked);
    }
    {  // silent instead of record 1: no time-outs; the PC's EOT ends it
        SenderConfig cfg = config(data_file(1, {1}));
        cfg.faults.silent_from = 1;
        Link l(cfg, {"a"});
        l.one();
        l.pc_one(cACK);
        EXPECT_EQ(l.pc(cACK), "");
        EXPECT_EQ(l.model.wait_ms(), 0u);
        EXPECT_EQ(l.wait(), "");
        EXPECT_EQ(l.pc(cEOT), "");
        EXPECT_TRUE(l.model.finished());
        EXPECT_TRUE(l.sum().pc_eot);
        EXPECT_EQ(l.sum().status, SenderStatus::silent);
    }
    {  // the closing EOT lost: the file went across, then silence; the
        // PC's EOT (a stop) ends it
        SenderConfig cfg = config(data_file(2, {1}));
        cfg.faults.drop_closing_eot = true;
        Link l(cfg, {"a", "b"});
        l.one();
        l.pc_one(cACK);
        l.pc_one(cACK);
        l.pc_one(cACK);
        EXPECT_EQ(l.pc(cACK), "");  // no EOT after the last ACK
        EXPECT_EQ(l.sum().status, SenderStatus::ok);
        EXPECT_EQ(l.sum().acked, 2);
        EXPECT_EQ(l.sum().closing, Closing::dropped);
        EXPECT_STREQ(closing_text(l.sum().closing), "dropped");
        EXPECT_EQ(l.model.wait_ms(), 0u);
        EXPECT_EQ(l.wait(), "");
        EXPECT_FALSE(l.model.finished());
        EXPECT_EQ(l.pc(cEOT), "");
        EXPECT_TRUE(l.model.finished());
    }
    {  // silent from the start: not even the enquiry
        SenderConfig cfg = config(data_file(1, {1}));
        cfg.faults.silent = true;
        Link l(cfg, {"a"});
        EXPECT_EQ(l.out(), "");
        EXPECT_EQ(l.model.wait_ms(), 0u);
    }
    {  // a record the source cannot give
        Link l(config(data_file(2, {1})), {"a"});
        l.one();
        l.pc_one(cACK);
        l.pc_one(cACK);
        EXPECT_EQ(l.pc(cACK), "E");
        EXPECT_EQ(l.sum().status, SenderStatus::failed);
    }
}

TEST(SenderModel, AnswerLogIsBoundedAndMarkedWhenCut) {
    const int n = 400;
    std::vector<std::string> recs(n, "r");
    Link l(config(data_file(n, {1})), recs);
    l.one();
    l.pc_one(cACK);
    l.pc_one(cACK);
    for (int k = 1; k <= n; ++k) {
        l.pc_one(cNAK);
        l.pc_one(cACK);
    }
    l.pc(cACK);
    std::string log = l.sum().answers;
    EXPECT_LT(log.size(), size_t(ANSWER_LOG));
    EXPECT_EQ(log.substr(0, 16), "enq:A 0:A 1:NA 2");
    EXPECT_EQ(log.substr(log.size() - 4), " ...");
    EXPECT_EQ(l.sum().acked, n);
    EXPECT_EQ(l.sum().status, SenderStatus::ok);
}

TEST(SenderSource, WidthsAndFieldDefinitions) {
    SendFile f{};
    EXPECT_TRUE(parse_widths("5,3", &f));
    EXPECT_EQ(f.fields, 2);
    EXPECT_EQ(f.widths[1], 3);
    EXPECT_TRUE(parse_widths("254", &f));
    EXPECT_FALSE(parse_widths("127,128", &f));  // 2 + 255 > 255
    EXPECT_FALSE(parse_widths("0", &f));
    EXPECT_FALSE(parse_widths("1,,2", &f));
    EXPECT_FALSE(parse_widths("1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17", &f));

    simtest::TempDir dir;
    auto fld = [&](const char *text, const char *name) {
        std::string path = dir.path("T.FLD");
        dir.write("T.FLD", text);
        FILE *fp = std::fopen(path.c_str(), "rb");
        SendFile out{};
        bool ok = fld_widths(fp, name, &out);
        std::fclose(fp);
        return ok ? out.fields : -1;
    };
    EXPECT_EQ(fld("* comment\r\nFIELDS 3,5\r\n", "T.TXT"), 2);
    const char *sections = "file T.TXT\r\nfield 4\r\nFILE T.DAT\r\nFIELD 6 7\r\n";
    EXPECT_EQ(fld(sections, "T.TXT"), 1);
    EXPECT_EQ(fld(sections, "T.DAT"), 2);
    EXPECT_EQ(fld(sections, "T.CSV"), -1);
    EXPECT_EQ(fld("FILE T.TXT\nFILE T.DAT\nFIELD 1\n", "T.TXT"), -1);
    EXPECT_EQ(fld("FIELD 1,2,\n", "T.TXT"), -1);
}

TEST(SenderSource, DataProgramAndGeneratedRecords) {
    simtest::TempDir dir;
    std::string data = dir.path("stock.txt");
    dir.write("stock.txt", "ABCDEFG\r\nxy\nlast\x1A");
    dir.write("stock.FLD", "FIELDS 3 2\r\n");
    SendSource src;
    SendFile f;
    char err[256] = "";
    SendRequest req;
    req.path = data.c_str();
    ASSERT_TRUE(src.open(req, &f, err, sizeof err)) << err;
    EXPECT_STREQ(f.name, "STOCK.TXT");
    EXPECT_EQ(f.records, 3);
    EXPECT_EQ(f.record_length, 5);
    uint8_t rec[SEND_RECORD_MAX];
    std::string got;
    for (int k = 1; k <= 3; ++k) {
        ASSERT_TRUE(src.record(k, rec, 5));
        got += std::string(reinterpret_cast<char *>(rec), 5) + "|";
    }
    EXPECT_EQ(got, "ABCDE|xy   |last |");  // cut, filled, Ctrl-Z gone

    req.widths = "0";
    EXPECT_FALSE(src.open(req, &f, err, sizeof err));
    req.widths = nullptr;
    req.name = "PROG.PD3";
    ASSERT_TRUE(src.open(req, &f, err, sizeof err)) << err;
    EXPECT_EQ(f.file_type, 1);
    EXPECT_EQ(f.record_length, 128);
    ASSERT_TRUE(src.record(2, rec, 128));
    EXPECT_EQ(std::string(reinterpret_cast<char *>(rec), 4), "xy00");

    SendRequest gen;
    gen.generated = 4;
    EXPECT_FALSE(src.open(gen, &f, err, sizeof err));  // a data file needs widths
    gen.widths = "4,4";
    ASSERT_TRUE(src.open(gen, &f, err, sizeof err)) << err;
    EXPECT_STREQ(f.name, GENERATED_NAME);
    EXPECT_EQ(f.records, 4);
    ASSERT_TRUE(src.record(3, rec, 8));
    EXPECT_EQ(std::string(reinterpret_cast<char *>(rec), 8), std::string("0000\x10IJK", 8));
    ASSERT_TRUE(src.record(4, rec, 8));
    EXPECT_EQ(std::string(reinterpret_cast<char *>(rec), 8), "00004JKL");
}
