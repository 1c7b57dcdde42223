// send_role.cpp - the sending terminal on a line; see send_role.h.
#include "send_role.h"

#include <cstdio>
#include <cstring>

#include "paced_queue.h"
#include "sim_output.h"

namespace {

// Outputs waiting for their moment: the model queues at most a frame and
// an EOT at a time.
constexpr int PENDING_MAX = 8;
// Bytes taken from the line per read.
constexpr int READ_CHUNK = 4096;
// While the PC has not read what we wrote, its answer cannot have begun:
// look again this often (us) and count the answer time from then.
constexpr int64_t UNREAD_POLL_US = 50000;
// JSON summary line: the answer log plus some 400 bytes of fields.
constexpr size_t SEND_SUMMARY_SIZE = zdxsim::ANSWER_LOG + 640;
constexpr int64_t NS_PER_US = 1000, NS_PER_MS = 1000000;

struct Sender {
    Sender(sim_line l, const SimOptions &o) : opt(o), outputs(l, o.baud, o.pace_bytes) {}
    const SimOptions &opt;
    PacedQueue<zdxsim::SenderOutput, PENDING_MAX> outputs;
    // When the answer we wait for is overdue, ns of the monotonic clock
    // (-1: no wait).
    int64_t wait_deadline = -1;
    LineBytes bytes = {0, 0};

    // Takes the model's new outputs; a new output starts the wait for its
    // answer once it is on the line.
    void take_outputs(zdxsim::SenderModel &model, int64_t now_ns) {
        int taken = outputs.take([&model](zdxsim::SenderOutput *o) { return model.next_output(o); },
                                 now_ns);
        if (model.wait_ms() == 0) wait_deadline = -1;
        else if (taken > 0)
            wait_deadline = outputs.line_free_ns() + int64_t(model.wait_ms()) * NS_PER_MS;
    }
};

int serve(Sender &s, zdxsim::SenderModel &model) {
    uint8_t buf[READ_CHUNK];
    const sim_line line = s.outputs.line();
    const int64_t silence_us = int64_t(s.opt.timeout_s) * 1000000;
    int64_t last_activity = sim_now_us();
    s.take_outputs(model, last_activity * NS_PER_US);
    for (;;) {
        int64_t now = sim_now_us();
        const long sent_before = s.bytes.sent;
        if (!s.outputs.flush_due(now * NS_PER_US, &s.bytes.sent)) return 2;
        // No answer can come before our output is out: one written late
        // (the simulator held up on a busy machine) waits the full reply
        // time from its write, not from when it was due - else it would
        // ask again at once and take the answer to its output for the
        // answer to the enquiry.
        if (s.bytes.sent != sent_before && s.outputs.empty() && s.wait_deadline >= 0) {
            const int64_t from_write = now * NS_PER_US + int64_t(model.wait_ms()) * NS_PER_MS;
            if (s.wait_deadline < from_write) s.wait_deadline = from_write;
        }
        if (model.finished() && s.outputs.empty()) return 0;
        int64_t wake = last_activity + silence_us;
        if (!s.outputs.empty()) {
            wake = (s.outputs.next_due_ns() + NS_PER_US - 1) / NS_PER_US;
        } else if (s.wait_deadline >= 0) {
            if (sim_line_unread(line) > 0) {
                s.wait_deadline = now * NS_PER_US + int64_t(model.wait_ms()) * NS_PER_MS;
                if (now + UNREAD_POLL_US < wake) wake = now + UNREAD_POLL_US;
            } else if (now * NS_PER_US >= s.wait_deadline) {
                model.timeout();
                s.take_outputs(model, now * NS_PER_US);
                if (s.wait_deadline >= 0 && s.wait_deadline <= now * NS_PER_US)  // nothing sent
                    s.wait_deadline = now * NS_PER_US + int64_t(model.wait_ms()) * NS_PER_MS;
                continue;
            } else if (s.wait_deadline / NS_PER_US < wake) {
                wake = (s.wait_deadline + NS_PER_US - 1) / NS_PER_US;
            }
        }
        if (s.outputs.empty() && now >= last_activity + silence_us) return 1;
        int n = sim_line_read(line, buf, READ_CHUNK, wake - now);
        if (n < 0) return 2;
        if (n == 0) continue;
        now = sim_now_us();
        last_activity = now;
        s.bytes.received += n;
        for (int i = 0; i < n; ++i) {
            s.outputs.byte_arrived(now * NS_PER_US);
            model.feed(buf[i]);
            s.take_outputs(model, now * NS_PER_US);
        }
    }
}

}  // namespace

bool prepare_send(const SimOptions &opt, SendRole *role) {
    char err[512];
    if (!role->source.open(opt.send, &role->file, err, sizeof err)) {
        std::fprintf(stderr, "zdxsim: %s\n", err);
        return false;
    }
    const zdxsim::SenderFaults &f = opt.sender.faults;
    bool layout_fault = f.header == zdxsim::HeaderFault::fields ||
                        f.header == zdxsim::HeaderFault::width ||
                        f.header == zdxsim::HeaderFault::sum;
    if (layout_fault && (role->file.file_type != 0 || role->file.fields == 0)) {
        std::fprintf(stderr, "zdxsim: --fault-header %s needs a data file with fields\n",
                     f.header == zdxsim::HeaderFault::sum     ? "sum"
                     : f.header == zdxsim::HeaderFault::width ? "width"
                                                              : "fields");
        return false;
    }
    return true;
}

int run_send(sim_line line, const SimOptions &opt, SendRole *role) {
    if (opt.out_dir && !write_sent_file(opt.out_dir, role->file, role->source))
        std::fprintf(stderr, "zdxsim: cannot write the file as sent into %s\n", opt.out_dir);
    zdxsim::SenderConfig cfg = opt.sender;
    cfg.file = role->file;
    zdxsim::SenderModel model(cfg, &role->source);
    Sender s(line, opt);
    int rc = serve(s, model);
    char json[SEND_SUMMARY_SIZE];
    format_send_summary(model.summary(), role->file, rc == 1, s.bytes, json, sizeof json);
    std::printf("%s\n", json);
    std::fflush(stdout);
    if (opt.out_dir && !write_summary_file(opt.out_dir, json))
        std::fprintf(stderr, "zdxsim: cannot write the summary into %s\n", opt.out_dir);
    if (rc == 2) std::fprintf(stderr, "zdxsim: the line failed\n");
    return rc;
}
