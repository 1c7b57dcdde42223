// zdxsim - a terminal on the other end of the line, for trying the PC side
// without hardware.  It receives files as a terminal does (terminal_model.h)
// or sends one (sender_model.h, send_role.h), optionally at the pace of a
// real line, and reports what happened.
#include <cstdio>

#include "paced_queue.h"
#include "send_role.h"
#include "sim_line.h"
#include "sim_options.h"
#include "sim_output.h"
#include "terminal_model.h"

namespace {

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
constexpr int64_t NS_PER_US = 1000;

struct Server {
    Server(sim_line l, const SimOptions &o) : opt(o), answers(l, o.baud, o.pace_bytes) {}
    const SimOptions &opt;
    PacedQueue<zdxsim::TerminalReply, PENDING_MAX> answers;
    LineBytes bytes = {0, 0};  // of the current transfer
};

// Serves one transfer.  Returns 0 when it ended, 1 on silence, 2 when the
// line failed.
int serve_one(Server &srv, zdxsim::TerminalModel &model) {
    uint8_t buf[READ_CHUNK];
    auto next_reply = [&model](zdxsim::TerminalReply *r) { return model.next_reply(r); };
    const int64_t silence_us = int64_t(srv.opt.timeout_s) * 1000000;
    int64_t last_activity = sim_now_us();
    for (;;) {
        int64_t now = sim_now_us();
        if (!srv.answers.flush_due(now * NS_PER_US, &srv.bytes.sent)) return 2;
        if (model.finished() && srv.answers.empty()) return 0;
        int64_t deadline = !srv.answers.empty()
                               ? (srv.answers.next_due_ns() + NS_PER_US - 1) / NS_PER_US
                               : last_activity + silence_us;
        if (srv.answers.empty() && now >= deadline) return 1;
        int n = sim_line_read(srv.answers.line(), buf, READ_CHUNK, deadline - now);
        if (n < 0) return 2;
        if (n == 0) continue;
        now = sim_now_us();
        last_activity = now;
        srv.bytes.received += n;
        for (int i = 0; i < n; ++i) {
            srv.answers.byte_arrived(now * NS_PER_US);
            model.feed(buf[i]);
            srv.answers.take(next_reply, now * NS_PER_US);
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
        for (int t = 0; t < opt.count && rc == 0; ++t) rc = run_send(line, opt, &send);
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
