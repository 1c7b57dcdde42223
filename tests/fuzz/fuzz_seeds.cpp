// fuzz_seeds.cpp - writes the seed corpus of every fuzz target:
//   fuzz_seeds OUTDIR   ->  OUTDIR/<target>/seed-NN
// The seeds are the sessions and texts of the unit tests and the examples
// of the protocol, in each target's input format (see the targets).
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "link/wire.h"

namespace {

using Bytes = std::string;
const std::string ST("\0\0", 2);

Bytes ctrl(uint8_t code) { return Bytes{char(cDLE), char(code), 0, 0}; }

Bytes frame(uint8_t opening, const std::string &body)
{
    std::string span = body + char(cETX);
    uint16_t crc = crc16(reinterpret_cast<const uint8_t *>(span.data()), span.size());
    Bytes out{char(cDLE), char(opening)};
    for (char c : body) {
        out += c;
        if (uint8_t(c) == cDLE)
            out += c;
    }
    out += {char(cDLE), char(cETX), char(crc & 0xFF), char(crc >> 8)};
    return out;
}

std::string header(const std::string &name, int records, const std::string &layout)
{
    char count[8];
    std::snprintf(count, sizeof count, "%05d", records);
    std::string padded = name + std::string(12 - name.size(), ' ');
    return ST + padded + count + layout;
}

std::string data(int serial, const std::string &record)
{
    char sn[8];
    std::snprintf(sn, sizeof sn, "%05d", serial);
    return ST + sn + record;
}

// Chunks (gap, length, bytes); a frame longer than 255 bytes is split.
Bytes chunks(const std::vector<std::pair<int, Bytes>> &parts)
{
    Bytes out;
    for (const auto &p : parts) {
        size_t at = 0;
        int gap = p.first;
        do {
            size_t n = std::min<size_t>(255, p.second.size() - at);
            out += char(gap);
            out += char(n);
            out += p.second.substr(at, n);
            at += n;
            gap = 0;
        } while (at < p.second.size());
    }
    return out;
}

std::string root;

void put(const std::string &target, int n, const Bytes &bytes)
{
    std::string dir = root + "/" + target;
    ::mkdir(dir.c_str(), 0755);
    char name[32];
    std::snprintf(name, sizeof name, "/seed-%02d", n);
    if (std::FILE *f = std::fopen((dir + name).c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}

void receive_seeds()
{
    const std::string r1 = "ABCDEXYZ", r2 = "12345678", r3("abcde\x10yz", 8);
    auto three = [&](const std::string &name) {
        return std::vector<std::pair<int, Bytes>>{{0, ctrl(cENQ)},
                                                  {1, frame(cSOH, header(name, 3, "02005003"))},
                                                  {1, frame(cSTX, data(1, r1))},
                                                  {1, frame(cSTX, data(2, r2))},
                                                  {1, frame(cSTX, data(3, r3))},
                                                  {1, ctrl(cEOT)}};
    };
    put("receive", 0, char(0) + chunks(three("DATA.TXT")));
    put("receive", 1, char(1) + chunks(three("RECV.TXT")));
    put("receive", 2, char(2 | 4) + chunks(three("RECV.TXT")));
    put("receive", 3, char(8 | 16) + chunks(three("OTHER.TXT")));
    const std::string p1(128, 'P'), p2(127, 'Q');
    put("receive", 4,
        char(3) + chunks({{0, ctrl(cENQ)},
                          {1, frame(cSOH, header("RECV.PD3", 2, ""))},
                          {1, frame(cSTX, data(1, p1))},
                          {1, frame(cSTX, data(2, p2 + "\x10"))},
                          {1, ctrl(cEOT)}}));
    put("receive", 5,
        char(0) + chunks({{0, ctrl(cENQ)},
                          {1, frame(cSOH, header("EMPTY.TXT", 0, "0105"))},
                          {1, ctrl(cEOT)}}));
    // A lost ACK: the header and the last record repeated, an enquiry.
    put("receive", 6,
        char(0) + chunks({{0, ctrl(cENQ)},
                          {1, frame(cSOH, header("DATA.TXT", 2, "02005003"))},
                          {1, frame(cSOH, header("DATA.TXT", 2, "02005003"))},
                          {1, frame(cSTX, data(1, r1))},
                          {1, ctrl(cENQ)},
                          {1, frame(cSTX, data(1, r1))},
                          {1, frame(cSTX, data(2, r2))},
                          {1, frame(cSTX, data(2, r2))},
                          {1, ctrl(cEOT)}}));
    // A bad check value, then the frame again; a stall past the time-out.
    Bytes bad = frame(cSTX, data(1, r1));
    bad[bad.size() - 1] ^= 0x40;
    put("receive", 7,
        char(0) + chunks({{0, ctrl(cENQ)},
                          {1, frame(cSOH, header("DATA.TXT", 1, "02005003"))},
                          {1, bad},
                          {1, frame(cSTX, data(1, r1))},
                          {1, ctrl(cEOT)}}));
    put("receive", 8,
        char(16) + chunks({{0, ctrl(cENQ)},
                           {1, frame(cSOH, header("DATA.TXT", 1, "02005003"))},
                           {200, frame(cSTX, data(1, r1))}}));
    // The terminal ends early; a header with 16 fields of 14 bytes.
    put("receive", 9,
        char(0) + chunks({{0, ctrl(cENQ)},
                          {1, frame(cSOH, header("DATA.TXT", 3, "02005003"))},
                          {1, frame(cSTX, data(1, r1))},
                          {1, ctrl(cEOT)}}));
    std::string layout = "16";
    for (int i = 0; i < 16; ++i)
        layout += "014";
    put("receive", 10,
        char(0) + chunks({{0, ctrl(cENQ)},
                          {1, frame(cSOH, header("WIDE.TXT", 1, layout))},
                          {1, frame(cSTX, data(1, std::string(224, 'w')))},
                          {1, ctrl(cEOT)}}));
}

void send_seeds()
{
    const Bytes ack = ctrl(cACK), nak = ctrl(cNAK), eot = ctrl(cEOT), wack = ctrl(cWACK);
    auto answers = [](const std::vector<std::pair<int, Bytes>> &a) { return chunks(a); };
    for (int file = 0; file < 4; ++file) {
        std::vector<std::pair<int, Bytes>> all(8, {0, ack});
        put("send", file, char(file) + answers(all));
    }
    put("send", 4,
        char(4) + answers({{0, ack}, {0, ack}, {0, nak}, {0, ack}, {0, ack}, {0, ack}, {0, ack}}));
    put("send", 5,
        char(0) + answers({{0, ack}, {0, ack}, {0, wack}, {8, ack}, {0, ack}, {0, ack}, {0, ack}}));
    put("send", 6, char(0) + answers({{0, ack}, {0, ack}, {0, eot}}));
    put("send", 7, char(8) + answers({{0, ack}, {0, ack}, {12, ack}, {0, ack}}));
    Bytes other{char(cDLE), char(cACK), 0x12, 0x34};
    put("send", 8,
        char(1) + answers({{0, other}, {0, ack}, {0, ack}, {0, ack}, {0, ack}, {0, ack}}));
}

void command_seeds()
{
    const char *texts[] = {"-P2 -B19200 DATA.TXT",
                           "+F5,3 DATA.TXT",
                           "-P1 +V2 -L60 PROG.PD3",
                           "-P3 -B19200 -L0 \"my dir/DATA.TXT\"",
                           "+R (file)",
                           "+R C:\\DATA\\(file)",
                           "+T',' +R DATA.TXT",
                           "+Iplugin.dll -P1 DATA.TXT",
                           "-X10 -Y20 -#5 -!10 +A +N +C DATA.TXT",
                           "+F8,10,4 STOCK.TXT",
                           "-V +R +A +N RECV.TXT",
                           "+F254 DATA.TXT",
                           "-B9600 +V0 DATA.FLD",
                           "+R -P1 -B38400 -L30 -!50 -#65535 x/y/(file)",
                           "+T'\\t' +R \"a b.txt\""};
    int n = 0;
    for (const char *t : texts)
        put("command", n++, t);
}

void fieldfile_seeds()
{
    const char *files[] = {"FIELDS 5 3\r\n",
                           "* layout\nfile STOCK.TXT\nfields 8 10 4\n",
                           "file\tDATA.TXT\r\nsize\t30\r\nrecords\t3\r\nfields\t5 3\r\n",
                           "FILE OTHER.TXT\r\nFIELDS 1\r\nFILE DATA.TXT\r\nFIELD 2 2 2\r\n",
                           "fields 14 14 14 14 14 14 14 14 14 14 14 14 14 14 14 14\r\n",
                           "fields 254\r",
                           "FIELDS\r\n"};
    int n = 0;
    for (int which = 0; which < 4; ++which)
        for (const char *f : files)
            put("fieldfile", n++, char(which) + std::string(f));
}

void packet_seeds()
{
    auto stored = [](const std::string &body) {
        std::string s = body + char(cETX);
        uint16_t crc = crc16(reinterpret_cast<const uint8_t *>(s.data()), s.size());
        return s + char(crc & 0xFF) + char(crc >> 8);
    };
    auto pkt = [](const std::string &b) { return char(b.size()) + b; };
    put("packets", 0,
        char(0) + pkt(stored(header("DATA.TXT", 2, "02005003"))) +
            pkt(stored(data(1, "ABCDEXYZ"))) + pkt(stored(data(1, "ABCDEXYZ"))) +
            pkt(stored(data(2, "12345678"))));
    put("packets", 1,
        char(2) + pkt(stored(header("RECV.PD3", 1, ""))) +
            pkt(stored(data(1, std::string(128, 'p')))));
    put("packets", 2,
        char(4 | 8 | 1) + pkt(stored(header("RECV.TXT", 1, "0105"))) +
            pkt(stored(data(1, "abcde"))));
    put("packets", 3, char(0) + pkt(stored(header("EMPTY.TXT", 0, "0105"))));
}

// Server openings, replies (a speed with 0xFF in it among them), data
// with doubled IACs and the malformed subnegotiations of the unit tests.
void telnet_seeds()
{
    const std::string iac(1, char(255));
    const std::string sb = iac + char(250) + char(44), se = iac + char(240);
    put("telnet", 0,
        char(1) + iac + char(253) + char(44) + iac + char(251) + char(0) + sb + char(101) +
            std::string("\0\0K\0", 4) + se + sb + char(102) + char(8) + se);
    put("telnet", 1,
        char(1 | 6 << 1) + std::string("\x10\x02") + iac + iac + "AB" + iac + iac + "\r\n" + sb +
            char(101) + char(0) + char(1) + iac + iac + char(0) + se);
    put("telnet", 2,
        char(0) + iac + char(251) + char(1) + iac + char(253) + char(24) + "\r" +
            std::string(1, '\0') + "x");
    put("telnet", 3,
        char(1) + sb + char(101) + std::string(40, 'A') + se + sb + char(102) + iac + char(251) +
            char(1) + iac + char(7) + "Z");
}

// Rules, station, buffer and expected sizes, then items (see the target).
void frame_reader_seeds()
{
    const Bytes receiver_data = {char(0x02), 0, char(0x10 | 0x08 | 0x20 | 0x40 | 0x80),
                                 char(0x10 | 0x08)};
    const Bytes sender_answers = {0, char(0x01 | 0x02),
                                  char(0x08 | 0x10 | 0x20 | 0x40 | char(0x80)),
                                  char(0x08 | 0x20 | 0x40 | char(0x80))};
    auto item_frame = [](bool stx, const std::string &body) {
        return char(1 | (stx ? 4 : 0)) + std::string(1, char(body.size())) + body;
    };
    auto item_msg = [](uint8_t code) { return Bytes{char(2 | 4), char(code)}; };
    auto garbage = [](const Bytes &b) { return char(0) + std::string(1, char(b.size())) + b; };
    const std::string rec = data(1, std::string("AB\x10"
                                                "DE\x10\x10Z",
                                                8));
    // A data phase: stray bytes, a record with DLEs, an enquiry, the EOT.
    put("frame_reader", 0,
        receiver_data + Bytes{0, 0, char(200), 0, char((rec.size() + 3) / 2)} +
            garbage("\x10\x10\x05xy") + item_frame(true, rec) + item_msg(cENQ) + item_msg(cEOT));
    // The sender's wait: a frame passed over, an ACK, a WACK.
    put("frame_reader", 1,
        sender_answers + Bytes{0, 0, 0, 0, 0} + item_frame(false, header("DATA.TXT", 1, "0108")) +
            item_msg(cACK) + item_msg(cWACK));
    // A frame longer than the buffer, then new rules and a message of
    // another station.
    put("frame_reader", 2,
        receiver_data + Bytes{0, 0, 4, 0, 0} + item_frame(true, data(2, std::string(40, 'q'))) +
            Bytes{3} + sender_answers + Bytes{2, char(cACK), 0, 1});
}

}   // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds OUTDIR\n");
        return 2;
    }
    root = argv[1];
    ::mkdir(root.c_str(), 0755);
    receive_seeds();
    send_seeds();
    command_seeds();
    fieldfile_seeds();
    packet_seeds();
    telnet_seeds();
    frame_reader_seeds();
    return 0;
}
