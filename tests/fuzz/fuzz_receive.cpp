// fuzz_receive.cpp - a receiving session (+R) on the simulated line; the
// fuzz input is everything the terminal sends, with its timing.
//
// Option byte: bits 0-1 the destination ((file), RECV.TXT, RECV.TXT that
// exists, RECV.PD3 that exists), bit 2 append (+A), bit 3 name check (+N),
// bit 4 a 2-second first wait (-L2) instead of 30 s.
//
// Invariants: the result is a receiving code; the session ends within its
// time-outs after the last byte; nothing stays open; the folder holds no
// temporary file; a file that existed is unchanged unless the last record
// was acknowledged, and then (and after a result 0, which needs that) the
// destination holds exactly the records of the acknowledged frames.
#include <algorithm>
#include <string>

#include "frame_oracle.h"
#include "line_script.h"
#include "orv5w32.h"

using namespace fuzz;

namespace {

// Longest answer wait of a receiving session, ms (30 s), plus slack for
// the closing steps.
constexpr uint64_t REPLY_WAIT_MS = 30000;
constexpr uint64_t END_SLACK_MS = 5000;

const char OLD_CONTENT[] = "OLD01\r\nOLD02\r\n";

struct Setup {
    std::string dest;       // file argument
    std::string existing;   // a file there before, "" for none
    bool append, name_check;
    uint32_t first_wait_s;
};

Setup setup_of(uint8_t opt)
{
    static const char *const dests[] = {"(file)", "RECV.TXT", "RECV.TXT", "RECV.PD3"};
    Setup s;
    s.dest = dests[opt & 3];
    s.existing = (opt & 3) >= 2 ? s.dest : "";
    s.append = opt & 4;
    s.name_check = opt & 8;
    s.first_wait_s = opt & 16 ? 2 : 30;
    return s;
}

std::string fld_of(const std::string &name)
{
    size_t dot = name.rfind('.');
    return (dot == std::string::npos ? name : name.substr(0, dot)) + ".FLD";
}

bool is_program(const std::string &name)
{
    std::string ext = name.size() >= 4 ? name.substr(name.size() - 4) : "";
    return ext == ".PD3" || ext == ".EX3" || ext == ".FN3";
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string &dir = scratch_dir();
    clear_dir(dir);
    Input in(data, size);
    const Setup s = setup_of(in.byte());
    if (!s.existing.empty())
        write_file(dir + s.existing, OLD_CONTENT);
    const int fds_before = open_descriptors();

    sim::reset();
    std::vector<TimedByte> line = schedule_chunks(in);
    Bytes heard;
    for (const TimedByte &b : line)
        heard.push_back(b.byte);
    Expected expected;
    size_t last_answer = 0;
    sim::set_peer([&](const uint8_t *b, size_t n) {
        size_t now = arrived(line);
        if (n == 4 && b[0] == cDLE && b[1] == cACK)
            follow_ack(heard, last_answer, now, expected);
        last_answer = now;
    });
    const uint64_t wait_ms = std::max<uint64_t>(REPLY_WAIT_MS, s.first_wait_s * 1000ull);
    watch_for_hang(last_arrival(line) + wait_ms + END_SLACK_MS);

    std::string text = "-V -!0 -L" + std::to_string(s.first_wait_s) + (s.append ? " +A" : "") +
                       (s.name_check ? " +N" : "") + " +R " + dir + s.dest;
    char name[ORV5_NAME_BUF_SIZE] = "";
    const int rc = ExecOrv5(nullptr, text.c_str(), name);
    sim::on_pump(nullptr);

    require(receiving_code(rc), "result is no receiving code", std::to_string(rc));
    require(!sim::port_is_open(), "port left open");
    require(sim::fs_counts().open_files == 0, "file left open");
    require(open_descriptors() == fds_before, "descriptor left open");
    if (expected.ambiguous)
        return 0;
    require(rc != ORV5_OK || expected.complete(), "result 0 without the last record acknowledged");

    // The files the folder may hold.
    std::string target = s.dest == "(file)" ? std::string(name) : s.dest;
    std::vector<std::string> allowed;
    if (!s.existing.empty())
        allowed.push_back(s.existing);
    if (expected.complete() && !target.empty()) {
        allowed.push_back(target);
        if (!is_program(target))
            allowed.push_back(fld_of(target));
    }
    for (const std::string &f : list_dir(dir))
        require(std::find(allowed.begin(), allowed.end(), f) != allowed.end(),
                "unexpected file left in the folder", f + " rc " + std::to_string(rc));

    std::string content;
    if (!s.existing.empty() && !(expected.complete() && target == s.existing)) {
        require(read_file(dir + s.existing, &content) && content == OLD_CONTENT,
                "existing file changed by a failed reception", std::to_string(rc));
    }
    if (expected.complete()) {
        require(read_file(dir + target, &content), "received file missing", target);
        std::string want = expected.lines;
        if (target == s.existing && s.append && !is_program(target))
            want = OLD_CONTENT + want;
        require(content == want, "received file differs from the acknowledged records",
                target + " rc " + std::to_string(rc));
    }
    return 0;
}
