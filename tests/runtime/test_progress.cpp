// Progress texts, as drawn on every platform.
#include <gtest/gtest.h>

#include "runtime/progress.h"

TEST(ProgressText, CounterIsZeroFilled)
{
    char out[32];
    progress_counter_text(out, 12, 340);
    EXPECT_STREQ(out, "00012 / 00340");
    progress_counter_text(out, 0, 0);
    EXPECT_STREQ(out, "00000 / 00000");
}

TEST(ProgressText, BarShowsTenthsAndHandlesAnEmptyFile)
{
    char out[32];
    progress_bar_text(out, 0, 0);
    EXPECT_STREQ(out, "  0.0%");
    progress_bar_text(out, 1, 3);
    EXPECT_STREQ(out, " 33.3%");
    progress_bar_text(out, 3, 3);
    EXPECT_STREQ(out, "100.0%");
    progress_bar_text(out, 32767, 32767);   // no 32-bit overflow in done * 1000
    EXPECT_STREQ(out, "100.0%");
}
