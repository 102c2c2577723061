// The Windows service host as far as it can be tried without changing the machine: what
// --uninstall and --install answer, the command line the service manager starts, and the
// console the service leaves behind.
#include <windows.h>

#include <gtest/gtest.h>

#include "service/service_host_win.h"
#include "tests/support/command_line_split.h"
#include "tests/support/pseudo_console_win.h"
#include "tests/support/service_process.h"
#include "vpn/system.h"

namespace {

// Runs the service with `arguments`; its exit code and what it printed on both streams.
std::pair<int, std::string> runService(const std::vector<std::string>& arguments) {
    const orvik_test::CapturedRun run = orvik_test::runCaptured(ORVIK_SERVICE_EXE, arguments, 30000);
    return {run.exitCode, run.out + run.err};
}

TEST(ServiceHostWin, OnlyAMissingServiceCountsAsNotInstalled) {
    EXPECT_EQ(runService({"--uninstall", "--console"}), std::make_pair(0, std::string("Service not installed.\n")));
    const service::HostOutcome denied = service::uninstallOpenFailure(ERROR_ACCESS_DENIED);
    EXPECT_TRUE(denied.exitCode == 1 && denied.toStandardError) << denied.text;
}

TEST(ServiceHostWin, InstallRefusesAnExecutableThatUsersCanReplace) {
    // A build tree belongs to its user (under wine every file does).
    EXPECT_EQ(runService({"--install", "--runtime", "C:\\rt"}),
              std::make_pair(1, "Install refused: " + *vpn::fullPathName(ORVIK_SERVICE_EXE) +
                                    " can be changed by users other than the administrators\n"));
}

TEST(ServiceHostWin, TheServiceCommandLineKeepsEveryPathWhole) {
    const std::string executable = R"(C:\Program Files\Velora\orvik_service.exe)";
    const std::string line = service::serviceCommandLine(executable, R"(D:\rt\)");
    EXPECT_EQ(orvik_test::systemCommandLineArguments(line),
              (std::vector<std::string>{executable, "--runtime", R"(D:\rt\)"}));
}

TEST(ServiceHostWin, TheConsoleHasItsCodePageBackAfterARun) {
    orvik_test::expectConsoleCodePageKept([] { EXPECT_EQ(runService({"--uninstall"}).first, 0); });
}

}  // namespace
