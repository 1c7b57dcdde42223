// Receiving from a line that hands bytes over one at a time: once a data
// frame's length is known the pump waits for its remaining bytes in one go
// (counted in the port's fetches, not in time), every answer still goes
// out the moment the frame's last byte is in, and a frame that comes short
// is answered or timed out as ever.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim_session.h"
#include "upload/rx_terminal.h"

using namespace simtest;
using rxterm::Terminal;

namespace {

// 9600 bit/s: a byte every 1.04 ms; the sent bytes arrive 1 ms apart.
constexpr uint32_t BYTE_GAP_MS = 1;
constexpr int RECORDS = 20;
constexpr int RECORD_BYTES = 100;
constexpr uint32_t REPLY_WAIT_MS = 30000;

std::string record(int k)
{
    std::string r(RECORD_BYTES, static_cast<char>('A' + k % 26));
    if (k % 3 == 0)
        r[RECORD_BYTES / 2] = 0x10;   // a doubled DLE: more bytes than the fewest possible
    return r;
}

std::vector<std::string> records()
{
    std::vector<std::string> out;
    for (int k = 1; k <= RECORDS; ++k)
        out.push_back(record(k));
    return out;
}

// A terminal whose every step arrives byte by byte; last_byte_ms[step] is
// when that step's last byte is in.
struct ByteTerminal : Terminal {
    std::vector<uint64_t> last_byte_ms;

    void trickle(size_t step, uint32_t first_delay = 1)
    {
        const Bytes &b = script[step];
        for (size_t i = 0; i < b.size(); ++i)
            sim::deliver(&b[i], 1, first_delay + static_cast<uint32_t>(i) * BYTE_GAP_MS);
        if (last_byte_ms.size() <= step)
            last_byte_ms.resize(step + 1);
        last_byte_ms[step] = sim::now_ms() + first_delay + (b.size() - 1) * BYTE_GAP_MS;
    }
    void install_trickling()
    {
        rule = [this](Kind k, size_t answered) {
            if (k == Kind::Ack && next < script.size())
                trickle(next++);
            else if (k == Kind::Nak)
                trickle(answered);
            return true;
        };
        install();
    }
};

// The data file's layout: one field of RECORD_BYTES.
std::vector<Bytes> script_of(const std::vector<std::string> &recs)
{
    std::vector<Bytes> s = rxterm::data_file_script(recs);
    s[1] = rxterm::frame(0x01,
                         rxterm::header_body("DATA.TXT", static_cast<int>(recs.size()), "01100"));
    return s;
}

std::string contents(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

bool exists(const std::string &path) { return std::ifstream(path).good(); }

class ReceivePacing : public SimSession {};

}   // namespace

TEST_F(ReceivePacing, AFrameArrivingByteByByteIsFetchedInAFewReads)
{
    ByteTerminal term;
    term.script = script_of(records());
    term.install_trickling();
    const uint32_t reads_before = sim::port_reads();
    ASSERT_EQ(exec("-V -B9600 +R " + tmp.path("DATA.TXT")), 0);
    const uint32_t reads = sim::port_reads() - reads_before;

    // Every record was acknowledged the moment its last byte was in: the
    // waits for the rest of a frame never held an answer back.
    ASSERT_EQ(term.answers.size(), static_cast<size_t>(RECORDS + 3));
    for (int k = 1; k <= RECORDS; ++k) {
        const size_t step = static_cast<size_t>(k) + 1;
        EXPECT_EQ(kind_of(term.answers[step].data(), term.answers[step].size()), Kind::Ack);
        EXPECT_EQ(term.answer_ms[step], term.last_byte_ms[step]) << "record " << k;
    }
    // Each wait costs two fetches, one that finds nothing and one after it.
    // Byte by byte a record's ~113 bytes took a wait each; the rest of a
    // frame now comes in one (a doubled DLE adds a byte or two after it).
    // The enquiry, the header and the EOT are still read byte by byte.
    const size_t unhinted = term.script[0].size() + term.script[1].size() +
                            term.script.back().size();
    EXPECT_LT(reads, 2 * unhinted + RECORDS * 10u) << "fetches: " << reads;

    std::string file;
    for (const std::string &r : records())
        file += r + "\r\n";
    EXPECT_EQ(contents(tmp.path("DATA.TXT")), file);
}

TEST_F(ReceivePacing, AFrameThatLostBytesIsStillAnsweredSoon)
{
    ByteTerminal term;
    term.script = script_of({record(1), record(2)});
    Bytes good = term.script[2];
    term.script[2].erase(term.script[2].begin() + 20,
                         term.script[2].begin() + 23);   // lost on the way
    term.rule = [&term, good](Kind k, size_t answered) {
        if (k == Kind::Nak) {
            term.script[answered] = good;   // sent again, whole this time
            term.trickle(answered);
        } else if (k == Kind::Ack && term.next < term.script.size()) {
            term.trickle(term.next++);
        }
        return true;
    };
    term.install();
    ASSERT_EQ(exec("-V -B9600 +R " + tmp.path("DATA.TXT")), 0);

    ASSERT_GE(term.answers.size(), 3u);
    EXPECT_EQ(kind_of(term.answers[2].data(), term.answers[2].size()), Kind::Nak);
    // The short frame's bytes never reach what was due: its wait runs out
    // after twice the due bytes' line time and a little (115 bytes at
    // 9600 bit/s: 120 ms), and the frame is answered then, not when the
    // reply time-out ends.
    EXPECT_LE(term.answer_ms[2], term.last_byte_ms[2] + 2 * 120 + 10 + 1);
    EXPECT_EQ(term.count(Kind::Nak), 1);
}

TEST_F(ReceivePacing, AFrameThatStopsShortEndsWithTheTimeOut)
{
    ByteTerminal term;
    term.script = script_of({record(1), record(2)});
    term.script[2].resize(40);   // the rest never comes
    term.install_trickling();
    EXPECT_EQ(exec("-V -B9600 +R " + tmp.path("DATA.TXT")), ORV5_E_RX_TIMEOUT);

    ASSERT_EQ(term.answers.size(), 3u);   // ACK, ACK, and the time-out's EOT
    EXPECT_EQ(kind_of(term.answers[2].data(), term.answers[2].size()), Kind::Eot);
    const uint64_t waited = term.answer_ms[2] - term.answer_ms[1];
    EXPECT_GE(waited, REPLY_WAIT_MS);
    EXPECT_LE(waited, REPLY_WAIT_MS + 10);
    EXPECT_FALSE(exists(tmp.path("DATA.TXT")));
}
