// The simulator's paced line: paced by frames an output goes out whole when
// its last byte has arrived; paced by bytes each byte goes out in a write
// of its own when its last bit has arrived.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "zdxsim/paced_queue.h"

namespace {

std::vector<std::string> writes;   // what the queue wrote, one entry per write

struct Out {
    uint8_t bytes[8];
    int len;
    uint32_t delay_ms;
};

constexpr uint32_t BAUD = 10000;   // 1 ms per byte of 10 bits
constexpr int64_t MS = 1000000;    // ns

// Feeds the queue the outputs in order.
struct Feed {
    std::vector<Out> outs;
    size_t next = 0;
    bool operator()(Out *o)
    {
        if (next == outs.size())
            return false;
        *o = outs[next++];
        return true;
    }
};

Out out(const char *text, uint32_t delay_ms = 0)
{
    Out o{};
    o.len = static_cast<int>(std::strlen(text));
    std::memcpy(o.bytes, text, static_cast<size_t>(o.len));
    o.delay_ms = delay_ms;
    return o;
}

}   // namespace

bool sim_line_write(sim_line, const uint8_t *bytes, int len)
{
    writes.emplace_back(reinterpret_cast<const char *>(bytes), static_cast<size_t>(len));
    return true;
}

TEST(PacedQueue, ByFramesAnOutputGoesOutWholeAtItsLastByte)
{
    writes.clear();
    PacedQueue<Out, 4> q(0, BAUD);
    Feed feed{{out("ABC"), out("DE", 2)}};
    ASSERT_EQ(q.take(feed, 0), 2);
    long sent = 0;
    EXPECT_EQ(q.next_due_ns(), 3 * MS);
    ASSERT_TRUE(q.flush_due(3 * MS - 1, &sent));
    EXPECT_TRUE(writes.empty());
    ASSERT_TRUE(q.flush_due(3 * MS, &sent));
    EXPECT_EQ(writes, (std::vector<std::string>{"ABC"}));
    // The second starts its delay after the last byte received (none: now)
    // and not before the first is out: 3 ms + 2 bytes.
    EXPECT_EQ(q.next_due_ns(), 5 * MS);
    ASSERT_TRUE(q.flush_due(5 * MS, &sent));
    EXPECT_EQ(writes, (std::vector<std::string>{"ABC", "DE"}));
    EXPECT_EQ(sent, 5);
    EXPECT_TRUE(q.empty());
}

TEST(PacedQueue, ByBytesEachByteGoesOutOnItsOwnWhenItHasArrived)
{
    writes.clear();
    PacedQueue<Out, 4> q(0, BAUD, true);
    Feed feed{{out("ABC"), out("DE")}};
    ASSERT_EQ(q.take(feed, 0), 2);
    long sent = 0;
    EXPECT_EQ(q.next_due_ns(), 1 * MS);
    ASSERT_TRUE(q.flush_due(1 * MS - 1, &sent));
    EXPECT_TRUE(writes.empty());
    ASSERT_TRUE(q.flush_due(1 * MS, &sent));
    EXPECT_EQ(writes, (std::vector<std::string>{"A"}));
    EXPECT_EQ(q.next_due_ns(), 2 * MS);
    // Late: every byte due goes out, still one write each, across outputs.
    ASSERT_TRUE(q.flush_due(4 * MS, &sent));
    EXPECT_EQ(writes, (std::vector<std::string>{"A", "B", "C", "D"}));
    EXPECT_EQ(q.next_due_ns(), 5 * MS);
    ASSERT_TRUE(q.flush_due(5 * MS, &sent));
    EXPECT_EQ(sent, 5);
    EXPECT_TRUE(q.empty());
}
