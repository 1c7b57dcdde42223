// zdxsim - a terminal on the other end of the line, for trying the PC side
// without hardware.  It receives files as a terminal does (terminal_model.h)
// or sends one (sender_model.h, send_role.h), optionally at the pace of a
// real line, and reports what happened.
#include <cstdio>
#include <cstring>

#include "send_role.h"
#include "sim_line.h"
#include "sim_options.h"
#include "sim_output.h"
#include "terminal_model.h"

namespace {

// Bits on the line per byte: start, 8 data, stop.
constexpr int64_t BITS_PER_BYTE = 10;
// Answers waiting for their moment; the model queues at most a few per
// frame, and the PC sends nothing new before it has its answer.
constexpr int PENDING_MAX = 64;
// Bytes taken from the line per read.
constexpr int READ_CHUNK = 4096;
// Before the line is closed, the PC must have read our last answer: a
// closed pseudo-terminal hangs up on it.  Bytes written reach its side a
// little later, so wait at least DRAIN_MIN_US, at most DRAIN_MAX_US, for
// its queue to be empty.
constexpr int64_t DRAIN_MIN_US = 200000;
constexpr int64_t DRAIN_MAX_US = 2000000;
// JSON summary line.
constexpr size_t SUMMARY_SIZE = 512;

struct Pending {
    int64_t due_ns;          // when the last byte is on the PC's side
    uint8_t bytes[zdxsim::REPLY_LEN];
    int len;
};

struct Server {
    Server(sim_line l, const SimOptions &o)
        : line(l), opt(o),
          byte_ns(o.baud ? BITS_PER_BYTE * 1000000000 / o.baud : 0) {}
    sim_line line;
    const SimOptions &opt;
    int64_t byte_ns;         // line time of one byte, ns; 0 = no pacing
    Pending pending[PENDING_MAX];
    int head = 0, count = 0;
    // Moments in ns of the monotonic clock: when the last byte received had
    // fully arrived, and when our side of the line is free again.
    int64_t rx_clock = 0;
    int64_t tx_free = 0;
    LineBytes bytes = {0, 0};     // of the current transfer

    void queue_answers(zdxsim::TerminalModel &model) {
        zdxsim::TerminalReply r;
        while (model.next_reply(&r)) {
            if (count == PENDING_MAX) continue;   // cannot happen; drop
            int64_t start = rx_clock + int64_t(r.delay_ms) * 1000000;
            if (start < tx_free) start = tx_free;
            Pending &p = pending[(head + count) % PENDING_MAX];
            p.due_ns = start + byte_ns * r.len;
            tx_free = p.due_ns;
            std::memcpy(p.bytes, r.bytes, size_t(r.len));
            p.len = r.len;
            ++count;
        }
    }

    // Writes the answers that are due; false on a line failure.
    bool flush_due(int64_t now_ns) {
        while (count > 0 && pending[head].due_ns <= now_ns) {
            if (!sim_line_write(line, pending[head].bytes, pending[head].len)) return false;
            bytes.sent += pending[head].len;
            head = (head + 1) % PENDING_MAX;
            --count;
        }
        return true;
    }
};

// Serves one transfer.  Returns 0 when it ended, 1 on silence, 2 when the
// line failed.
int serve_one(Server &srv, zdxsim::TerminalModel &model) {
    uint8_t buf[READ_CHUNK];
    const int64_t silence_us = int64_t(srv.opt.timeout_s) * 1000000;
    int64_t last_activity = sim_now_us();
    for (;;) {
        int64_t now = sim_now_us();
        if (!srv.flush_due(now * 1000)) return 2;
        if (model.finished() && srv.count == 0) return 0;
        int64_t deadline = srv.count > 0 ? (srv.pending[srv.head].due_ns + 999) / 1000
                                         : last_activity + silence_us;
        if (srv.count == 0 && now >= deadline) return 1;
        int n = sim_line_read(srv.line, buf, READ_CHUNK, deadline - now);
        if (n < 0) return 2;
        if (n == 0) continue;
        now = sim_now_us();
        last_activity = now;
        srv.bytes.received += n;
        for (int i = 0; i < n; ++i) {
            if (srv.rx_clock < now * 1000) srv.rx_clock = now * 1000;
            srv.rx_clock += srv.byte_ns;
            model.feed(buf[i]);
            srv.queue_answers(model);
        }
    }
}

void drain(sim_line line) {
    int64_t start = sim_now_us();
    for (int64_t now = start; now < start + DRAIN_MAX_US; now = sim_now_us()) {
        if (now >= start + DRAIN_MIN_US && sim_line_unread(line) == 0) return;
        sim_sleep_until_us(now + 1000);
    }
}

}  // namespace

int main(int argc, char **argv) {
    SimOptions opt;
    if (!parse_sim_options(argc, argv, &opt)) return 2;
    SendRole send;
    if (opt.send_mode && !prepare_send(opt, &send)) return 2;
    char path[256] = "";
    sim_line line = opt.pty ? sim_line_open_pty(path, sizeof path)
                            : sim_line_open_device(opt.device, opt.baud);
    if (line == SIM_LINE_INVALID) {
        std::fprintf(stderr, "zdxsim: cannot open %s\n",
                     opt.pty ? "a pseudo-terminal" : opt.device);
        return 2;
    }
    if (opt.pty) {
        std::printf("PTY %s\n", path);
        std::fflush(stdout);
    }
    if (opt.send_mode) {
        int rc = 0;
        for (int t = 0; t < opt.count && rc == 0; ++t)
            rc = run_send(line, opt, &send);
        if (rc != 2) drain(line);
        sim_line_close(line);
        return rc;
    }
    Server srv(line, opt);
    FileSink sink(opt.out_dir);
    zdxsim::TerminalModel model(opt.terminal, &sink);
    int rc = 0;
    for (int t = 0; t < opt.count && rc == 0; ++t) {
        if (t > 0) model.start_next();
        srv.bytes = LineBytes{0, 0};
        rc = serve_one(srv, model);
        sink.close();
        char json[SUMMARY_SIZE];
        format_summary(model.summary(), rc == 1, srv.bytes, json, sizeof json);
        std::printf("%s\n", json);
        std::fflush(stdout);
        if (opt.out_dir && !write_summary_file(opt.out_dir, json))
            std::fprintf(stderr, "zdxsim: cannot write the summary into %s\n", opt.out_dir);
        if (rc == 2) std::fprintf(stderr, "zdxsim: the line failed\n");
    }
    if (rc != 2) drain(line);
    sim_line_close(line);
    return rc;
}
