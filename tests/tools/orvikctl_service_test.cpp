// orvikctl against the real orvik_service in console mode on a pipe of the test's own:
// status, disconnect, a connect the service refuses, and shutdown.
#include <gtest/gtest.h>

#include "tests/support/service_process.h"
#include "tests/tools/orvikctl_fixture.h"

namespace {

using orvik_test::CapturedRun;
using orvik_test::contains;

class OrvikctlService : public orvik_test::OrvikctlTest {
protected:
    std::unique_ptr<orvik_test::ServiceProcess> startConsoleService() {
        const std::vector<std::string> arguments{"--console", "--runtime", runtime.path()};
        auto service = std::make_unique<orvik_test::ServiceProcess>(ORVIK_SERVICE_EXE, arguments, output.file("service.txt"));
        EXPECT_TRUE(orvik_test::waitForPipe(pipe, 20000)) << output.read("service.txt");
        return service;
    }
    orvik_test::TempDir output;
};

TEST_F(OrvikctlService, WithoutServiceStatusAndDisconnectSayItIsNotRunning) {
    CapturedRun result = run({"status"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Service   not running\nTunnel    down\n");
    const auto state = runJson({"disconnect"});
    ASSERT_TRUE(state.is_object());
    EXPECT_FALSE(state["serviceRunning"].get<bool>());
    EXPECT_FALSE(state["tunnelUp"].get<bool>());
}

TEST_F(OrvikctlService, StatusDisconnectRefusedConnectAndShutdown) {
    auto service = startConsoleService();
    ASSERT_TRUE(service->started());
    CapturedRun result = run({"status"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Service   running\nTunnel    down\n");
    const auto status = runJson({"status"});
    ASSERT_TRUE(status.is_object());
    EXPECT_TRUE(status["serviceRunning"].get<bool>());
    EXPECT_FALSE(status["tunnelUp"].get<bool>());

    result = run({"disconnect"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Disconnected.\nService   running\nTunnel    down\n");

    // No account in the runtime directory: the service's own text comes through unchanged.
    result = run({"connect", "somewhere"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(contains(result.err, "orvikctl: ")) << result.err;
    EXPECT_GT(result.err.size(), 11u);

    result = run({"shutdown"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Service stopped.\nService   not running\nTunnel    down\n");
    EXPECT_EQ(service->wait(10000), 0);
    const std::string log = runtime.read("orvik-service.log");
    EXPECT_TRUE(contains(log, "ipc op=status\nipc op=status\nipc op=disconnect\nipc op=connect\n")) << log;
    EXPECT_TRUE(contains(log, "ipc op=shutdown\n")) << log;
}

}  // namespace
