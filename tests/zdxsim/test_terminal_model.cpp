// The simulator's terminal model: answers to enquiries, frames and EOT,
// receiving checks, and the scripted faults.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/wire.h"
#include "zdxsim/terminal_model.h"

using namespace zdxsim;

namespace {

struct Sink : RecordSink {
    std::vector<std::string> records;
    int headers = 0;
    bool refuse = false;
    void on_header(const TerminalHeader &) override { ++headers; }
    bool on_record(int serial, const uint8_t *b, int len) override {
        if (refuse) return false;
        EXPECT_EQ(serial, int(records.size()) + 1);
        records.emplace_back(reinterpret_cast<const char *>(b), size_t(len));
        return true;
    }
};

struct Term {
    Sink sink;
    TerminalModel model;
    uint8_t st[2];
    explicit Term(TerminalConfig cfg = TerminalConfig())
        : model(cfg, &sink), st{uint8_t(cfg.station >> 8), uint8_t(cfg.station)} {}

    // Feeds bytes; returns the answers as "A", "N", "E", "W" (ACK, NAK,
    // EOT, WACK), each followed by '!' when it carries a foreign station.
    std::string feed(const std::vector<uint8_t> &bytes) {
        model.feed(bytes.data(), int(bytes.size()));
        std::string out;
        TerminalReply r;
        while (model.next_reply(&r)) {
            EXPECT_EQ(r.len, 4);
            EXPECT_EQ(r.bytes[0], cDLE);
            char c = r.bytes[1] == cACK    ? 'A'
                     : r.bytes[1] == cNAK  ? 'N'
                     : r.bytes[1] == cEOT  ? 'E'
                     : r.bytes[1] == cWACK ? 'W'
                                           : '?';
            out += c;
            if (r.bytes[2] != st[0] || r.bytes[3] != st[1]) out += '!';
        }
        return out;
    }
    std::string ctrl(uint8_t code, const uint8_t *station = nullptr) {
        uint8_t m[4];
        make_ctrl_msg(m, code, station ? station : st);
        return feed(std::vector<uint8_t>(m, m + 4));
    }
    std::string enq() {
        static const uint8_t pc[2] = {0, 0};
        return ctrl(cENQ, pc);
    }
};

// Wire form of a frame: opening, station, content, ETX, CRC, DLEs doubled.
// Built here rather than with stuff_frame so that over-long frames fit.
std::vector<uint8_t> frame(uint8_t open, const uint8_t st[2], const std::string &content) {
    std::vector<uint8_t> span = {st[0], st[1]};
    span.insert(span.end(), content.begin(), content.end());
    span.push_back(cETX);
    uint16_t crc = crc16(span.data(), span.size());
    std::vector<uint8_t> wire = {cDLE, open};
    for (size_t i = 0; i + 1 < span.size(); ++i) {
        wire.push_back(span[i]);
        if (span[i] == cDLE) wire.push_back(cDLE);
    }
    wire.insert(wire.end(), {cDLE, cETX, uint8_t(crc & 0xFF), uint8_t(crc >> 8)});
    return wire;
}

std::string num(int v, int width) {
    char b[8];
    std::snprintf(b, sizeof b, "%0*d", width, v);
    return b;
}

std::vector<uint8_t> header(const uint8_t st[2], const char *name12, int records,
                            const std::string &layout = "") {
    return frame(cSOH, st, std::string(name12) + num(records, 5) + layout);
}

std::vector<uint8_t> data(const uint8_t st[2], int serial, const std::string &rec) {
    return frame(cSTX, st, num(serial, 5) + rec);
}

}  // namespace

TEST(TerminalModel, ReceivesADataFileWithItsOwnStation) {
    TerminalConfig cfg;
    cfg.station = 0x0210;  // a station byte that is DLE
    Term t(cfg);
    const uint8_t their[2] = {0x02, 0x10};
    EXPECT_EQ(t.enq(), "A");  // ACK with the terminal's 02 10
    EXPECT_EQ(t.feed(header(their, "DATA.TXT    ", 2, "02005003")), "A");
    EXPECT_EQ(t.feed(data(their, 1,
                          std::string("AB\x10"
                                      "DEXYZ",
                                      8))),
              "A");
    EXPECT_EQ(t.feed(data(their, 2, "12345678")), "A");
    EXPECT_EQ(t.ctrl(cEOT), "A");
    const TerminalSummary &s = t.model.summary();
    EXPECT_EQ(s.status, TerminalStatus::ok);
    EXPECT_STREQ(status_text(s.status), "ok");
    EXPECT_STREQ(s.header.name, "DATA.TXT");
    EXPECT_EQ(s.header.fields, 2);
    EXPECT_EQ(s.header.widths[1], 3);
    EXPECT_EQ(s.records_written, 2);
    ASSERT_EQ(t.sink.records.size(), 2u);
    EXPECT_EQ(t.sink.records[0], std::string("AB\x10"
                                             "DEXYZ",
                                             8));
    EXPECT_TRUE(t.model.finished());
}

TEST(TerminalModel, AcceptsTheEmptyProgramFileHeaderAsWritten) {
    Term t;
    t.enq();
    const uint8_t wire[] = {0x10, 0x01, 0x00, 0x00, 0x54, 0x45, 0x53, 0x54, 0x2E,
                            0x50, 0x44, 0x33, 0x20, 0x20, 0x20, 0x20, 0x30, 0x30,
                            0x30, 0x30, 0x30, 0x10, 0x03, 0x11, 0x16};
    EXPECT_EQ(t.feed(std::vector<uint8_t>(wire, wire + sizeof wire)), "A");
    EXPECT_EQ(t.model.summary().header.file_type, 1);
    EXPECT_EQ(t.model.summary().header.record_length, 128);
    // The ACK was lost: the PC asks again and re-sends the header.
    EXPECT_EQ(t.enq(), "N");
    EXPECT_EQ(t.feed(std::vector<uint8_t>(wire, wire + sizeof wire)), "A");
    EXPECT_EQ(t.ctrl(cEOT), "A");
    EXPECT_EQ(t.model.summary().status, TerminalStatus::ok);
}

TEST(TerminalModel, DataChecksNakBadFramesAndAckRepeatsOnce) {
    Term t;
    t.enq();
    t.feed(header(t.st, "A           ", 3, "01004"));
    std::vector<uint8_t> f = data(t.st, 1, "abcd");
    std::vector<uint8_t> bad = f;
    bad[5] ^= 0x01;
    EXPECT_EQ(t.feed(bad), "N");                    // CRC
    EXPECT_EQ(t.feed(data(t.st, 1, "abc")), "N");   // length
    EXPECT_EQ(t.feed(data(t.st, 2, "abcd")), "N");  // skips a block
    EXPECT_EQ(t.feed(f), "A");
    EXPECT_EQ(t.feed(f), "A");                               // repeat: not stored
    EXPECT_EQ(t.feed(frame(cSTX, t.st, "0000xwxyz")), "A");  // no digits: next
    static const uint8_t other[2] = {0x12, 0x34};
    EXPECT_EQ(t.feed(data(other, 3, "zzzz")), "");  // not ours
    EXPECT_EQ(t.ctrl(cENQ, other), "");             // other station's ENQ
    EXPECT_EQ(t.ctrl(cENQ), "N");                   // ours: send again
    EXPECT_EQ(t.feed(data(t.st, 3, "last")), "A");
    EXPECT_EQ(t.ctrl(cENQ), "N");                   // last ACK lost ...
    EXPECT_EQ(t.feed(data(t.st, 3, "last")), "A");  // ... answered again
    EXPECT_EQ(t.ctrl(cEOT), "A");
    ASSERT_EQ(t.sink.records.size(), 3u);
    EXPECT_EQ(t.sink.records[1], "wxyz");
    EXPECT_EQ(t.model.summary().naks_sent, 5);
    EXPECT_EQ(t.model.summary().status, TerminalStatus::ok);
}

// Frames whose every field is plausible and only the check disagrees: the
// terminal must not take them, or it would hide a sender's damage.
TEST(TerminalModel, ACheckFaultAloneIsNakked) {
    Term t;
    t.enq();
    std::vector<uint8_t> h = header(t.st, "A           ", 1, "01004");
    h[4] ^= 0x02;  // 'A' in the name: 'C'
    EXPECT_EQ(t.feed(h), "N");
    EXPECT_EQ(t.feed(header(t.st, "A           ", 1, "01004")), "A");
    std::vector<uint8_t> f = data(t.st, 1, "abcd");
    std::vector<uint8_t> bad_record = f;
    bad_record[9] ^= 0x02;  // 'a' in the record: 'c'
    EXPECT_EQ(t.feed(bad_record), "N");
    std::vector<uint8_t> bad_check = f;
    bad_check.back() ^= 0x01;
    EXPECT_EQ(t.feed(bad_check), "N");
    EXPECT_EQ(t.feed(f), "A");
    ASSERT_EQ(t.sink.records.size(), 1u);
    EXPECT_EQ(t.sink.records[0], "abcd");
    EXPECT_STREQ(t.model.summary().header.name, "A");
}

TEST(TerminalModel, HeaderContentFaultsEndWithEotLengthFaultsWithNak) {
    struct Case {
        const char *name;
        int records;
        const char *layout;
        const char *answer;
    };
    const Case cases[] = {
        {"X           ", 1, "01254", "A"},     // 1 + 254 = 255: the limit
        {"X           ", 1, "02127128", "E"},  // 257
        {"X           ", 1, "01000", "E"},     // width 0
        {"X           ", 1, "00", "N"},        // no widths: length fault
        {"X           ", 1, "17001", "E"},     // 17 fields
        {"X           ", 1, "02005", "N"},     // one width missing
        {"AB.CDEF     ", 1, "01005", "E"},     // extension too long
        {".TXT        ", 1, "01005", "E"},    {"ABC X       ", 1, "01005", "E"},
        {"P.PD3       ", 1, "01005", "N"},  // program header too long
    };
    for (const Case &c : cases) {
        Term t;
        t.enq();
        EXPECT_EQ(t.feed(header(t.st, c.name, c.records, c.layout)), c.answer)
            << c.name << c.layout;
        if (c.answer[0] == 'E') {
            EXPECT_EQ(t.model.summary().status, TerminalStatus::error);
            EXPECT_EQ(t.model.summary().error_code, 70);
            EXPECT_EQ(t.ctrl(cEOT), "A");
        }
    }
    Term t;
    t.enq();
    EXPECT_EQ(t.feed(frame(cSOH, t.st, "X           3276801005")), "E");  // 32768
}

TEST(TerminalModel, ScriptedNaksWackAndEot) {
    TerminalConfig cfg;
    cfg.faults.nak_frame = 2;
    cfg.faults.nak_times = 3;
    cfg.faults.wack_frame = 0;
    cfg.faults.wack_delay_ms = 1500;
    cfg.faults.eot_frame = 3;
    Term t(cfg);
    t.enq();
    std::vector<uint8_t> h = header(t.st, "F           ", 3, "01001");
    t.model.feed(h.data(), int(h.size()));
    TerminalReply w, a;
    ASSERT_TRUE(t.model.next_reply(&w));
    ASSERT_TRUE(t.model.next_reply(&a));
    EXPECT_EQ(w.bytes[1], cWACK);
    EXPECT_EQ(w.delay_ms, 0u);
    EXPECT_EQ(a.bytes[1], cACK);
    EXPECT_EQ(a.delay_ms, 1500u);
    EXPECT_EQ(t.feed(data(t.st, 1, "a")), "A");
    std::string answers;
    for (int i = 0; i < 4; ++i) answers += t.feed(data(t.st, 2, "b"));
    EXPECT_EQ(answers, "NNNA");
    EXPECT_EQ(t.feed(data(t.st, 3, "c")), "E");
    EXPECT_EQ(t.model.summary().status, TerminalStatus::refused);
    EXPECT_EQ(t.ctrl(cEOT), "A");
    EXPECT_EQ(t.sink.records.size(), 2u);  // refused one not kept
    EXPECT_EQ(t.model.summary().naks_sent, 3);
}

TEST(TerminalModel, TenNaksInARowEndTheReception) {
    TerminalConfig cfg;
    cfg.faults.nak_frame = 1;
    cfg.faults.nak_times = 99;
    Term t(cfg);
    t.enq();
    t.feed(header(t.st, "F           ", 1, "01001"));
    std::string answers;
    for (int i = 0; i < 11; ++i) answers += t.feed(data(t.st, 1, "x"));
    EXPECT_EQ(answers, "NNNNNNNNNN");  // the 11th is ignored
    EXPECT_EQ(t.model.summary().error_code, 53);
    EXPECT_EQ(t.ctrl(cEOT), "A");
    EXPECT_EQ(t.model.summary().status, TerminalStatus::error);
}

TEST(TerminalModel, SilenceAndForeignStation) {
    {
        TerminalConfig cfg;
        cfg.station = 7;
        cfg.faults.silent = true;
        Term t(cfg);
        EXPECT_EQ(t.enq(), "");
        static const uint8_t pc[2] = {0, 0};
        EXPECT_EQ(t.ctrl(cEOT, pc), "");  // seen, not answered
        EXPECT_TRUE(t.model.summary().eot_seen);
        EXPECT_EQ(t.model.summary().status, TerminalStatus::aborted);
        EXPECT_TRUE(t.model.finished());
    }
    {
        TerminalConfig cfg;
        cfg.faults.silent_from = 2;
        cfg.faults.wrong_station_from = 1;
        cfg.faults.wrong_station = 0x0909;
        Term t(cfg);
        t.enq();
        EXPECT_EQ(t.feed(header(t.st, "F           ", 2, "01001")), "A");
        EXPECT_EQ(t.feed(data(t.st, 1, "x")), "A!");
        EXPECT_EQ(t.feed(data(t.st, 2, "y")), "");  // dead: not kept
        EXPECT_EQ(t.ctrl(cEOT), "");
        EXPECT_EQ(t.model.summary().status, TerminalStatus::aborted);
        EXPECT_EQ(t.sink.records.size(), 1u);
    }
}

TEST(TerminalModel, PcAbortAndNextTransfer) {
    Term t;
    t.enq();
    t.feed(header(t.st, "F           ", 5, "01001"));
    t.feed(data(t.st, 1, "x"));
    EXPECT_EQ(t.ctrl(cEOT), "A");
    EXPECT_EQ(t.model.summary().status, TerminalStatus::aborted);
    t.model.start_next();
    EXPECT_EQ(t.model.summary().status, TerminalStatus::idle);
    EXPECT_EQ(t.enq(), "A");
    EXPECT_EQ(t.feed(header(t.st, "G           ", 0, "01001")), "A");
    EXPECT_EQ(t.ctrl(cEOT), "A");
    EXPECT_EQ(t.model.summary().status, TerminalStatus::ok);
    EXPECT_STREQ(t.model.summary().header.name, "G");
}

TEST(TerminalModel, SinkRefusalAndOverlongFrame) {
    Term t;
    t.enq();
    t.feed(header(t.st, "F           ", 2, "01001"));
    std::vector<uint8_t> big = data(t.st, 1, std::string(900, 'z'));
    EXPECT_EQ(t.feed(big), "N");  // overflow: bad length
    t.sink.refuse = true;
    EXPECT_EQ(t.feed(data(t.st, 1, "x")), "E");
    EXPECT_EQ(t.model.summary().error_code, 71);
}
