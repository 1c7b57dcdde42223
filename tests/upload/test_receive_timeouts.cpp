// When each wait of the receiving side ends: every time-out fires at its
// nominal time, within one tick of the session timer, with its result.
#include <functional>
#include <string>
#include <vector>

#include "runtime/timer.h"
#include "sim_session.h"
#include "upload/rx_terminal.h"

using namespace simtest;
using rxterm::Terminal;

namespace {

constexpr uint32_t REPLY_WAIT_MS = 30000;   // from the PC's last answer

// The first bytes of a frame, cut off: the rest never comes.
Bytes cut(const Bytes &frame, size_t keep) { return Bytes(frame.begin(), frame.begin() + keep); }

Bytes bad_check(Bytes frame)
{
    frame.back() ^= 0x01;
    return frame;
}

struct Wait {
    const char *wait;   // which wait ends
    std::string options;
    std::function<void(Terminal &)> terminal;
    int answers_before;    // the PC's answers before the time-out's EOT
    uint32_t nominal_ms;   // from the last of them (none: from the start)
    int result;
    uint64_t first_answer_ms = 0;   // when the first answer goes out (0: not looked at)
};

// Terminal behaviours.
void silent(Terminal &) {}
void enquiry_only(Terminal &t) { t.script = {msg(0x05)}; }
void script_of(Terminal &t, std::vector<std::string> records, size_t steps)
{
    t.script = rxterm::data_file_script(records);
    t.script.resize(steps);
}

class ReceiveTimeouts : public SimSession {
protected:
    // Runs one wait's session; the time-out's EOT must come nominal_ms
    // after the PC's last answer before it.
    void run(const Wait &w)
    {
        sim::reset();
        Terminal term;
        w.terminal(term);
        term.install();
        EXPECT_EQ(exec("-V " + w.options + " +R " + tmp.path("(file)")), w.result);
        ASSERT_EQ(term.answers.size(), static_cast<size_t>(w.answers_before + 1));
        EXPECT_EQ(kind_of(term.answers.back().data(), term.answers.back().size()), Kind::Eot);
        const uint64_t from = w.answers_before > 0 ? term.answer_ms[term.answers.size() - 2] : 0;
        const uint64_t waited = term.answer_ms.back() - from;
        EXPECT_GE(waited, w.nominal_ms);
        EXPECT_LE(waited, w.nominal_ms + TICK_MS);
        if (w.first_answer_ms != 0) {
            EXPECT_EQ(term.answer_ms.front(), w.first_answer_ms);
        }
    }
};

}   // namespace

TEST_F(ReceiveTimeouts, EveryWaitEndsOnTimeWithItsResult)
{
    const std::vector<std::string> one = {"AAAAABBB"}, two = {"AAAAABBB", "CCCCCDDD"};
    const Wait waits[] = {
        {"the terminal's enquiry, -L5", "-L5", silent, 0, 5000, 51},
        {"the terminal's enquiry, by default", "", silent, 0, 30000, 51},
        {"an enquiry cut short: its bytes do not restart the wait", "-L5",
         [](Terminal &t) {
             t.script = {Bytes{0x10, 0x05, 0x00}};
         },
         0, 5000, 51},
        {"the header after the enquiry's ACK", "", enquiry_only, 1, REPLY_WAIT_MS, 51},
        {"the header, even when -L is shorter", "-L5", enquiry_only, 1, REPLY_WAIT_MS, 51},
        {"the header after a limitless wait for the enquiry", "-L0",
         [](Terminal &t) {
             sim::at(100000, [] { sim::deliver(msg(0x05)); });
             t.script.clear();
         },
         1, REPLY_WAIT_MS, 51, 100000},
        {"the rest of a header begun 10 s after the ACK", "",
         [](Terminal &t) {
             script_of(t, {"AAAAABBB"}, 2);
             t.rule = [&t](Kind k, size_t step) {
                 if (k == Kind::Ack && step == 0)
                     sim::deliver(cut(t.script[1], 12), 10000);
                 return k == Kind::Ack && step == 0;
             };
         },
         1, REPLY_WAIT_MS, 51},
        {"the first record after the header's ACK", "",
         [one](Terminal &t) { script_of(t, one, 2); }, 2, REPLY_WAIT_MS, 51},
        {"the next record between records", "", [two](Terminal &t) { script_of(t, two, 3); }, 3,
         REPLY_WAIT_MS, 51},
        {"the rest of a record cut after a DLE", "",
         [two](Terminal &t) {
             script_of(t, two, 3);
             t.script[2] = Bytes{0x10, 0x02, 0, 0, '0', '0', '0', '0', '1', 'A', 0x10};
         },
         2, REPLY_WAIT_MS, 51},
        {"the record again after a NAK", "",
         [one](Terminal &t) {
             script_of(t, one, 3);
             t.script[2] = bad_check(t.script[2]);
             t.rule = [](Kind k, size_t) { return k == Kind::Nak; };
         },
         3, REPLY_WAIT_MS, 51},
        {"the closing EOT after the last record", "", [one](Terminal &t) { script_of(t, one, 3); },
         3, REPLY_WAIT_MS, 51},
        {"the terminal's EOT after a refused header", "",
         [](Terminal &t) {
             t.script = {msg(0x05),
                         rxterm::frame(0x01, rxterm::header_body("BAD NAME", 1, "01005"))};
             t.rule = [](Kind k, size_t) { return k == Kind::Eot; };
         },
         2, REPLY_WAIT_MS, 70},
        {"the terminal's EOT after the tenth NAK", "",
         [one](Terminal &t) {
             script_of(t, one, 3);
             t.script[2] = bad_check(t.script[2]);
             t.rule = [&t](Kind k, size_t) {
                 if (k == Kind::Nak && t.count(Kind::Nak) < 10)
                     t.send(2);
                 return k == Kind::Nak;
             };
         },
         12, REPLY_WAIT_MS, 53},
        {"the header after our NAK to an enquiry", "",
         [](Terminal &t) {
             t.script = {msg(0x05), msg(0x05)};   // the second names our station
             t.rule = [](Kind k, size_t) { return k == Kind::Nak; };
         },
         2, REPLY_WAIT_MS, 51},
        // The turnaround delay comes before every answer, the time-out's
        // EOT included; the wait itself runs from the answer.
        {"the header, turnaround 20 ms", "-!20", enquiry_only, 1, REPLY_WAIT_MS + 20, 51, 5 + 20},
        {"the terminal's enquiry, -L5, turnaround 20 ms", "-L5 -!20", silent, 0, 5000 + 20, 51},
    };
    for (const Wait &w : waits) {
        SCOPED_TRACE(w.wait);
        run(w);
    }
}
