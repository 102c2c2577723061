// What the service does on Linux beyond the Windows product: systemd service mode, stop
// signals, and the socket's file: its permissions, a stale one after a killed service, and
// paths it must not take.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "tests/support/environment.h"
#include "tests/support/service_client.h"
#include "tests/support/service_process.h"
#include "tests/support/temp_dir.h"
#include "vpn/service_pipe.h"

namespace {

using orvik_test::request;
using orvik_test::ServiceProcess;

const std::string kIdle = "{\"ok\":true,\"running\":false,\"error\":\"\"}";

mode_t modeOf(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode : 0;
}

class LinuxHost : public ::testing::Test {
protected:
    std::unique_ptr<ServiceProcess> launch(const std::vector<std::string>& arguments, bool serving = true) {
        auto process = std::make_unique<ServiceProcess>(ORVIK_SERVICE_EXE, arguments, output.file("out.txt"));
        if (serving) {
            EXPECT_TRUE(orvik_test::waitForPipe(pipe, 20000)) << output.read("out.txt");
        }
        return process;
    }
    std::vector<std::string> console() const { return {"--console", "--runtime", runtime.path()}; }
    std::string log() const { return runtime.read("orvik-service.log"); }

    orvik_test::TempDir runtime;
    orvik_test::TempDir output;
    std::string pipe = output.file("orvik/OrvikService.sock");
    orvik_test::ScopedEnvironment pipeOverride{"ORVIK_PIPE", pipe};
    orvik_test::ScopedEnvironment notUnderSystemd{"INVOCATION_ID", std::nullopt};
};

TEST_F(LinuxHost, SigtermAndSighupEndEveryModeCleanlyAndShutdownUnderSystemdStopsOnlyTheTunnel) {
    for (const int signal : {SIGTERM, SIGHUP}) {
        for (const std::string mode : {"--console", "--daemon"}) {
            auto service = launch({mode, "--runtime", runtime.path()});
            ASSERT_EQ(::kill(static_cast<pid_t>(service->pid()), signal), 0);
            EXPECT_EQ(service->wait(10000), 0) << mode << " " << signal;
            EXPECT_TRUE(log().ends_with("stopped\n") || log().ends_with("stopped.\n")) << log();
        }
    }
    runtime.write("orvik-service.log", "");
    orvik_test::ScopedEnvironment systemd("INVOCATION_ID", std::string("0123456789abcdef"));
    auto service = launch({"--runtime", runtime.path()});
    EXPECT_EQ(request(pipe, "{\"op\":\"shutdown\"}"), kIdle);
    EXPECT_EQ(request(pipe, "{\"op\":\"status\"}"), kIdle) << "still serving";
    ASSERT_EQ(::kill(static_cast<pid_t>(service->pid()), SIGTERM), 0);
    EXPECT_EQ(service->wait(10000), 0);
    EXPECT_EQ(log(), "service running. runtime=" + runtime.path() + "\nipc op=shutdown\nipc op=status\nservice stopped\n");
}

TEST_F(LinuxHost, TheSocketIsOpenToAllInAPrivateDirectoryAndAKilledServicesSocketIsReplaced) {
    launch(console())->kill();  // leaves its socket file behind
    ASSERT_TRUE(S_ISSOCK(modeOf(pipe)));
    auto service = launch(console());
    EXPECT_EQ(modeOf(pipe) & 07777, 0666u);
    EXPECT_EQ(modeOf(output.file("orvik")) & 07777, 0755u);
    EXPECT_EQ(request(pipe, "{\"op\":\"shutdown\"}"), kIdle);
    EXPECT_EQ(service->wait(10000), 0);
    EXPECT_EQ(modeOf(pipe), 0u) << "removed at exit";
}

TEST_F(LinuxHost, NeitherAFileThatIsNoSocketNorALiveSocketIsTakenOver) {
    output.write("orvik/OrvikService.sock", "precious");
    auto waiting = launch(console(), false);
    EXPECT_FALSE(waiting->wait(700)) << "waits for the path to become free";
    EXPECT_EQ(output.read("orvik/OrvikService.sock"), "precious");
    ASSERT_EQ(::unlink(pipe.c_str()), 0);
    ASSERT_TRUE(orvik_test::waitForPipe(pipe, 10000));
    orvik_test::TempDir second;
    ServiceProcess other(ORVIK_SERVICE_EXE, {"--console", "--runtime", second.path()}, output.file("second.txt"));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(request(pipe, "{\"op\":\"status\"}"), kIdle);
    EXPECT_EQ(second.read("orvik-service.log").find("ipc op"), std::string::npos) << "the second one waits";
    EXPECT_EQ(request(pipe, "{\"op\":\"shutdown\"}"), kIdle);
    EXPECT_EQ(waiting->wait(10000), 0);
    EXPECT_EQ(request(pipe, "{\"op\":\"shutdown\"}", 10000), kIdle) << "then the second takes over";
    EXPECT_EQ(other.wait(10000), 0);
}

TEST(ServicePipeName, AnOverrideMustBeAnAbsoluteSocketPath) {
    for (const std::string& ignored : {std::string(), std::string("relative.sock"), "/" + std::string(200, 'x')}) {
        orvik_test::ScopedEnvironment override("ORVIK_PIPE", ignored);
        EXPECT_EQ(vpn::servicePipeName(), "/run/orvik/OrvikService.sock") << ignored;
    }
    orvik_test::ScopedEnvironment override("ORVIK_PIPE", std::string("/tmp/side-by-side.sock"));
    EXPECT_EQ(vpn::servicePipeName(), "/tmp/side-by-side.sock");
}

}  // namespace
