// The recognizer of the terminal's answers to a sent frame.
#include <gtest/gtest.h>

#include <vector>

#include "download/download.h"
#include "link/recognizer.h"
#include "session/settings.h"
#include "session/timer.h"

namespace {

class Recognizer : public ::testing::Test {
protected:
    void SetUp() override
    {
        reset_settings();
        session_settings.station_id[0] = 0x02;
        session_settings.station_id[1] = 0x10;
        download_state = DS211;
        records_total = 3;
        serial_no = 0;
        first_error = 0;
        nak_count = 0;
        retry_count = 5;
        begin_wait();
    }

    // What the sending step does before each transmission.
    void begin_wait()
    {
        recognizer_reset();
        wait_flag = 0;
        result = 0;
    }

    // Feeds bytes as the waiting loop does, up to the first non-zero result.
    int feed(const std::vector<int> &bytes)
    {
        for (size_t i = 0; i < bytes.size() && result == 0; ++i)
            result = recognize(bytes[i], result);
        return result;
    }

    int result = 0;
};

const std::vector<int> ACK = {0x10, 0x06, 0x02, 0x10};
const std::vector<int> NAK = {0x10, 0x15, 0x02, 0x10};

}  // namespace

TEST_F(Recognizer, AckMovesOnToDataOrClosing)
{
    EXPECT_EQ(feed(ACK), -1);   // header of a file with records
    EXPECT_EQ(download_state, DS260);
    EXPECT_EQ(retry_count, 0u);

    download_state = DS261;     // data block 2 of 3
    serial_no = 2;
    begin_wait();
    EXPECT_EQ(feed(ACK), -1);
    EXPECT_EQ(download_state, DS260);

    download_state = DS261;     // the last one
    serial_no = 3;
    begin_wait();
    EXPECT_EQ(feed(ACK), -1);
    EXPECT_EQ(download_state, DS310);

    download_state = DS211;     // header of an empty file
    records_total = 0;
    begin_wait();
    EXPECT_EQ(feed(ACK), -1);
    EXPECT_EQ(download_state, DS310);
}

TEST_F(Recognizer, AnswersForAnotherStationAreIgnored)
{
    EXPECT_EQ(feed({0x10, 0x06, 0x00, 0x00}), 0);
    EXPECT_EQ(feed({0x10, 0x06, 0x02, 0x11}), 0);   // second byte differs
    EXPECT_EQ(feed({0x10, 0x04, 0x99, 0x00}), 0);
    EXPECT_EQ(download_state, DS211);
    EXPECT_EQ(first_error, 0);
    EXPECT_EQ(feed(ACK), -1);
}

TEST_F(Recognizer, DleDleStartsOverAndFlaggedBytesAreDropped)
{
    session_settings.station_id[1] = 0x01;
    // DLE DLE ACK: the ACK follows no DLE and is ignored with its "station".
    EXPECT_EQ(feed({0x10, 0x10, 0x06, 0x02, 0x01}), 0);
    EXPECT_EQ(DleCnt, 0);
    // A byte with a line-error flag is not a DLE.
    EXPECT_EQ(feed({0x0110, 0x06, 0x02, 0x01}), 0);
    EXPECT_EQ(feed({0x10, 0x10, 0x10, 0x06, 0x02, 0x01}), -1);
}

TEST_F(Recognizer, WackKeepsWaitingWithTheLongTimer)
{
    EXPECT_EQ(feed({0x10, 0x3B, 0x02, 0x10}), 0);
    EXPECT_EQ(wait_flag, 1);
    EXPECT_EQ(retry_count, 0u);
    EXPECT_EQ(timer_expired, 0);
    EXPECT_EQ(feed(ACK), -1);
    EXPECT_EQ(wait_flag, 0);
    EXPECT_EQ(download_state, DS260);
    timer_set(0);
}

TEST_F(Recognizer, TenthNakEndsTheDownload)
{
    for (int i = 1; i <= 9; ++i) {
        begin_wait();
        EXPECT_EQ(feed(NAK), -1) << "NAK " << i;
        EXPECT_EQ(download_state, DS211);
    }
    begin_wait();
    EXPECT_EQ(feed(NAK), 54);
    EXPECT_EQ(download_state, DS310);
    EXPECT_EQ(first_error, 54);
    EXPECT_EQ(nak_count, 0);
}

TEST_F(Recognizer, TerminalEotGives55AndKeepsAnEarlierError)
{
    EXPECT_EQ(feed({0x10, 0x04, 0x02, 0x10}), 55);
    EXPECT_EQ(download_state, DS310);
    EXPECT_EQ(first_error, 55);

    first_error = 52;
    begin_wait();
    EXPECT_EQ(feed({0x10, 0x04, 0x02, 0x10}), 55);
    EXPECT_EQ(first_error, 52);
}

TEST_F(Recognizer, FramesAndEnquiriesFromTheTerminalAreSkipped)
{
    // A frame whose body and check hold answer-like bytes, a doubled DLE
    // included, then the terminal's enquiry, then the real ACK.
    EXPECT_EQ(feed({0x10, 0x02, 0x02, 0x10, 0x10, 0x06, 0x02, 0x10, 0x10,
                    0x10, 0x03, 0x06, 0x15}),
              0);
    EXPECT_EQ(feed({0x10, 0x05, 0x02, 0x10}), 0);
    EXPECT_EQ(CtrlSW, 0);
    EXPECT_EQ(feed(ACK), -1);
    EXPECT_EQ(download_state, DS260);
}
