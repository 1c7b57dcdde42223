// Receiving: runs of bad frames and frames out of their place, from a
// terminal that reacts to each answer of the PC as the test says.
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "link/wire.h"
#include "sim_session.h"
#include "upload/rx_terminal.h"

using namespace simtest;

namespace {

const std::string STATION("\0\0", 2);

// A frame as the terminal sends it, its check spoiled when asked.
Bytes frame(uint8_t opening, const std::string &body, bool spoil = false)
{
    Bytes out = rxterm::frame(opening, body);
    if (spoil) {   // a bit of each check byte turned
        out[out.size() - 2] ^= 0x01;
        out[out.size() - 1] ^= 0x01;
    }
    return out;
}

// Header of a data file of records of widths 5 and 3.
Bytes header(int records)
{
    char count[8];
    std::snprintf(count, sizeof count, "%05d", records);
    return frame(0x01, STATION + "DATA.TXT    " + count + "02005003");
}

Bytes record(int serial, const std::string &text, bool spoil = false)
{
    char sn[8];
    std::snprintf(sn, sizeof sn, "%05d", serial);
    return frame(0x02, STATION + sn + text, spoil);
}

class ReceiveRuns : public SimSession {
protected:
    std::vector<Kind> answers;   // every control message of the PC, in order
    // Called with the PC's answer and how many answers came before it.
    std::function<void(Kind, size_t)> terminal;

    int receive()
    {
        sim::set_peer([this](const uint8_t *b, size_t n) {
            Kind k = kind_of(b, n);
            size_t before = answers.size();
            answers.push_back(k);
            terminal(k, before);
        });
        sim::at(5, [] { sim::deliver(msg(0x05), 0); });
        return exec("-V +R " + tmp.path("DATA.TXT"));
    }
    std::string read_text(const std::string &name) const
    {
        std::ifstream f(tmp.path(name), std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }
    int count(Kind k) const
    {
        int n = 0;
        for (Kind a : answers)
            n += a == k;
        return n;
    }
};

}   // namespace

// Ten NAKs end the reception only when they come in a row: a good frame
// between them starts the count again.
TEST_F(ReceiveRuns, NaksCountOnlyInARow)
{
    const std::vector<std::string> records = {"AAAAABBB", "CCCCCDDD", "EEEEEFFF"};
    int sent = 0;           // records sent so far
    int spoiled_left = 0;   // spoiled copies still to send of the current record
    bool header_sent = false;
    terminal = [&](Kind k, size_t) {
        if (k == Kind::Nak) {
            bool spoil = --spoiled_left > 0;
            sim::deliver(record(sent, records[sent - 1], spoil), 1);
            return;
        }
        if (k != Kind::Ack)
            return;
        if (!header_sent) {
            header_sent = true;
            sim::deliver(header(3), 1);
        } else if (sent < 3) {
            ++sent;
            spoiled_left = 6;   // six bad copies, then the good one: six NAKs
            sim::deliver(record(sent, records[sent - 1], true), 1);
        } else if (sent == 3) {
            ++sent;
            sim::deliver(msg(0x04), 1);   // after the last record's ACK
        }
    };
    EXPECT_EQ(receive(), 0);
    EXPECT_EQ(count(Kind::Nak), 18);
    EXPECT_EQ(read_text("DATA.TXT"), "AAAAABBB\r\nCCCCCDDD\r\nEEEEEFFF\r\n");
}

// The header can come again only before the first record (its ACK was
// lost); once a record is in, a header is no part of the exchange and gets
// no answer, and the file goes on.
TEST_F(ReceiveRuns, AHeaderAfterTheFirstRecordIsNotAnswered)
{
    terminal = [&](Kind k, size_t before) {
        if (k != Kind::Ack)
            return;
        switch (before) {
        case 0: sim::deliver(header(2), 1); break;
        case 1: sim::deliver(record(1, "AAAAABBB"), 1); break;
        case 2:
            sim::deliver(header(2), 1);                 // out of place
            sim::deliver(record(2, "CCCCCDDD"), 200);   // the terminal goes on
            break;
        case 3: sim::deliver(msg(0x04), 1); break;
        default: break;
        }
    };
    EXPECT_EQ(receive(), 0);
    EXPECT_EQ(count(Kind::Ack), 5);   // enquiry, header, two records, EOT
    EXPECT_EQ(count(Kind::Nak), 0);
    EXPECT_EQ(read_text("DATA.TXT"), "AAAAABBB\r\nCCCCCDDD\r\n");
}
