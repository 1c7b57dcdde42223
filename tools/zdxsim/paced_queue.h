// paced_queue.h - the terminal's outputs on their way to the PC, at the
// pace of a real line.
//
// The models answer at once.  A real terminal answers a while after the
// byte that caused the answer, and its bytes take their line time: this
// queue gives every output the moment its last byte is on the PC's side
// and writes it when that moment has come.  With no speed given (baud 0)
// bytes take no time and only the answer delays count.
//
// Paced by bytes, each byte is written on its own at the moment its last
// bit arrives, as a UART without a FIFO hands bytes over: the PC's side
// sees single bytes, not whole outputs.
#pragma once

#include <cstdint>

#include "sim_line.h"
#include "sim_output.h"

// Bits on the line per byte: start, 8 data, stop.
constexpr int64_t LINE_BITS_PER_BYTE = 10;
constexpr int64_t LINE_NS_PER_S = 1000000000, LINE_NS_PER_MS = 1000000;

// Output: a model's output record with bytes, len and delay_ms.
template <class Output, int CAPACITY> class PacedQueue {
public:
    // per_byte: write each byte at its own moment instead of each output
    // whole at its last byte's.
    PacedQueue(sim_line line, uint32_t baud, bool per_byte = false)
        : line_(line), byte_ns_(baud ? LINE_BITS_PER_BYTE * LINE_NS_PER_S / baud : 0),
          per_byte_(per_byte) {}

    // A byte was read at now_ns: it had fully arrived one byte time after
    // the previous one at the earliest.
    void byte_arrived(int64_t now_ns) {
        if (rx_clock_ < now_ns) rx_clock_ = now_ns;
        rx_clock_ += byte_ns_;
    }

    // Takes outputs from next(Output *) while there is room.  Each starts
    // its delay_ms after the last byte received (or after now_ns, if
    // later) and not before the one ahead of it is out.  Returns the count.
    template <class Next> int take(Next next, int64_t now_ns) {
        int taken = 0;
        while (count_ < CAPACITY) {
            Entry &e = entries_[(head_ + count_) % CAPACITY];
            if (!next(&e.out)) break;
            int64_t start = (rx_clock_ > now_ns ? rx_clock_ : now_ns) +
                            int64_t(e.out.delay_ms) * LINE_NS_PER_MS;
            if (start < tx_free_) start = tx_free_;
            e.due_ns = start + byte_ns_ * e.out.len;
            e.written = 0;
            tx_free_ = e.due_ns;
            ++count_;
            ++taken;
        }
        return taken;
    }

    // Writes the outputs that are due and counts their bytes in sent;
    // false on a line failure.
    bool flush_due(int64_t now_ns, long *sent) {
        while (count_ > 0 && next_due_ns() <= now_ns) {
            Entry &e = entries_[head_];
            const Output &o = e.out;
            int n = per_byte_ ? 1 : o.len - e.written;
            if (n > 0 && !sim_line_write(line_, o.bytes + e.written, n)) return false;
            *sent += n;
            e.written += n;
            if (e.written < o.len) continue;
            head_ = (head_ + 1) % CAPACITY;
            --count_;
        }
        return true;
    }

    bool empty() const { return count_ == 0; }
    // When the next write is due, ns: the first queued output's last byte,
    // or paced by bytes its next byte; only when not empty().
    int64_t next_due_ns() const {
        const Entry &e = entries_[head_];
        if (!per_byte_ || e.written >= e.out.len) return e.due_ns;
        return e.due_ns - byte_ns_ * (e.out.len - 1 - e.written);
    }
    // When the last queued output is out and our side is free again, ns.
    int64_t line_free_ns() const { return tx_free_; }
    sim_line line() const { return line_; }

private:
    struct Entry {
        int64_t due_ns;  // when its last byte is on the PC's side
        int written;     // bytes of out already written (paced by bytes)
        Output out;
    };
    sim_line line_;
    int64_t byte_ns_;  // line time of one byte, ns; 0 = no pacing
    bool per_byte_;    // each byte written at its own moment
    Entry entries_[CAPACITY];
    int head_ = 0, count_ = 0;
    int64_t rx_clock_ = 0;  // when the last byte received had fully arrived
    int64_t tx_free_ = 0;   // when our side of the line is free again
};
