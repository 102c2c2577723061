// Starting the service when its pipe is missing, with a stand-in launcher, and finding the
// service executable.
#include <gtest/gtest.h>

#include "service/command_line.h"
#include "tests/engine/engine_test_doubles.h"
#include "tests/support/environment.h"
#include "tests/support/fake_service.h"
#include "tests/support/temp_dir.h"
#include "vpn/command_line_quote.h"
#include "vpn/service_pipe.h"
#include "vpn/system.h"

namespace {

using Outcome = engine::ServiceLauncher::Outcome;

const std::string kDeclined = "需要管理员权限才能建立连接。已取消。";

class ServiceLaunch : public ::testing::Test {
protected:
    ServiceLaunch() { app.write(engine::serviceExecutableName(), "service"); }

    std::string ensure(bool expected) const {
        std::string error;
        EXPECT_EQ(seams.client(pipe, app.path(), runtime.path()).ensureServiceRunning(error), expected);
        return error;
    }

    orvik_test::TempDir app;
    orvik_test::TempDir runtime;
    std::string pipe = orvik_test::uniquePipeName(runtime.path());
    engine_test::Seams seams;
    engine_test::ScriptedLauncher& launcher = *seams.launcher;
};

TEST_F(ServiceLaunch, StartsTheServiceInDaemonModeForThisRuntimeAndOwnerAndWaitsEightyProbes) {
    EXPECT_EQ(ensure(false), "连接进程已启动，但管道未就绪。请查看 orvik-service.log");
    ASSERT_EQ(launcher.commands.size(), 1u);
    const engine::LaunchCommand& command = launcher.commands[0];
    EXPECT_EQ(command.executable, *vpn::fullPathName(app.file(engine::serviceExecutableName())));
    const std::string pid = std::to_string(engine::currentProcessId());
    // The test's own pipe is not the default one: the service is told where to listen.
    EXPECT_EQ(command.arguments,
              (std::vector<std::string>{"--daemon", "--runtime", runtime.path(), "--owner-pid", pid, "--pipe", pipe}));
    EXPECT_EQ(command.workingDirectory, runtime.path());
    EXPECT_EQ(*seams.sleeps, std::vector<int>(79, 250));
    EXPECT_EQ(launcher.polls, 79);
}

TEST_F(ServiceLaunch, DeclinedAndFailedLaunchesEndAtOnceOrWhenTheElevationEnds) {
    launcher.launchOutcome = Outcome::declined;
    EXPECT_EQ(ensure(false), kDeclined);
    launcher.launchOutcome = Outcome::failed;
    launcher.launchCode = 1155;
    EXPECT_EQ(ensure(false), "无法启动连接进程 err=1155");
    EXPECT_EQ(launcher.polls, 0);
    EXPECT_TRUE(seams.sleeps->empty());
    launcher.launchOutcome = Outcome::started;
    launcher.pollOutcomeAfter = 3;
    launcher.pollOutcome = Outcome::declined;
    EXPECT_EQ(ensure(false), kDeclined);
    EXPECT_EQ(seams.sleeps->size(), 3u);
    launcher.polls = 0;
    launcher.pollOutcome = Outcome::failed;
    launcher.pollCode = 127;
    EXPECT_EQ(ensure(false), "无法启动连接进程 err=127");
}

// A service that appears while the launched one starts ends the wait; a running one is
// probed without a request and not launched again.
TEST_F(ServiceLaunch, AServiceThatAppearsOrRunsEndsTheWaitWithoutARequest) {
    orvik_test::FakeService fake(pipe, [](const std::string&) { return std::string("{}"); });
    launcher.onLaunch = [&] { ASSERT_TRUE(fake.start()); };
    EXPECT_EQ(ensure(true), "");
    EXPECT_TRUE(seams.sleeps->empty());
    EXPECT_EQ(ensure(true), "");
    EXPECT_EQ(launcher.commands.size(), 1u);
    EXPECT_TRUE(fake.requests().empty());
}

TEST_F(ServiceLaunch, TheExecutableIsLookedForBesideTheClientThenInTheBuildTreeNeverADirectory) {
    // root/x/a/b/app is the client's; candidates: app, app/../svc, app/../../../svc.
    orvik_test::TempDir root;
    const auto locate = [&] { return seams.client(pipe, root.file("x/a/b/app"), root.path()).locateServiceExecutable(); };
    const auto place = [&](const std::string& folder) {
        root.write(folder + "/" + engine::serviceExecutableName(), "service");
        return *vpn::fullPathName(root.file(folder + "/" + engine::serviceExecutableName()));
    };
    root.write(std::string("x/a/b/app/") + engine::serviceExecutableName() + "/inside", "");
    EXPECT_EQ(locate(), "");
    std::string error;
    EXPECT_FALSE(seams.client(pipe, root.file("x/a/b/app"), root.path()).ensureServiceRunning(error));
    EXPECT_EQ(error, std::string("找不到 ") + engine::serviceExecutableName() + "。请放在界面同一目录。");
    EXPECT_TRUE(launcher.commands.empty());
    const std::string third = place("x/svc");
    EXPECT_EQ(locate(), third);
    const std::string second = place("x/a/b/svc");
    EXPECT_EQ(locate(), second);
}

TEST(LaunchArguments, KeepTheDirectoryWholeAndCarryWhatTheElevatedStartWouldDrop) {
    // A closing quote after a trailing backslash must stay a closing quote.
    EXPECT_EQ(vpn::joinCommandLine(engine::serviceLaunchArguments("C:\\Program Files\\Velora\\", 4294967295UL)),
              R"(--daemon --runtime "C:\Program Files\Velora\\" --owner-pid 4294967295)");
    orvik_test::ScopedEnvironment panel("ORVIK_XBOARD_URL", "http://127.0.0.1:8080");
    const std::vector<std::string> arguments = engine::serviceLaunchArguments("/rt", 7, "/tmp/orvik-test.sock");
    EXPECT_EQ(std::vector<std::string>(arguments.begin() + 5, arguments.end()),
              (std::vector<std::string>{"--pipe", "/tmp/orvik-test.sock", "--panel-url", "http://127.0.0.1:8080"}));
    const service::CommandLine line = service::parseCommandLine(arguments);
    EXPECT_EQ(line.pipeName, "/tmp/orvik-test.sock") << "and the service reads them back";
    EXPECT_EQ(line.panelUrl, "http://127.0.0.1:8080");
}

}  // namespace
