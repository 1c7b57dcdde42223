// The reader of the terminal's answers to a sent frame.
#include <gtest/gtest.h>

#include <vector>

#include "link/recognizer.h"

namespace {

const uint8_t OUR_STATION[2] = {0x02, 0x10};

// Feeds bytes and lists every complete answer, in order.
std::vector<Answer> answers(const std::vector<uint8_t> &bytes,
                            const uint8_t station[2] = OUR_STATION)
{
    AnswerReader r;
    answer_reader_reset(r, station);
    std::vector<Answer> out;
    for (uint8_t b : bytes) {
        Answer a = answer_reader_feed(r, b);
        if (a != Answer::None)
            out.push_back(a);
    }
    return out;
}

using A = std::vector<Answer>;

}   // namespace

TEST(AnswerReader, EachControlCodeForOurStation)
{
    EXPECT_EQ(answers({0x10, 0x06, 0x02, 0x10}), A{Answer::Ack});
    EXPECT_EQ(answers({0x10, 0x15, 0x02, 0x10}), A{Answer::Nak});
    EXPECT_EQ(answers({0x10, 0x04, 0x02, 0x10}), A{Answer::Eot});
    EXPECT_EQ(answers({0x10, 0x3B, 0x02, 0x10}), A{Answer::Wack});
    // After a complete answer the reader hunts again.
    EXPECT_EQ(answers({0x10, 0x3B, 0x02, 0x10, 0x10, 0x06, 0x02, 0x10}),
              (A{Answer::Wack, Answer::Ack}));
}

TEST(AnswerReader, AnswersForAnotherStationAreIgnored)
{
    EXPECT_EQ(answers({0x10, 0x06, 0x00, 0x00}), A{});
    EXPECT_EQ(answers({0x10, 0x06, 0x02, 0x11}), A{});   // second byte differs
    EXPECT_EQ(answers({0x10, 0x04, 0x99, 0x00, 0x10, 0x06, 0x02, 0x10}), A{Answer::Ack});
}

TEST(AnswerReader, DleDleStartsOver)
{
    const uint8_t station[2] = {0x02, 0x01};
    // DLE DLE ACK: the ACK follows no DLE and is ignored with its "station".
    EXPECT_EQ(answers({0x10, 0x10, 0x06, 0x02, 0x01}, station), A{});
    // The third DLE starts a new message.
    EXPECT_EQ(answers({0x10, 0x10, 0x10, 0x06, 0x02, 0x01}, station), A{Answer::Ack});
}

TEST(AnswerReader, FramesFromTheTerminalAreSkippedAndEnquiriesReported)
{
    // A frame whose body and check hold answer-like bytes, a doubled DLE
    // included, then the terminal's enquiry, then the real ACK.
    EXPECT_EQ(answers({0x10, 0x02, 0x02, 0x10, 0x10, 0x06, 0x02, 0x10, 0x10, 0x10, 0x03,
                       0x06, 0x15, 0x10, 0x05, 0x02, 0x10, 0x10, 0x06, 0x02, 0x10}),
              (A{Answer::Enquiry, Answer::Ack}));
    // The enquiry's station bytes are skipped whatever they are.
    EXPECT_EQ(answers({0x10, 0x05, 0x10, 0x06, 0x10, 0x06, 0x02, 0x10}),
              (A{Answer::Enquiry, Answer::Ack}));
}
