// The service's command line: modes, value options and the owner pid.
#include <gtest/gtest.h>

#include "service/command_line.h"

namespace {

using service::Mode;
using service::parseCommandLine;

TEST(CommandLine, ModePriorityIsInstallUninstallDaemonConsole) {
    EXPECT_EQ(parseCommandLine({}).mode, Mode::service);
    EXPECT_EQ(parseCommandLine({"--console"}).mode, Mode::console);
    EXPECT_EQ(parseCommandLine({"--console", "--daemon"}).mode, Mode::daemon);
    EXPECT_EQ(parseCommandLine({"--daemon", "--uninstall", "--console"}).mode, Mode::uninstall);
    EXPECT_EQ(parseCommandLine({"--uninstall", "--install"}).mode, Mode::install);
    EXPECT_EQ(parseCommandLine({"--CONSOLE", "-console", "console", "--console=1"}).mode, Mode::service)
        << "arguments are compared whole and case-sensitively";
}

TEST(CommandLine, RuntimeTakesTheNextArgumentAndTheLastValueWins) {
    const auto line = parseCommandLine({"--runtime", "/a", "--daemon", "--runtime", "/b"});
    EXPECT_TRUE(line.runtimeGiven);
    EXPECT_EQ(line.runtimeDirectory, "/b");
    EXPECT_EQ(line.mode, Mode::daemon);
    // A value is taken whatever it looks like.
    EXPECT_EQ(parseCommandLine({"--runtime", "--console"}).runtimeDirectory, "--console");
    EXPECT_EQ(parseCommandLine({"--runtime", "--console"}).mode, Mode::service);
}

TEST(CommandLine, RuntimeAsTheLastArgumentIsIgnored) {
    const auto line = parseCommandLine({"--console", "--runtime"});
    EXPECT_FALSE(line.runtimeGiven);
    EXPECT_EQ(line.mode, Mode::console);
}

TEST(CommandLine, AnEmptyRuntimeCountsAsGivenButSetsNothing) {
    const auto empty = parseCommandLine({"--runtime", ""});
    EXPECT_TRUE(empty.runtimeGiven);
    EXPECT_EQ(empty.runtimeDirectory, "");
    EXPECT_EQ(parseCommandLine({"--runtime", "/a", "--runtime", ""}).runtimeDirectory, "/a");
}

TEST(CommandLine, OwnerPidReadsLikeAtoi) {
    EXPECT_EQ(parseCommandLine({"--owner-pid", "4242"}).ownerPid, 4242);
    EXPECT_EQ(parseCommandLine({"--owner-pid", "abc"}).ownerPid, 0);
    EXPECT_EQ(parseCommandLine({"--owner-pid", "12abc"}).ownerPid, 12);
    EXPECT_EQ(parseCommandLine({"--owner-pid", "  -7"}).ownerPid, -7);
    EXPECT_EQ(parseCommandLine({"--owner-pid", "1", "--owner-pid", "2"}).ownerPid, 2);
    EXPECT_EQ(parseCommandLine({"--owner-pid"}).ownerPid, 0);
    EXPECT_EQ(service::numberFrom("99999999999"), 2147483647);
    EXPECT_EQ(service::numberFrom("-99999999999"), -2147483647 - 1);
    EXPECT_EQ(service::numberFrom("+15"), 15);
    EXPECT_EQ(service::numberFrom("- 5"), 0);
}

}  // namespace
