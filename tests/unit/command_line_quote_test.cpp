// Windows command lines: the text written for each argument, and (under Windows) the
// system's own reader giving every argument back unchanged.
#include <gtest/gtest.h>

#include "tests/support/command_line_split.h"
#include "vpn/command_line_quote.h"

namespace {

struct QuoteCase {
    std::string argument;
    std::string quoted;  // quotedArgument
    std::string inLine;  // commandLineArgument
};

const QuoteCase kCases[] = {
    {"--daemon", R"("--daemon")", "--daemon"},
    {"", R"("")", R"("")"},
    {R"(C:\Program Files\Velora)", R"("C:\Program Files\Velora")", R"("C:\Program Files\Velora")"},
    {R"(D:\rt\)", R"("D:\rt\\")", R"(D:\rt\)"},
    {R"(D:\my rt\\)", R"("D:\my rt\\\\")", R"("D:\my rt\\\\")"},
    {R"(\\server\share\a\\b)", R"("\\server\share\a\\b")", R"(\\server\share\a\\b)"},
    {R"(say "hi")", R"("say \"hi\"")", R"("say \"hi\"")"},
    {R"(a\"b)", R"("a\\\"b")", R"("a\\\"b")"},
    {R"(a\\"b)", R"("a\\\\\"b")", R"("a\\\\\"b")"},
    {"\"", R"("\"")", R"("\"")"},
    {"\\", R"("\\")", "\\"},
    {"tab\there", "\"tab\there\"", "\"tab\there\""},
    {R"(D:\运行 目录\)", R"("D:\运行 目录\\")", R"("D:\运行 目录\\")"},
    {"Осака", R"("Осака")", "Осака"},
};

class CommandLineQuote : public ::testing::TestWithParam<QuoteCase> {};

TEST_P(CommandLineQuote, WritesTheArgumentSoThatTheSystemReadsItBack) {
    const QuoteCase& c = GetParam();
    EXPECT_EQ(vpn::quotedArgument(c.argument), c.quoted);
    EXPECT_EQ(vpn::commandLineArgument(c.argument), c.inLine);
    // What follows the argument must stay an argument of its own.
    const std::string line = "prog " + vpn::quotedArgument(c.argument) + " " + c.inLine + " --owner-pid 7";
    if (const auto read = orvik_test::systemCommandLineArguments(line)) {
        EXPECT_EQ(*read, (std::vector<std::string>{"prog", c.argument, c.argument, "--owner-pid", "7"})) << line;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, CommandLineQuote, ::testing::ValuesIn(kCases));

TEST(CommandLineJoin, EveryArgumentOfTheTableComesBackInOrder) {
    std::vector<std::string> arguments{"prog"};
    for (const QuoteCase& c : kCases) arguments.push_back(c.argument);
    const std::string line = vpn::joinCommandLine(arguments);
    EXPECT_EQ(vpn::joinCommandLine({"--runtime", R"(D:\rt\)", "", "7"}), R"(--runtime D:\rt\ "" 7)");
    if (const auto read = orvik_test::systemCommandLineArguments(line)) {
        EXPECT_EQ(*read, arguments) << line;
    }
}

}  // namespace
