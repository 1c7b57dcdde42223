// Session settings: reset values and path joining.
#include <gtest/gtest.h>
#include <cstring>
#include "session/settings.h"

TEST(Settings, ResetGivesTheStartOfSessionValues)
{
    SessionSettings s{};
    s.baud_rate = 1200;
    s.dialog_mode = 0;
    s.timeout_s = 0;
    reset_settings(s);
    EXPECT_EQ(s.baud_rate, 9600u);
    EXPECT_EQ(s.port_index, 0);
    EXPECT_EQ(s.dialog_mode, 1);
    EXPECT_EQ(s.timeout_s, 30);
    EXPECT_EQ(s.chk_len, 2);
    EXPECT_EQ(s.seq_flag, 1);
}

TEST(Settings, JoinPathKeepsTheSpellingAndReplacesTheExtension)
{
    SessionSettings s{};
    reset_settings(s);
    std::strcpy(s.file_dir, "dir/");
    std::strcpy(s.file_spelled, "data.txt");
    std::strcpy(s.file_name, "DATA");
    std::strcpy(s.file_ext, ".TXT");
    char out[64];
    ASSERT_TRUE(join_file_path(s, out, sizeof out, nullptr));
    EXPECT_STREQ(out, "dir/data.txt");
    ASSERT_TRUE(join_file_path(s, out, sizeof out, ".FLD"));
    EXPECT_STREQ(out, "dir/data.FLD");
    EXPECT_FALSE(join_file_path(s, out, 8, nullptr));
}
