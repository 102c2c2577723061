// The Windows service host as far as it can be tried without changing the machine: what
// --uninstall and --install answer, leaving the console as it was, and the command line the
// service manager starts.
#include <windows.h>

#include <gtest/gtest.h>

#include "service/service_host_win.h"
#include "tests/support/command_line_split.h"
#include "tests/support/pseudo_console_win.h"
#include "tests/support/service_process.h"

namespace {

// Runs the service with `arguments`; its exit code and what it printed on both streams.
std::pair<int, std::string> runService(const std::vector<std::string>& arguments) {
    const orvik_test::CapturedRun run = orvik_test::runCaptured(ORVIK_SERVICE_EXE, arguments, 30000);
    return {run.exitCode, run.out + run.err};
}

TEST(ServiceHostWin, OnlyAMissingServiceCountsAsNotInstalledAndTheConsoleKeepsItsCodePage) {
    orvik_test::expectConsoleCodePageKept([] {
        EXPECT_EQ(runService({"--uninstall", "--console"}), std::make_pair(0, std::string("Service not installed.\n")));
    });
    const service::HostOutcome denied = service::uninstallOpenFailure(ERROR_ACCESS_DENIED);
    EXPECT_TRUE(denied.exitCode == 1 && denied.toStandardError) << denied.text;
}

TEST(ServiceHostWin, InstallRefusesAnExecutableThatUsersCanReplaceAndQuotesEveryPath) {
    // A build tree belongs to its user (under wine every file does).
    EXPECT_EQ(runService({"--install", "--runtime", "C:\\rt"}),
              std::make_pair(1, "Install refused: " + *vpn::fullPathName(ORVIK_SERVICE_EXE) +
                                    " can be changed by users other than the administrators\n"));
    const std::string executable = R"(C:\Program Files\Velora\orvik_service.exe)";
    EXPECT_EQ(orvik_test::systemCommandLineArguments(service::serviceCommandLine(executable, R"(D:\rt\)")),
              (std::vector<std::string>{executable, "--runtime", R"(D:\rt\)"}));
}

}  // namespace
