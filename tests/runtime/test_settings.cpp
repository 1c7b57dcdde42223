// Session settings: reset values and path joining.
#include <gtest/gtest.h>
#include <cstring>
#include "runtime/settings.h"

TEST(Settings, ResetGivesTheStartOfSessionValues)
{
    SessionSettings s{};
    s.line.baud_rate = 1200;
    s.display.dialog_mode = 0;
    s.exchange.timeout_s = 0;
    reset_settings(s);
    EXPECT_EQ(s.line.baud_rate, 9600u);
    EXPECT_EQ(s.line.port_index, 0);
    EXPECT_EQ(s.display.dialog_mode, 1);
    EXPECT_EQ(s.exchange.timeout_s, 30);
    EXPECT_EQ(s.exchange.chk_len, 2);
    EXPECT_EQ(s.exchange.seq_flag, 1);
}

TEST(Settings, ANewRecordHoldsTheStartOfSessionValues)
{
    SessionSettings s{};
    EXPECT_EQ(s.receive_mode, 0);
    EXPECT_EQ(s.line.port_index, 0);
    EXPECT_EQ(s.line.baud_rate, 9600u);
    EXPECT_EQ(s.line.eight_data_bits, 1);
    EXPECT_EQ(s.line.parity, 0);
    EXPECT_EQ(s.line.two_stop_bits, 0);
    EXPECT_STREQ(s.line.adapter_path, "");
    EXPECT_EQ(s.exchange.chk_len, 2);
    EXPECT_EQ(s.exchange.seq_flag, 1);
    EXPECT_EQ(s.exchange.station_id[0], 0);
    EXPECT_EQ(s.exchange.station_id[1], 0);
    EXPECT_EQ(s.exchange.turnaround_delay, 0);
    EXPECT_EQ(s.exchange.timeout_s, 30);
    EXPECT_EQ(s.file.file_given, 0);
    EXPECT_EQ(s.file.file_type, FT_DATA);
    EXPECT_STREQ(s.file.file_spelled, "");
    EXPECT_EQ(s.send.ditems, 0);
    EXPECT_EQ(s.send.fixed_records, 0);
    EXPECT_EQ(s.receive.append_flag, 0);
    EXPECT_EQ(s.receive.name_check, 0);
    EXPECT_EQ(s.receive.tsep_flag, 0);
    EXPECT_EQ(s.receive.tsep_len, 0);
    EXPECT_EQ(s.display.dialog_mode, 1);
    EXPECT_EQ(s.display.win_pos_flags, 0u);
}

TEST(Settings, JoinPathKeepsTheSpellingAndReplacesTheExtension)
{
    SessionSettings s{};
    reset_settings(s);
    std::strcpy(s.file.file_dir, "dir/");
    std::strcpy(s.file.file_spelled, "data.txt");
    std::strcpy(s.file.file_name, "DATA");
    std::strcpy(s.file.file_ext, ".TXT");
    char out[64];
    ASSERT_TRUE(join_file_path(s, out, sizeof out, nullptr));
    EXPECT_STREQ(out, "dir/data.txt");
    ASSERT_TRUE(join_file_path(s, out, sizeof out, ".FLD"));
    EXPECT_STREQ(out, "dir/data.FLD");
    EXPECT_FALSE(join_file_path(s, out, 8, nullptr));
}
