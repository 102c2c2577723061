// Starting the service when its pipe is missing, with a stand-in launcher, and finding the
// service executable.
#include <gtest/gtest.h>

#include "tests/engine/engine_test_doubles.h"
#include "service/command_line.h"
#include "tests/support/environment.h"
#include "tests/support/fake_service.h"
#include "tests/support/service_client.h"
#include "tests/support/temp_dir.h"
#include "vpn/command_line_quote.h"
#include "vpn/service_pipe.h"
#include "vpn/system.h"

namespace {

using Outcome = engine::ServiceLauncher::Outcome;
using orvik_test::FakeService;

const std::string kIdle = R"({"ok":true,"running":false,"error":""})";

class ServiceLaunch : public ::testing::Test {
protected:
    ServiceLaunch() { app.write(engine::serviceExecutableName(), "service"); }

    engine::EngineClient client() const {
        engine::EngineClientOptions options;
        options.pipeName = pipe;
        options.connector = std::make_shared<engine_test::CountingConnector>();
        options.launcher = launcher;
        options.sleep = sleep.function();
        options.applicationDirectory = app.path();
        options.runtimeDirectory = runtime.path();
        return engine::EngineClient(options);
    }
    std::string ensure(bool expected) const {
        std::string error;
        EXPECT_EQ(client().ensureServiceRunning(error), expected);
        return error;
    }

    orvik_test::TempDir app;
    orvik_test::TempDir runtime;
    std::string pipe = orvik_test::uniquePipeName(runtime.path());
    std::shared_ptr<engine_test::ScriptedLauncher> launcher = std::make_shared<engine_test::ScriptedLauncher>();
    engine_test::RecordingSleep sleep;
};

TEST_F(ServiceLaunch, ARunningServiceIsNotLaunchedAgain) {
    FakeService fake(pipe, [](const std::string&) { return kIdle; });
    ASSERT_TRUE(fake.start());
    EXPECT_EQ(ensure(true), "");
    EXPECT_TRUE(launcher->commands.empty());
    EXPECT_TRUE(fake.requests().empty());  // a presence probe sends nothing
}

TEST_F(ServiceLaunch, StartsTheServiceInDaemonModeForThisRuntimeAndOwner) {
    ensure(false);
    ASSERT_EQ(launcher->commands.size(), 1u);
    const engine::LaunchCommand& command = launcher->commands[0];
    EXPECT_EQ(command.executable, *vpn::fullPathName(app.file(engine::serviceExecutableName())));
    const std::string pid = std::to_string(engine::currentProcessId());
    // The test's own pipe is not the default one: the service is told where to listen.
    EXPECT_EQ(command.arguments,
              (std::vector<std::string>{"--daemon", "--runtime", runtime.path(), "--owner-pid", pid, "--pipe", pipe}));
    EXPECT_EQ(command.workingDirectory, runtime.path());
}

TEST_F(ServiceLaunch, DeclinedAndFailedLaunchesEndWithTheirTexts) {
    launcher->launchOutcome = Outcome::declined;
    EXPECT_EQ(ensure(false), "需要管理员权限才能建立连接。已取消。");
    launcher->launchOutcome = Outcome::failed;
    launcher->launchCode = 1155;
    EXPECT_EQ(ensure(false), "无法启动连接进程 err=1155");
    EXPECT_EQ(launcher->polls, 0);
    EXPECT_TRUE(sleep.calls->empty());
}

TEST_F(ServiceLaunch, AStartedServiceWithoutPipeIsGivenEightyProbes) {
    EXPECT_EQ(ensure(false), "连接进程已启动，但管道未就绪。请查看 orvik-service.log");
    EXPECT_EQ(*sleep.calls, std::vector<int>(79, 250));
    EXPECT_EQ(launcher->polls, 79);
}

TEST_F(ServiceLaunch, AnElevationThatEndsWhileWaitingStopsTheWait) {
    launcher->pollOutcomeAfter = 3;
    launcher->pollOutcome = Outcome::declined;
    EXPECT_EQ(ensure(false), "需要管理员权限才能建立连接。已取消。");
    EXPECT_EQ(sleep.calls->size(), 3u);
    launcher->polls = 0;
    launcher->pollOutcome = Outcome::failed;
    launcher->pollCode = 127;
    EXPECT_EQ(ensure(false), "无法启动连接进程 err=127");
}

TEST_F(ServiceLaunch, TheServiceAppearingWhileWaitingEndsTheWait) {
    FakeService fake(pipe, [](const std::string&) { return kIdle; });
    launcher->onLaunch = [&] { ASSERT_TRUE(fake.start()); };
    EXPECT_EQ(ensure(true), "");
    EXPECT_TRUE(sleep.calls->empty());
    EXPECT_TRUE(client().sendRequest("status", 5).ok);
}

TEST_F(ServiceLaunch, NoExecutableNoLaunch) {
    orvik_test::TempDir empty;
    engine::EngineClientOptions options = client().options();
    options.applicationDirectory = empty.path();
    std::string error;
    EXPECT_FALSE(engine::EngineClient(options).ensureServiceRunning(error));
    EXPECT_EQ(error, std::string("找不到 ") + engine::serviceExecutableName() + "。请放在界面同一目录。");
    EXPECT_TRUE(launcher->commands.empty());
}

// Tree: root/a/b/app (the client), root/a/svc, root/svc; candidates are app, app/../svc and
// app/../../../svc, in that order.
class ServiceLocation : public ::testing::Test {
protected:
    std::string locate() const {
        engine::EngineClientOptions options;
        options.pipeName = "unused";
        options.connector = std::make_shared<engine_test::CountingConnector>();
        options.launcher = std::make_shared<engine_test::ScriptedLauncher>();
        options.sleep = [](int) {};
        options.applicationDirectory = root.file("x/a/b/app");
        options.runtimeDirectory = root.path();
        return engine::EngineClient(options).locateServiceExecutable();
    }
    std::string place(const std::string& folder) const {
        const std::string relative = folder + "/" + engine::serviceExecutableName();
        root.write(relative, "service");
        return *vpn::fullPathName(root.file(relative));
    }

    orvik_test::TempDir root;
};

TEST_F(ServiceLocation, CandidatesAreTakenInOrder) {
    root.write("x/a/b/app/client", "");
    EXPECT_EQ(locate(), "");
    const std::string third = place("x/svc");
    EXPECT_EQ(locate(), third);
    const std::string second = place("x/a/b/svc");
    EXPECT_EQ(locate(), second);
    const std::string first = place("x/a/b/app");
    EXPECT_EQ(locate(), first);
}

TEST_F(ServiceLocation, ADirectoryOfThatNameDoesNotCount) {
    root.write(std::string("x/a/b/app/") + engine::serviceExecutableName() + "/inside", "");
    const std::string second = place("x/a/b/svc");
    EXPECT_EQ(locate(), second);
}

TEST(LaunchArguments, KeepTheDirectoryWholeOnOneLine) {
    EXPECT_EQ(engine::serviceLaunchArguments("/opt/velora run", 42),
              (std::vector<std::string>{"--daemon", "--runtime", "/opt/velora run", "--owner-pid", "42"}));
    // A closing quote after a trailing backslash must stay a closing quote.
    EXPECT_EQ(vpn::joinCommandLine(engine::serviceLaunchArguments("C:\\Program Files\\Velora\\", 4294967295UL)),
              R"(--daemon --runtime "C:\Program Files\Velora\\" --owner-pid 4294967295)");
}

TEST(LaunchArguments, CarryThePipeAndPanelSettingsTheElevatedStartWouldDrop) {
    {
        orvik_test::ScopedEnvironment noPanel("ORVIK_XBOARD_URL", std::nullopt);
        EXPECT_EQ(engine::serviceLaunchArguments("/rt", 7, vpn::defaultServicePipeName()).size(), 5u);
    }
    orvik_test::ScopedEnvironment panel("ORVIK_XBOARD_URL", "http://127.0.0.1:8080");
    const std::vector<std::string> arguments = engine::serviceLaunchArguments("/rt", 7, "/tmp/orvik-test.sock");
    const std::vector<std::string> extra(arguments.begin() + 5, arguments.end());
    EXPECT_EQ(extra, (std::vector<std::string>{"--pipe", "/tmp/orvik-test.sock", "--panel-url", "http://127.0.0.1:8080"}));
    const service::CommandLine line = service::parseCommandLine(
        std::vector<std::string>(arguments.begin(), arguments.end()));
    EXPECT_EQ(line.pipeName, "/tmp/orvik-test.sock") << "and the service reads them back";
    EXPECT_EQ(line.panelUrl, "http://127.0.0.1:8080");
}

}  // namespace
