// Session settings: reset values and path joining.
#include <gtest/gtest.h>
#include <cstring>
#include "session/settings.h"

TEST(Settings, ResetGivesTheStartOfSessionValues)
{
    session_settings.baud_rate = 1200;
    session_settings.dialog_mode = 0;
    session_settings.timeout_s = 0;
    reset_settings();
    EXPECT_EQ(session_settings.baud_rate, 9600u);
    EXPECT_EQ(session_settings.port_index, 0);
    EXPECT_EQ(session_settings.dialog_mode, 1);
    EXPECT_EQ(session_settings.timeout_s, 30);
    EXPECT_EQ(session_settings.chk_len, 2);
    EXPECT_EQ(session_settings.seq_flag, 1);
}

TEST(Settings, JoinPathKeepsTheSpellingAndReplacesTheExtension)
{
    reset_settings();
    std::strcpy(session_settings.file_dir, "dir/");
    std::strcpy(session_settings.file_spelled, "data.txt");
    std::strcpy(session_settings.file_name, "DATA");
    std::strcpy(session_settings.file_ext, ".TXT");
    char out[64];
    ASSERT_TRUE(join_file_path(out, sizeof out, nullptr));
    EXPECT_STREQ(out, "dir/data.txt");
    ASSERT_TRUE(join_file_path(out, sizeof out, ".FLD"));
    EXPECT_STREQ(out, "dir/data.FLD");
    EXPECT_FALSE(join_file_path(out, 8, nullptr));
}
