// Splitting a command text into the emulated argument vector.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session/argv.h"

namespace {

ArgVector args;

std::vector<std::string> split(const std::string &text)
{
    build_argv(args, "orvw.exe", text.c_str());
    std::vector<std::string> out;
    for (int i = 1; i < args.count; ++i)
        out.push_back(args.vector[i]);
    return out;
}

using V = std::vector<std::string>;

}   // namespace

TEST(Argv, BlanksSeparateTokensAndArgv0ComesFirst)
{
    EXPECT_EQ(split("-P2 -B19200 DATA.TXT"), (V{"-P2", "-B19200", "DATA.TXT"}));
    EXPECT_STREQ(args.vector[0], "orvw.exe");
    EXPECT_EQ(split(" \t -R\t\t+A  "), (V{"-R", "+A"}));
    EXPECT_EQ(split("   "), V{});
}

TEST(Argv, QuotesToggleAcrossTokensAndAreDropped)
{
    EXPECT_EQ(split("a\"b c\"d"), V{"ab cd"});
    EXPECT_EQ(split("\"\" x"), (V{"", "x"}));
    EXPECT_EQ(split("\"-R -A\" F.TXT"), (V{"-R -A", "F.TXT"}));
    // An unmatched quote makes the rest one token, blanks and all.
    EXPECT_EQ(split("-R \"+T \tx y"), (V{"-R", "+T \tx y"}));
    // No escapes: a backslash is an ordinary character.
    EXPECT_EQ(split("+T\\\" x\""), V{"+T\\ x"});
}

TEST(Argv, WorstCaseTextsFitTheBuffers)
{
    const int text_max = CMDLINE_MAX - 8;   // behind "orvw.exe"
    std::string many;
    while (static_cast<int>(many.size()) + 2 <= text_max)
        many += "a ";
    V got = split(many);
    EXPECT_EQ(got.size(), 508u);
    EXPECT_EQ(args.count, ARG_VECTOR_SIZE);

    std::string one(text_max, 'x');
    got = split(one);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], one);

    // Longer than the caller ever passes: cut, never written past the end.
    std::string huge(4000, 'y');
    got = split(huge + " " + huge);
    ASSERT_FALSE(got.empty());
    EXPECT_LT(got[0].size(), static_cast<size_t>(ARG_TEXT_SIZE));
}
