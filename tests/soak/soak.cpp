// soak.cpp - many whole sessions in both directions on the simulated line
// with random faults, and the promises checked after every one.
//
//   orv5_soak [--sessions N] [--seed S] [--dir DIR] [--verbose]
//
// Each session picks a direction (they alternate), one fault kind and, when
// receiving, whether the destination exists and whether +A appends.  The
// terminal is the simulator's model (TerminalModel when the PC sends,
// SenderModel when it receives) on the virtual line; line faults act on
// the bytes in both directions, file faults through the simulated file
// layer.  After the session:
//   - result 0: the data arrived byte for byte (received file = records
//     sent, old content first with +A; the terminal's records = the file);
//   - a file that existed is unchanged, or holds exactly the new content
//     (the last record was acknowledged, so the terminal was told);
//   - no temporary file in the folder; no descriptor, open file or port
//     left over (LeakSanitizer sees the heap in the sanitizer build);
//   - the session ended within the bound its time-outs give.
// Prints a table per fault kind and per result code, and every violation
// with the seed that repeats it (--seed S --sessions 1).  Exit status 1
// when any invariant was broken.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "link/wire.h"
#include "orv5w32.h"
#include "platform/sim/sim.h"
#include "zdxsim/sender_model.h"
#include "zdxsim/terminal_model.h"
#include "../support/scratch_files.h"

namespace {

using Bytes = std::vector<uint8_t>;

enum Fault {
    F_NONE,
    F_BIT_ERRORS,
    F_DROP,
    F_DUPLICATE,
    F_INSERT,
    F_STALL,
    F_ABORT,
    F_WRITE,
    F_FLUSH,
    F_CLOSE,
    F_RENAME,
    F_DISK_FULL,
    F_COUNT
};
const char *const FAULT_NAMES[F_COUNT] = {
    "none",           "bit errors",       "dropped bytes", "duplicated bytes",
    "inserted bytes", "stall > time-out", "abort",         "write fails",
    "flush fails",    "close fails",      "rename fails",  "disk full"};

// Records per file: small files keep a session short; 0 tests the empty file.
constexpr int MAX_RECORDS = 12;
// Record layout of the data files: fields of 5 and 3 bytes.
constexpr int RECORD_LEN = 8;
// A stall is longer than the 30 s answer wait.
constexpr uint32_t STALL_MIN_MS = 31000, STALL_MAX_MS = 90000;
// Time-out bounds (ms): per frame at most NAK_LIMIT tries, each waiting at
// most one answer wait (30 s receiving, 60 s after a WACK sending), plus
// stalls; the connection and closing phases count as frames.
constexpr uint64_t FRAME_TRIES = 11;
constexpr uint64_t RX_TRY_MS = 31000, TX_TRY_MS = 61000;
constexpr uint64_t BOUND_SLACK_MS = 120000;

struct Stats {
    long sessions = 0;
    long per_fault[F_COUNT] = {};
    long per_fault_ok[F_COUNT] = {};
    std::map<int, long> per_code_rx, per_code_tx;
    // Receiving sessions by destination: [existing file][append mode].
    long per_dest[2][2] = {};
    long per_dest_ok[2][2] = {};
    long committed_then_failed = 0;   // file in place, session reported a failure
    long crc_collision = 0;           // wrong data accepted: only a CRC collision explains it
    long violations = 0;
    uint64_t max_virtual_ms = 0;
};

using scratch::list_dir;
using scratch::open_descriptors;
using scratch::read_file;
using scratch::write_file;

// The line between PC and terminal, with this session's byte faults.
struct Line {
    std::mt19937_64 &rng;
    Fault fault;
    double rate;    // per byte, for the byte faults
    int stall_at;   // the terminal's output that is held back (-1 none)
    uint32_t stall_ms;
    int outputs = 0;
    bool corrupted = false;   // a bit error was applied

    bool chance() { return std::uniform_real_distribution<double>(0, 1)(rng) < rate; }

    Bytes pass(const uint8_t *b, size_t n)
    {
        Bytes out;
        for (size_t i = 0; i < n; ++i) {
            uint8_t c = b[i];
            switch (fault) {
            case F_BIT_ERRORS:
                if (chance()) {
                    c ^= static_cast<uint8_t>(1u << (rng() % 8));
                    corrupted = true;
                }
                out.push_back(c);
                break;
            case F_DROP:
                if (!chance())
                    out.push_back(c);
                break;
            case F_DUPLICATE:
                out.push_back(c);
                if (chance())
                    out.push_back(c);
                break;
            case F_INSERT:
                if (chance())
                    out.push_back(static_cast<uint8_t>(rng()));
                out.push_back(c);
                break;
            default: out.push_back(c);
            }
        }
        return out;
    }

    // A terminal output onto the line towards the PC.
    void to_pc(const uint8_t *b, size_t n, uint32_t delay_ms)
    {
        if (outputs++ == stall_at)
            delay_ms += stall_ms;
        Bytes out = pass(b, n);
        if (!out.empty())
            sim::deliver(out.data(), out.size(), delay_ms, false);
    }
};

// The data file's records: random bytes except CR, LF and Ctrl-Z, DLE often.
std::vector<std::string> make_records(std::mt19937_64 &rng, int count)
{
    std::vector<std::string> recs;
    for (int i = 0; i < count; ++i) {
        std::string r;
        for (int j = 0; j < RECORD_LEN; ++j) {
            uint8_t c;
            do
                c = rng() % 4 == 0 ? cDLE : static_cast<uint8_t>(rng());
            while (c == '\r' || c == '\n' || c == 0x1A);
            r += static_cast<char>(c);
        }
        recs.push_back(r);
    }
    return recs;
}

std::string lines_of(const std::vector<std::string> &recs)
{
    std::string s;
    for (const std::string &r : recs)
        s += r + "\r\n";
    return s;
}

struct Source : zdxsim::RecordSource {
    const std::vector<std::string> *recs;
    bool record(int serial, uint8_t *out, int len) override
    {
        if (serial < 1 || serial > static_cast<int>(recs->size()) || len != RECORD_LEN)
            return false;
        std::memcpy(out, (*recs)[static_cast<size_t>(serial - 1)].data(), RECORD_LEN);
        return true;
    }
};

struct Sink : zdxsim::RecordSink {
    std::vector<std::string> got;
    bool full = false;
    void on_header(const zdxsim::TerminalHeader &) override {}
    bool on_record(int, const uint8_t *bytes, int len) override
    {
        got.emplace_back(reinterpret_cast<const char *>(bytes), static_cast<size_t>(len));
        return true;
    }
};

// File faults at a random call of that kind.
void plan_file_fault(Fault f, std::mt19937_64 &rng, int records)
{
    sim::FsFaults &ff = sim::fs_faults();
    auto pick = [&](int n) { return 1 + static_cast<int>(rng() % static_cast<uint64_t>(n)); };
    switch (f) {
    case F_WRITE: ff.write_fails_at = pick(records + 3); break;
    case F_FLUSH: ff.sync_fails_at = pick(2); break;
    case F_CLOSE: ff.close_fails_at = pick(4); break;
    case F_RENAME: ff.replace_fails_at = pick(2); break;
    case F_DISK_FULL:
        ff.full_after_bytes = static_cast<int64_t>(rng() % ((records + 2) * 10 + 60));
        break;
    default: break;
    }
}

class Soak {
public:
    Soak(const std::string &dir, bool verbose) : dir_(dir), verbose_(verbose) {}
    Stats stats;

    void run(uint64_t seed)
    {
        std::mt19937_64 rng(seed);
        const bool receiving = seed % 2 == 1;
        // The file faults act on the received file; a sending session reads
        // its file through the C library, which the simulated layer does not
        // cover, so it gets the line faults and aborts only.
        Fault fault = static_cast<Fault>(rng() % (receiving ? F_COUNT : F_WRITE));
        Line line{rng, fault, 0, -1, 0};
        line.rate = fault >= F_BIT_ERRORS && fault <= F_INSERT ? 1.0 / (50 + rng() % 2000) : 0;
        if (fault == F_STALL) {
            line.stall_at = static_cast<int>(rng() % 8);
            line.stall_ms = STALL_MIN_MS +
                            static_cast<uint32_t>(rng() % (STALL_MAX_MS - STALL_MIN_MS));
        }
        const int records = static_cast<int>(rng() % (MAX_RECORDS + 1));
        const std::vector<std::string> recs = make_records(rng, records);

        for (const std::string &f : list_dir(dir_))
            ::unlink((dir_ + f).c_str());
        sim::reset();
        if (fault == F_ABORT) {
            // At a random pass of the message pump: any moment of the session.
            long at = 1 + static_cast<long>(rng() % static_cast<uint64_t>((records + 2) * 60));
            sim::on_pump([at, n = 0L]() mutable {
                if (++n == at)
                    AbortOrv5();
            });
        }
        plan_file_fault(fault, rng, records);
        const int fds = open_descriptors();
        Outcome o = receiving ? receive(rng, line, recs) : send(rng, line, recs);
        sim::reset();   // no scheduled action outlives the session's objects

        ++stats.sessions;
        ++stats.per_fault[fault];
        stats.per_fault_ok[fault] += o.rc == ORV5_OK;
        ++(receiving ? stats.per_code_rx : stats.per_code_tx)[o.rc];
        if (receiving) {
            ++stats.per_dest[o.existing][o.append];
            stats.per_dest_ok[o.existing][o.append] += o.rc == ORV5_OK;
        }
        if (o.end_ms > stats.max_virtual_ms)
            stats.max_virtual_ms = o.end_ms;
        if (open_descriptors() != fds)
            o.problems.push_back("descriptor left open");
        for (const std::string &p : o.problems) {
            if (p.rfind("crc-collision", 0) == 0) {
                ++stats.crc_collision;
                continue;
            }
            ++stats.violations;
            std::printf("VIOLATION seed %llu (%s, %s, %d records): %s [rc %d]\n",
                        static_cast<unsigned long long>(seed), receiving ? "receiving" : "sending",
                        FAULT_NAMES[fault], records, p.c_str(), o.rc);
        }
        if (verbose_)
            std::printf("seed %llu %s %s records %d rc %d t %llu ms\n",
                        static_cast<unsigned long long>(seed), receiving ? "rx" : "tx",
                        FAULT_NAMES[fault], records, o.rc,
                        static_cast<unsigned long long>(o.end_ms));
    }

private:
    struct Outcome {
        int rc = -1;
        uint64_t end_ms = 0;
        bool existing = false, append = false;   // receiving: the destination
        std::vector<std::string> problems;
    };

    void common_checks(Outcome &o, uint64_t bound_ms)
    {
        if (sim::port_is_open())
            o.problems.push_back("port left open");
        if (sim::fs_counts().open_files != 0)
            o.problems.push_back("file left open");
        if (sim::libraries_loaded() != 0)
            o.problems.push_back("plug-in left loaded");
        if (o.end_ms > bound_ms)
            o.problems.push_back("session outlived its time-outs: " + std::to_string(o.end_ms) +
                                 " ms");
    }

    Outcome receive(std::mt19937_64 &rng, Line &line, const std::vector<std::string> &recs)
    {
        const bool existing = rng() % 2, append = rng() % 2;
        const std::string old = "OLD-A\r\nOLD-B\r\n";
        const std::string dest = existing || rng() % 2 ? "SOAK.TXT" : "(file)";
        if (existing)
            write_file(dir_ + "SOAK.TXT", old);

        Source src;
        src.recs = &recs;
        zdxsim::SenderConfig cfg;
        cfg.file = zdxsim::SendFile{};
        std::snprintf(cfg.file.name, sizeof cfg.file.name, "SOAK.TXT");
        cfg.file.file_type = 0;
        cfg.file.fields = 2;
        cfg.file.widths[0] = 5;
        cfg.file.widths[1] = 3;
        cfg.file.record_length = RECORD_LEN;
        cfg.file.records = static_cast<int>(recs.size());
        cfg.connect_tries = 20;
        zdxsim::SenderModel term(cfg, &src);

        uint64_t generation = 0;
        std::function<void()> take_outputs;
        auto arm_wait = [&] {
            uint64_t g = ++generation;
            uint32_t w = term.wait_ms();
            if (w == 0)
                return;
            sim::at(sim::now_ms() + w, [&, g] {
                if (g != generation || term.finished())
                    return;
                term.timeout();
                take_outputs();
            });
        };
        take_outputs = [&] {
            zdxsim::SenderOutput out;
            uint32_t delay = 0;
            while (term.next_output(&out)) {
                delay += out.delay_ms;
                line.to_pc(out.bytes, static_cast<size_t>(out.len), delay);
            }
            arm_wait();
        };
        sim::set_peer([&](const uint8_t *b, size_t n) {
            Bytes got = line.pass(b, n);
            term.feed(got.data(), static_cast<int>(got.size()));
            take_outputs();
        });
        sim::at(5, [&] { take_outputs(); });

        char name[ORV5_NAME_BUF_SIZE] = "";
        std::string text = std::string("-V") + (append ? " +A" : "") + " +R " + dir_ + dest;
        Outcome o;
        o.existing = existing;
        o.append = append;
        o.rc = ExecOrv5(nullptr, text.c_str(), name);
        o.end_ms = sim::now_ms();
        common_checks(o,
                      (recs.size() + 3) * FRAME_TRIES * RX_TRY_MS + line.stall_ms + BOUND_SLACK_MS);

        switch (o.rc) {
        case ORV5_OK:
        case ORV5_E_RX_TIMEOUT:
        case ORV5_E_RX_NAK_LIMIT:
        case ORV5_E_TERMINAL_EOT:
        case ORV5_E_FILE_IO:
        case ORV5_E_DISK_FULL:
        case ORV5_E_ABORTED:
        case ORV5_E_BAD_HEADER: break;
        default: o.problems.push_back("result is no receiving code");
        }
        const std::string fresh = lines_of(recs);
        const std::string want = existing && append ? old + fresh : fresh;
        std::string now;
        const bool present = read_file(dir_ + "SOAK.TXT", &now);
        const bool in_place = present && now == want;
        if (o.rc == ORV5_OK && !in_place)
            o.problems.push_back(line.corrupted && present ? "crc-collision"
                                                           : "result 0 but the file differs");
        if (o.rc != ORV5_OK && present && !in_place && !(existing && now == old))
            o.problems.push_back("file damaged by a failed session");
        if (o.rc != ORV5_OK && in_place && !(existing && now == old))
            ++stats.committed_then_failed;
        for (const std::string &f : list_dir(dir_))
            if (f != "SOAK.TXT" && f != "SOAK.FLD")
                o.problems.push_back("file left in the folder: " + f);
        return o;
    }

    Outcome send(std::mt19937_64 &rng, Line &line, const std::vector<std::string> &recs)
    {
        const std::string content = lines_of(recs);
        write_file(dir_ + "SOAK.TXT", content);
        zdxsim::TerminalConfig cfg;
        cfg.answer_delay_ms = static_cast<uint32_t>(rng() % 5);
        Sink sink;
        zdxsim::TerminalModel term(cfg, &sink);
        sim::set_peer([&](const uint8_t *b, size_t n) {
            Bytes got = line.pass(b, n);
            if (verbose_)
                trace("PC ", sim::now_ms(), got);
            term.feed(got.data(), static_cast<int>(got.size()));
            zdxsim::TerminalReply r;
            while (term.next_reply(&r)) {
                if (verbose_)
                    trace("TRM", sim::now_ms() + r.delay_ms, Bytes(r.bytes, r.bytes + r.len));
                line.to_pc(r.bytes, static_cast<size_t>(r.len), r.delay_ms);
            }
        });

        char name[ORV5_NAME_BUF_SIZE] = "";
        std::string text = "-V +F5,3 " + dir_ + "SOAK.TXT";
        Outcome o;
        o.rc = ExecOrv5(nullptr, text.c_str(), name);
        o.end_ms = sim::now_ms();
        common_checks(o,
                      (recs.size() + 3) * FRAME_TRIES * TX_TRY_MS + line.stall_ms + BOUND_SLACK_MS);

        switch (o.rc) {
        case ORV5_OK:
        case ORV5_E_TX_TIMEOUT:
        case ORV5_E_TX_NAK_LIMIT:
        case ORV5_E_TERMINAL_EOT:
        case ORV5_E_FILE_IO:
        case ORV5_E_ABORTED:
        case ORV5_E_SEND_FILE:
        case ORV5_E_TOO_MANY_RECORDS: break;
        default: o.problems.push_back("result is no sending code");
        }
        std::string after;
        if (!read_file(dir_ + "SOAK.TXT", &after) || after != content)
            o.problems.push_back("the file sent was changed");
        bool prefix = sink.got.size() <= recs.size();
        for (size_t i = 0; prefix && i < sink.got.size(); ++i)
            prefix = sink.got[i] == recs[i];
        if (!prefix)
            o.problems.push_back(line.corrupted ? "crc-collision"
                                                : "the terminal got other records");
        else if (o.rc == ORV5_OK && sink.got.size() != recs.size())
            o.problems.push_back("result 0 but records are missing at the terminal");
        for (const std::string &f : list_dir(dir_))
            if (f != "SOAK.TXT")
                o.problems.push_back("file left in the folder: " + f);
        return o;
    }

    static void trace(const char *who, uint64_t t, const Bytes &b)
    {
        std::printf("  %6llu %s", static_cast<unsigned long long>(t), who);
        for (size_t i = 0; i < b.size() && i < 40; ++i)
            std::printf(" %02x", b[i]);
        std::printf("%s\n", b.size() > 40 ? " ..." : "");
    }

    std::string dir_;
    bool verbose_;
};

void print_table(const Stats &s)
{
    std::printf("\nsessions: %ld\n\n| fault kind | sessions | result 0 |\n|---|---:|---:|\n",
                s.sessions);
    for (int f = 0; f < F_COUNT; ++f)
        std::printf("| %s | %ld | %ld |\n", FAULT_NAMES[f], s.per_fault[f], s.per_fault_ok[f]);
    std::printf("\n| receiving into | sessions | result 0 |\n|---|---:|---:|\n");
    for (int e = 0; e < 2; ++e)
        for (int a = 0; a < 2; ++a)
            std::printf("| %s, %s | %ld | %ld |\n", e ? "existing file" : "no file",
                        a ? "append (+A)" : "replace", s.per_dest[e][a], s.per_dest_ok[e][a]);
    std::printf("\n| result | receiving | sending |\n|---|---:|---:|\n");
    std::map<int, bool> codes;
    for (auto &p : s.per_code_rx)
        codes[p.first] = true;
    for (auto &p : s.per_code_tx)
        codes[p.first] = true;
    for (auto &p : codes) {
        auto rx = s.per_code_rx.find(p.first), tx = s.per_code_tx.find(p.first);
        std::printf("| %d %s | %ld | %ld |\n", p.first, orv5_result_message(p.first),
                    rx == s.per_code_rx.end() ? 0 : rx->second,
                    tx == s.per_code_tx.end() ? 0 : tx->second);
    }
    std::printf("\ninvariant violations: %ld\n", s.violations);
    std::printf("wrong data accepted (CRC-16 collision the only explanation): %ld\n",
                s.crc_collision);
    std::printf("file in place, then the session failed (last record acknowledged): %ld\n",
                s.committed_then_failed);
    std::printf("longest session: %.1f s virtual time\n", s.max_virtual_ms / 1000.0);
}

}   // namespace

int main(int argc, char **argv)
{
    long sessions = 1000;
    uint64_t seed = 1;
    std::string dir;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--sessions" && i + 1 < argc)
            sessions = std::atol(argv[++i]);
        else if (a == "--seed" && i + 1 < argc)
            seed = std::strtoull(argv[++i], nullptr, 10);
        else if (a == "--dir" && i + 1 < argc)
            dir = argv[++i];
        else if (a == "--verbose")
            verbose = true;
        else {
            std::fprintf(stderr,
                         "usage: orv5_soak [--sessions N] [--seed S] [--dir DIR] [--verbose]\n");
            return 2;
        }
    }
    std::string made;
    if (dir.empty()) {
        char tmpl[] = "/tmp/orv5soak.XXXXXX";
        if (!::mkdtemp(tmpl))
            return 2;
        dir = made = tmpl;
    }
    if (dir.back() != '/')
        dir += '/';
    Soak soak(dir, verbose);
    for (long i = 0; i < sessions; ++i) {
        soak.run(seed + static_cast<uint64_t>(i));
        if (!verbose && (i + 1) % 10000 == 0) {
            std::fprintf(stderr, "%ld sessions, %ld violations\n", i + 1, soak.stats.violations);
        }
    }
    print_table(soak.stats);
    if (!made.empty()) {
        for (const std::string &f : list_dir(dir))
            ::unlink((dir + f).c_str());
        ::rmdir(made.c_str());
    }
    return soak.stats.violations == 0 ? 0 : 1;
}
