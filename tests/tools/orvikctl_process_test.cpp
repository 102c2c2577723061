// orvikctl as a process against the real orvik_service in console mode: what a script sees,
// exit codes included, and the service's own refusal passed on unchanged.
#include "tests/tools/orvikctl_fixture.h"

namespace {

using orvik_test::CapturedRun;

using orvik_test::OrvikctlTest;

TEST_F(OrvikctlTest, StatusRefusedConnectDisconnectAndShutdownAgainstTheRealService) {
    const auto exe = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"--runtime", runtime.path()});
        return orvik_test::runCaptured(ORVIKCTL_EXE, args);
    };
    orvik_test::TempDir output;
    orvik_test::ServiceProcess service(ORVIK_SERVICE_EXE, {"--console", "--runtime", runtime.path()}, output.file("service.txt"));
    ASSERT_TRUE(orvik_test::waitForPipe(pipe, 20000)) << output.read("service.txt");
    CapturedRun result = exe({"status"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Service   running\nTunnel    down\n");
    result = exe({"connect", "somewhere"});  // no account in the runtime directory
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("orvikctl: ", 0), 0u) << result.err;
    EXPECT_GT(result.err.size(), 11u);
    EXPECT_EQ(exe({"disconnect"}).out, "Disconnected.\nService   running\nTunnel    down\n");
    EXPECT_EQ(exe({"frobnicate"}).exitCode, 2);
    result = exe({"shutdown"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Service stopped.\nService   not running\nTunnel    down\n");
    EXPECT_EQ(service.wait(10000), 0);
}

}  // namespace
