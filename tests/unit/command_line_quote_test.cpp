// Windows command lines: the text written for each argument, and (under Windows) the
// system's own reader giving every argument back unchanged.
#include <gtest/gtest.h>

#include "tests/support/command_line_split.h"
#include "vpn/command_line_quote.h"

namespace {

struct QuoteCase {
    std::string argument;
    std::string quoted;  // quotedArgument
    std::string inLine;  // commandLineArgument, as joinCommandLine writes it
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
    {"tab\there", "\"tab\there\"", "\"tab\there\""},
    {R"(D:\运行 目录\)", R"("D:\运行 目录\\")", R"("D:\运行 目录\\")"},
    {"Осака", R"("Осака")", "Осака"},
};

class CommandLineQuote : public ::testing::TestWithParam<QuoteCase> {};

// Quoted, or as written into a joined command line: what follows must stay an argument of
// its own.
TEST_P(CommandLineQuote, WritesTheArgumentSoThatTheSystemReadsItBack) {
    const QuoteCase& c = GetParam();
    EXPECT_EQ(vpn::quotedArgument(c.argument), c.quoted);
    const std::string joined = vpn::joinCommandLine({"prog", c.argument});
    EXPECT_EQ(joined, "prog " + c.inLine);
    const std::string line = joined + " " + vpn::quotedArgument(c.argument) + " --owner-pid 7";
    if (const auto read = orvik_test::systemCommandLineArguments(line)) {
        const std::vector<std::string> expected{"prog", c.argument, c.argument, "--owner-pid", "7"};
        EXPECT_EQ(*read, expected) << line;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, CommandLineQuote, ::testing::ValuesIn(kCases));

}  // namespace
