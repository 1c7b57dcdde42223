// fuzz_send.cpp - a sending session on the simulated line; the fuzz input
// is the terminal's answers.
//
// Option byte: bits 0-1 the file (data file with widths +F5,3; the same
// with its widths from DATA.FLD; a .PD3 program file; an empty data file),
// bit 2 fixed-length records (+C), bit 3 a 2-second time-out (-L2).
// Then chunks as in line_script.h, except that each chunk is put on the
// line when the library writes its next block, gap steps after it.
//
// Invariants: the result is a sending code; the session ends within its
// time-outs after the last answer; nothing stays open; the file sent is
// unchanged; every frame written is well formed and carries the file's
// record for its serial number; a result 0 means every record and the
// closing EOT went out.
#include <algorithm>
#include <string>
#include <vector>

#include "frame_oracle.h"
#include "line_script.h"
#include "orv5w32.h"

using namespace fuzz;

namespace {

// Longest wait of a sending session after the terminal's last byte: a
// WACK's 60 s, or the time-out of -L, plus slack for the closing steps.
constexpr uint64_t WACK_WAIT_MS = 60000;
constexpr uint64_t END_SLACK_MS = 10000;

struct FileSpec {
    const char *name, *options;
    std::vector<std::string> records;   // exactly the record length each
};

const std::string PD3_A(128, 'A'), PD3_B(127, 'B');

const FileSpec FILES[4] = {
    {"DATA.TXT",
     "+F5,3",
     {"ABCDEXYZ", "12345678",
      std::string("ab\x10"
                  "de\x10yz",
                  8)}},
    {"DATA.TXT", "", {"ABCDEXYZ", std::string("\x10\x10\x10\x10\x10\x10\x10\x10", 8)}},
    {"PROG.PD3", "", {PD3_A, PD3_B + "\x10"}},
    {"DATA.TXT", "+F5,3", {}},
};

std::string content_of(const FileSpec &f)
{
    std::string c;
    for (const std::string &r : f.records)
        c += r + "\r\n";
    return c;
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string &dir = scratch_dir();
    clear_dir(dir);
    Input in(data, size);
    const uint8_t opt = in.byte();
    const FileSpec &file = FILES[opt & 3];
    const bool fixed = opt & 4;
    const uint32_t timeout_s = opt & 8 ? 2 : 30;
    const std::string content = content_of(file);
    write_file(dir + file.name, content);
    write_file(dir + "DATA.FLD", "FIELDS 5 3\r\n");
    const int fds_before = open_descriptors();

    sim::reset();
    uint64_t limit = 0;
    auto raise_limit = [&](uint64_t t) {
        limit = std::max(limit,
                         t + std::max<uint64_t>(WACK_WAIT_MS, timeout_s * 1000ull) + END_SLACK_MS);
    };
    raise_limit(0);
    std::vector<Bytes> frames;
    bool eot_last = false;
    sim::set_peer([&](const uint8_t *b, size_t n) {
        if (n >= 2 && b[0] == cDLE && (b[1] == cSOH || b[1] == cSTX))
            frames.emplace_back(b, b + n);
        eot_last = n == 4 && b[0] == cDLE && b[1] == cEOT;
        if (in.left() == 0)
            return;
        uint64_t t = sim::now_ms() + static_cast<uint64_t>(in.byte()) * GAP_STEP_MS;
        size_t got = 0;
        const uint8_t *p = in.take(in.byte(), &got);
        for (size_t i = 0; i < got; ++i, t += BYTE_SPACING_MS)
            sim::deliver(p + i, 1, static_cast<uint32_t>(t - sim::now_ms()));
        raise_limit(t);
    });
    sim::on_pump([&] {
        if (sim::now_ms() > limit)
            broken("session did not end within its time-outs", std::to_string(sim::now_ms()));
    });

    std::string text = std::string("-V -!0 -L") + std::to_string(timeout_s) +
                       (fixed ? " +C " : " ") + file.options + " " + dir + file.name;
    char name[ORV5_NAME_BUF_SIZE] = "";
    const int rc = ExecOrv5(nullptr, text.c_str(), name);
    sim::on_pump(nullptr);
    sim::set_peer(nullptr);

    require(sending_code(rc), "result is no sending code", std::to_string(rc));
    require(!sim::port_is_open(), "port left open");
    require(sim::fs_counts().open_files == 0, "file left open");
    require(open_descriptors() == fds_before, "descriptor left open");
    std::string after;
    require(read_file(dir + file.name, &after) && after == content, "file sent was changed");

    std::vector<bool> sent(file.records.size() + 1, false);
    for (const Bytes &f : frames) {
        Stored st;
        require(decode_frame(f, 0, f.size(), &st), "frame written is not well formed");
        if (f[1] == cSOH)
            continue;
        require(st.size() >= RECORD_AT + TRAILER_LEN, "data frame too short");
        int serial = serial_of(st.data() + STATION_LEN);
        require(serial >= 1 && static_cast<size_t>(serial) <= file.records.size(),
                "serial out of range");
        std::string record(st.begin() + RECORD_AT, st.end() - TRAILER_LEN);
        require(record == file.records[static_cast<size_t>(serial - 1)],
                "record sent differs from the file", std::to_string(serial));
        sent[static_cast<size_t>(serial)] = true;
    }
    if (rc == ORV5_OK) {
        require(std::count(sent.begin() + 1, sent.end(), true) ==
                    static_cast<long>(file.records.size()),
                "result 0 without every record sent");
        require(eot_last, "result 0 without the closing EOT");
    }
    return 0;
}
