// What the service does on Linux beyond the Windows product: systemd service mode, stop
// signals, and the socket's file: its permissions, a stale one after a killed service, and
// paths it must not take.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/service/service_fixture.h"
#include "vpn/service_pipe.h"

namespace {

using orvik_test::request;
using service_test::Ending;
using service_test::RunMode;
using service_test::RunModes;

const std::string kIdle = "{\"ok\":true,\"running\":false,\"error\":\"\"}";
const std::string kStatus = "{\"op\":\"status\"}";
const std::string kShutdown = "{\"op\":\"shutdown\"}";

// Every stop signal ends each mode cleanly; under systemd a shutdown stops only the tunnel.
INSTANTIATE_TEST_SUITE_P(
    Linux, RunModes,
    ::testing::Values(
        RunMode{"DaemonTerminated", {"--daemon", "--runtime", "RUNTIME"}, {}, Ending::interrupt, "",
                "daemon mode. runtime=RUNTIME\ndaemon stopped\n", SIGTERM},
        RunMode{"ConsoleHungUp", {"--console", "--runtime", "RUNTIME"}, {}, Ending::interrupt,
                "OrvikService console mode. Pipe PIPE\nRuntime RUNTIME\nCtrl+C to stop.\nstopped.\n", "", SIGHUP},
        RunMode{"UnderSystemd", {"--runtime", "RUNTIME"}, {kShutdown, kStatus}, Ending::interrupt, "",
                "service running. runtime=RUNTIME\nipc op=shutdown\nipc op=status\nservice stopped\n", SIGTERM,
                "0123456789abcdef"}),
    [](const ::testing::TestParamInfo<RunMode>& row) { return row.param.name; });

mode_t modeOf(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode : 0;
}

class LinuxHost : public service_test::ServiceRun {
protected:
    std::vector<std::string> console() const { return {"--console", "--runtime", runtime.path()}; }
};

TEST_F(LinuxHost, TheSocketIsOpenToAllInAPrivateDirectoryAndAKilledServicesSocketIsReplaced) {
    launch(console())->kill();  // leaves its socket file behind
    ASSERT_TRUE(S_ISSOCK(modeOf(pipe)));
    auto service = launch(console());
    EXPECT_EQ(modeOf(pipe) & 07777, 0666u);
    EXPECT_EQ(modeOf(output.file("orvik")) & 07777, 0755u);
    EXPECT_EQ(request(pipe, kShutdown), kIdle);
    EXPECT_EQ(service->wait(10000), 0);
    EXPECT_EQ(modeOf(pipe), 0u) << "removed at exit";
}

TEST_F(LinuxHost, NeitherAFileThatIsNoSocketNorALiveSocketIsTakenOver) {
    const std::string file = pipe.substr(output.path().size() + 1);
    output.write(file, "precious");
    auto waiting = launch(console(), false);
    EXPECT_FALSE(waiting->wait(700)) << "waits for the path to become free";
    EXPECT_EQ(output.read(file), "precious");
    ASSERT_EQ(::unlink(pipe.c_str()), 0);
    ASSERT_TRUE(orvik_test::waitForPipe(pipe, 10000));
    orvik_test::TempDir second;
    orvik_test::ServiceProcess other(ORVIK_SERVICE_EXE, {"--console", "--runtime", second.path()}, output.file("2.txt"));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(request(pipe, kStatus), kIdle);
    EXPECT_EQ(second.read("orvik-service.log").find("ipc op"), std::string::npos) << "the second one waits";
    EXPECT_EQ(request(pipe, kShutdown), kIdle);
    EXPECT_EQ(waiting->wait(10000), 0);
    EXPECT_EQ(request(pipe, kShutdown, 10000), kIdle) << "then the second takes over";
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
