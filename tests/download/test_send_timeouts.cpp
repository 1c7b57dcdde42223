// When each wait of the sending side ends: every repeated enquiry or EOT and
// every give-up comes at its nominal time, within one tick of the session
// timer, with its result.
#include <functional>
#include <string>
#include <vector>

#include "runtime/timer.h"
#include "sim_session.h"

using namespace simtest;

namespace {

// One block the PC wrote, and when.
struct Event {
    Kind kind;
    uint64_t at_ms;
};

// Blocks of one kind every step ms from first to last, both included.
std::vector<Event> every(Kind k, uint64_t first, uint64_t step, uint64_t last)
{
    std::vector<Event> out;
    for (uint64_t t = first; t <= last; t += step)
        out.push_back({k, t});
    return out;
}

std::vector<Event> operator+(std::vector<Event> a, const std::vector<Event> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A terminal that answers every enquiry, frame and EOT with ACK after 1 ms
// unless the rule (given the block's kind and its ordinal among blocks of
// that kind) has handled it.  Every block is logged with its time.
struct Terminal {
    std::function<bool(Kind, int)> rule;
    std::vector<Event> log;
    int seen[8] = {};

    void install()
    {
        sim::set_peer([this](const uint8_t *b, size_t n) {
            Kind k = kind_of(b, n);
            log.push_back({k, sim::now_ms()});
            int nth = seen[static_cast<int>(k)]++;
            if (rule && rule(k, nth))
                return;
            if (k == Kind::Enq || k == Kind::Header || k == Kind::Data || k == Kind::Eot)
                sim::deliver(msg(0x06), 1);
        });
    }
};

constexpr int START = -1;   // anchor: the start of the session (time 0)

struct Wait {
    const char *wait;   // which wait ends
    std::string options;
    std::string content;   // the file sent, records of 5 bytes
    std::function<bool(Kind, int)> rule;
    Kind anchor_kind;           // the block the times count from ...
    int anchor_nth;             // ... its ordinal, or START
    std::vector<Event> after;   // every block after it, times from it
    int64_t ends_at;            // when the transfer gives up without a block (-1: not looked at)
    int result;
};

bool silent(Kind, int) { return true; }

// The transfer's end, with no block to show it: exec sleeps 100 ms behind
// the transfer, then drains the line for one tick at 9600 bit/s.
uint64_t transfer_end_ms() { return sim::now_ms() - sim::slept_ms() - TICK_MS; }

class SendTimeouts : public SimSession {
protected:
    std::string text(const std::string &content, const std::string &options)
    {
        tmp.write("DATA.TXT", content);
        return "-V +F5 " + options + " " + tmp.path("DATA.TXT");
    }
    // Runs one wait's session and compares the blocks after its anchor.
    void run(const Wait &w)
    {
        sim::reset();
        Terminal term;
        term.rule = w.rule;
        term.install();
        EXPECT_EQ(exec(text(w.content, w.options)), w.result);
        size_t at = 0;
        uint64_t from = 0;
        if (w.anchor_nth != START) {
            int nth = w.anchor_nth;
            while (at < term.log.size() && (term.log[at].kind != w.anchor_kind || nth-- > 0))
                ++at;
            ASSERT_LT(at, term.log.size());
            from = term.log[at++].at_ms;
        }
        ASSERT_EQ(term.log.size() - at, w.after.size());
        for (size_t i = 0; i < w.after.size(); ++i, ++at) {
            SCOPED_TRACE("block " + std::to_string(i) + " after the anchor");
            EXPECT_EQ(term.log[at].kind, w.after[i].kind);
            EXPECT_GE(term.log[at].at_ms - from, w.after[i].at_ms);
            EXPECT_LE(term.log[at].at_ms - from, w.after[i].at_ms + TICK_MS);
        }
        if (w.ends_at >= 0) {
            EXPECT_GE(transfer_end_ms() - from, static_cast<uint64_t>(w.ends_at));
            EXPECT_LE(transfer_end_ms() - from, static_cast<uint64_t>(w.ends_at) + TICK_MS);
        }
    }
};

}   // namespace

TEST_F(SendTimeouts, EveryWaitEndsOnTimeWithItsResult)
{
    const std::string one = "ABCDE\r\n", two = "ABCDE\r\nFGHIJ\r\n";
    const std::vector<Event> unanswered_frame = every(Kind::Enq, 500, 500, 29500) +
                                                every(Kind::Eot, 30000, 1, 30000);
    const Wait waits[] = {
        {"the answer to the enquiry, -L1", "-L1", one, silent, Kind::Enq, START,
         every(Kind::Enq, 0, 500, 500) + every(Kind::Eot, 1000, 1, 1000), -1, 52},
        {"the answer to the enquiry, by default", "", one, silent, Kind::Enq, START,
         every(Kind::Enq, 0, 500, 29500) + every(Kind::Eot, 30000, 1, 30000), -1, 52},
        {"the answer to the enquiry, -L3: a NAK does not restart the wait", "-L3", one,
         [](Kind k, int nth) {
             if (k == Kind::Enq && nth == 0)
                 sim::deliver(msg(0x15), 100);
             return true;
         },
         Kind::Enq, START, every(Kind::Enq, 0, 500, 2500) + every(Kind::Eot, 3000, 1, 3000), -1,
         52},
        {"the station bytes of the terminal's ACK, -L1", "-L1", one,
         [](Kind k, int nth) {
             if (k == Kind::Enq && nth == 0) {
                 const uint8_t dle_ack[] = {0x10, 0x06};
                 sim::deliver(dle_ack, 2, 100);
             }
             return true;
         },
         Kind::Enq, START, every(Kind::Enq, 0, 500, 500) + every(Kind::Eot, 1000, 1, 1000), -1, 52},
        {"the answer to the enquiry, -L0: asked every 500 ms for 100 s", "-L0", one,
         [](Kind k, int nth) { return k == Kind::Enq && nth < 200; }, Kind::Enq, START,
         every(Kind::Enq, 0, 500, 100000) + every(Kind::Header, 100001, 1, 100001) +
             every(Kind::Data, 100002, 1, 100002) + every(Kind::Eot, 100003, 1, 100003),
         -1, 0},
        {"the header's answer after a limitless connection wait", "-L0", one,
         [](Kind k, int nth) { return (k == Kind::Enq && nth != 200) || k == Kind::Header; },
         Kind::Header, 0, unanswered_frame, -1, 52},
        {"the header's answer", "", one,
         [](Kind k, int nth) { return k == Kind::Header || (k == Kind::Enq && nth > 0); },
         Kind::Header, 0, unanswered_frame, -1, 52},
        {"a record's answer", "", one,
         [](Kind k, int nth) { return k == Kind::Data || (k == Kind::Enq && nth > 0); }, Kind::Data,
         0, unanswered_frame, -1, 52},
        {"a later record's answer", "", two,
         [](Kind k, int nth) {
             return (k == Kind::Data && nth == 1) || (k == Kind::Enq && nth > 0);
         },
         Kind::Data, 1, unanswered_frame, -1, 52},
        {"the answer after a WACK: 60 s, no enquiries", "", one,
         [](Kind k, int nth) {
             if (k == Kind::Data && nth == 0)
                 sim::deliver(msg(0x3B), 1);
             return k == Kind::Data || (k == Kind::Enq && nth > 0);
         },
         Kind::Data, 0, every(Kind::Eot, 60001, 1, 60001), -1, 52},
        {"the answer after a WACK to a re-enquiry", "", one,
         [](Kind k, int nth) {
             if (k == Kind::Enq && nth == 1)
                 sim::deliver(msg(0x3B), 1);
             return k == Kind::Data || (k == Kind::Enq && nth > 0);
         },
         Kind::Data, 0, every(Kind::Enq, 500, 1, 500) + every(Kind::Eot, 60501, 1, 60501), -1, 52},
        {"the answer to the closing EOT: sent again every 500 ms, then given up", "", one,
         [](Kind k, int) { return k == Kind::Eot; }, Kind::Eot, 0,
         every(Kind::Eot, 500, 500, 29500), 30000, 52},
        {"the station bytes of the closing ACK", "", one,
         [](Kind k, int nth) {
             if (k == Kind::Eot && nth == 0) {
                 const uint8_t part[] = {0x10, 0x06, 0x00};
                 sim::deliver(part, 3, 100);
             }
             return k == Kind::Eot;
         },
         Kind::Eot, 0, every(Kind::Eot, 500, 500, 29500), 30000, 52},
        // The turnaround delay comes before every transmission; each wait
        // runs from the transmission.
        {"the answer to the enquiry, -L1, turnaround 20 ms", "-L1 -!20", one, silent, Kind::Enq,
         START, every(Kind::Enq, 20, 520, 540) + every(Kind::Eot, 1060, 1, 1060), -1, 52},
        {"the header's answer, turnaround 20 ms", "-!20", one,
         [](Kind k, int nth) { return k == Kind::Header || (k == Kind::Enq && nth > 0); },
         Kind::Header, 0,
         every(Kind::Enq, 520, 520, 59 * 520) + every(Kind::Eot, 60 * 520, 1, 60 * 520), -1, 52},
    };
    for (const Wait &w : waits) {
        SCOPED_TRACE(w.wait);
        run(w);
    }
}
