// line_script.h - the terminal's side of a fuzzed session: the fuzz input
// cut into timed chunks and put on the simulated line.
//
// After the first byte of options the input is a series of chunks:
//   gap   one byte: silence before the chunk, in steps of GAP_STEP_MS
//   len   one byte: bytes in the chunk
//   bytes len bytes, arriving BYTE_SPACING_MS apart
// Every byte arrives at its own virtual millisecond, so when the library
// writes, the bytes it has read are exactly those that have arrived (the
// turnaround delay is 0, so no time passes inside a step).
#pragma once

#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "platform/sim/sim.h"

namespace fuzz {

// Silence steps: 255 steps reach past the 30 s reply wait.
constexpr uint32_t GAP_STEP_MS = 250;
constexpr uint32_t BYTE_SPACING_MS = 1;
// The first byte arrives after the port is open and purged.
constexpr uint32_t FIRST_BYTE_MS = 20;

struct TimedByte {
    uint64_t at_ms;
    uint8_t byte;
};

// Schedules the chunks of in (after its option byte) on the line.
inline std::vector<TimedByte> schedule_chunks(Input &in)
{
    std::vector<TimedByte> bytes;
    uint64_t t = FIRST_BYTE_MS;
    while (in.left() > 0) {
        t += static_cast<uint64_t>(in.byte()) * GAP_STEP_MS;
        size_t n = 0;
        const uint8_t *p = in.take(in.byte(), &n);
        for (size_t i = 0; i < n; ++i) {
            bytes.push_back({t, p[i]});
            t += BYTE_SPACING_MS;
        }
    }
    for (const TimedByte &b : bytes)
        sim::deliver(&b.byte, 1, static_cast<uint32_t>(b.at_ms - sim::now_ms()));
    return bytes;
}

// Bytes that have arrived by now.
inline size_t arrived(const std::vector<TimedByte> &bytes)
{
    size_t n = 0;
    while (n < bytes.size() && bytes[n].at_ms <= sim::now_ms())
        ++n;
    return n;
}

inline uint64_t last_arrival(const std::vector<TimedByte> &bytes)
{
    return bytes.empty() ? FIRST_BYTE_MS : bytes.back().at_ms;
}

// Stops the run when virtual time passes limit_ms: the session hangs.
inline void watch_for_hang(uint64_t limit_ms)
{
    sim::on_pump([limit_ms] {
        if (sim::now_ms() > limit_ms)
            broken("session did not end within its time-outs",
                   std::to_string(sim::now_ms()) + " ms");
    });
}

}   // namespace fuzz
