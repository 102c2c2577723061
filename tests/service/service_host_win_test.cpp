// The Windows service host as far as it can be tried without changing the machine: what
// --uninstall and --install answer, the command line the service manager starts, and the
// console the service leaves behind.
#include <windows.h>

#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "service/service_host_win.h"
#include "tests/support/command_line_split.h"
#include "tests/support/pseudo_console_win.h"
#include "tests/support/service_process.h"
#include "tests/support/temp_dir.h"
#include "vpn/system.h"

namespace {

// Runs the service with `arguments`; its exit code and what it printed on both streams.
std::pair<int, std::string> runService(const std::vector<std::string>& arguments) {
    orvik_test::TempDir output;
    orvik_test::ServiceProcess service(ORVIK_SERVICE_EXE, arguments, output.file("out.txt"));
    if (!service.started()) return {-1, "not started"};
    const int code = service.wait(30000).value_or(-1);
    std::string printed = output.read("out.txt");
    printed.erase(std::remove(printed.begin(), printed.end(), '\r'), printed.end());
    return {code, printed};
}

TEST(ServiceHostWin, UninstallingAServiceThatIsNotInstalledSaysSoAndSucceeds) {
    EXPECT_EQ(runService({"--uninstall", "--console"}), std::make_pair(0, std::string("Service not installed.\n")));
}

struct OpenFailureCase {
    unsigned long error;
    int exitCode;
    bool toStandardError;
    std::string text;
};

class UninstallOpenFailure : public ::testing::TestWithParam<OpenFailureCase> {};

TEST_P(UninstallOpenFailure, OnlyAMissingServiceCountsAsNotInstalled) {
    const service::HostOutcome outcome = service::uninstallOpenFailure(GetParam().error);
    EXPECT_EQ(outcome.exitCode, GetParam().exitCode);
    EXPECT_EQ(outcome.toStandardError, GetParam().toStandardError);
    EXPECT_EQ(outcome.text, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UninstallOpenFailure,
    ::testing::Values(OpenFailureCase{ERROR_SERVICE_DOES_NOT_EXIST, 0, false, "Service not installed.\n"},
                      OpenFailureCase{ERROR_ACCESS_DENIED, 1, true, "OpenService failed err=5\n"},
                      OpenFailureCase{ERROR_INVALID_NAME, 1, true, "OpenService failed err=123\n"},
                      OpenFailureCase{ERROR_INVALID_HANDLE, 1, true, "OpenService failed err=6\n"}));

TEST(ServiceHostWin, InstallRefusesAnExecutableThatUsersCanReplace) {
    // A build tree belongs to its user (under wine every file does).
    const std::string executable = *vpn::fullPathName(ORVIK_SERVICE_EXE);
    EXPECT_EQ(runService({"--install", "--runtime", "C:\\rt"}),
              std::make_pair(1, "Install refused: " + executable +
                                    " can be changed by users other than the administrators\n"));
}

TEST(ServiceHostWin, TheServiceCommandLineKeepsEveryPathWhole) {
    const std::string executable = R"(C:\Program Files\Velora\orvik_service.exe)";
    const std::string line = service::serviceCommandLine(executable, R"(D:\rt\)");
    EXPECT_EQ(line, R"("C:\Program Files\Velora\orvik_service.exe" --runtime "D:\rt\\")");
    EXPECT_EQ(orvik_test::systemCommandLineArguments(line),
              (std::vector<std::string>{executable, "--runtime", R"(D:\rt\)"}));
}

TEST(ServiceHostWin, TheConsoleHasItsCodePageBackAfterARun) {
    constexpr UINT kChineseCodePage = 936;
    const char* marker = "ORVIK_TEST_INSIDE_CONSOLE";
    if (vpn::environmentVariable(marker)) {  // the instance inside the pseudo console
        ASSERT_TRUE(SetConsoleOutputCP(kChineseCodePage)) << "no console";
        EXPECT_EQ(runService({"--uninstall"}).first, 0);
        EXPECT_EQ(GetConsoleOutputCP(), kChineseCodePage);
        return;
    }
    const ::testing::TestInfo& test = *::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter = std::string(test.test_suite_name()) + "." + test.name();
    EXPECT_EQ(orvik_test::runSelfInPseudoConsole({"--gtest_filter=" + filter}, marker), 0);
}

}  // namespace
