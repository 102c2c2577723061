// The engine client against a stand-in service on a real pipe: attempts on a missing, busy or
// refusing pipe, the payloads, broken frames, and starting the service (a scripted launcher).
#include <future>
#include <optional>

#include <gtest/gtest.h>

#include "app/engine/engine_client.h"
#include "service/command_line.h"
#include "tests/support/environment.h"
#include "tests/support/fake_service.h"
#include "tests/support/service_client.h"
#include "tests/support/temp_dir.h"
#include "vpn/system.h"

namespace {

using Outcome = engine::ServiceLauncher::Outcome;
using orvik_test::FakeReply;
using orvik_test::FakeService;
using orvik_test::kIdle;

const std::string kUnavailable = "Velora服务未运行";
const std::string kDeclined = "需要管理员权限才能建立连接。已取消。";
const std::string kNotReady = "连接进程已启动，但管道未就绪。请查看 orvik-service.log";

// Counts what the client asks of the real connector, or answers every open with `forced`.
struct CountingConnector : engine::PipeConnector {
    Status open(const std::string& name, std::unique_ptr<vpn::ByteStream>& s, unsigned long& code) override {
        ++opens;
        code = 5;
        return forced ? *forced : real->open(name, s, code);
    }
    void waitWhileBusy(const std::string& name, int milliseconds) override {
        busyWaits.push_back(milliseconds);
        real->waitWhileBusy(name, milliseconds);
    }
    unsigned long currentErrorCode() const override { return real->currentErrorCode(); }

    int opens = 0;
    std::vector<int> busyWaits;
    std::optional<Status> forced;
    std::shared_ptr<engine::PipeConnector> real = engine::makePlatformPipeConnector();
};

// Launch answers `launched`, each poll from the third on `polled`; both give code 1155.
struct ScriptedLauncher : engine::ServiceLauncher {
    Outcome launch(const engine::LaunchCommand& command, unsigned long& code) override {
        commands.push_back(command);
        code = 1155;
        return launched;
    }
    Outcome poll(unsigned long& code) override {
        code = 1155;
        return ++polls < 3 ? Outcome::started : polled;
    }

    Outcome launched = Outcome::started;
    Outcome polled = Outcome::started;
    std::vector<engine::LaunchCommand> commands;
    int polls = 0;
};

// Takes what room the pipe has left while its server is busy with one client (the listen queue,
// or the one instance that waits), so that every further open is "busy".
std::vector<std::unique_ptr<orvik_test::ServiceClient>> occupyRemainingRoom(const std::string& pipe) {
    std::vector<std::unique_ptr<orvik_test::ServiceClient>> clients;
    do {
        clients.push_back(std::make_unique<orvik_test::ServiceClient>(pipe, 0));
    } while (clients.back()->connected() && clients.size() < 64);
    return clients;
}

class EngineClient : public ::testing::Test {
protected:
    EngineClient() { dir.write(engine::serviceExecutableName(), "service"); }

    engine::EngineClient client(const std::string& app = {}) {
        const auto sleep = [this](int milliseconds) {
            sleeps.push_back(milliseconds);
            if (onSleep) onSleep();
        };
        const std::string appDirectory = app.empty() ? dir.path() : app;
        return engine::EngineClient({pipe, connector, launcher, sleep, appDirectory, dir.path()});
    }
    std::string ensure(bool expected, const std::string& app = {}) {
        std::string error;
        EXPECT_EQ(client(app).ensureServiceRunning(error), expected);
        return error;
    }

    orvik_test::TempDir dir;  // the client's and the runtime directory
    std::string pipe = orvik_test::uniquePipeName(dir.path());
    std::shared_ptr<CountingConnector> connector = std::make_shared<CountingConnector>();
    std::shared_ptr<ScriptedLauncher> launcher = std::make_shared<ScriptedLauncher>();
    std::vector<int> sleeps;
    std::function<void()> onSleep;  // runs after each recorded sleep
};

// Attempts below one count as one; a service appearing between attempts is reached without
// further sleeps; an unknown op opens nothing; an open error is reported with its code at once.
TEST_F(EngineClient, AttemptsOnAMissingOrRefusingPipe) {
    for (const int attempts : {-5, 20}) {
        const auto result = client().sendRequest("connect", attempts, "tokyo");
        EXPECT_TRUE(result.serviceUnavailable);
        EXPECT_EQ(result.error, kUnavailable);
    }
    EXPECT_EQ(connector->opens, 21);
    EXPECT_EQ(sleeps, std::vector<int>(19, 150));
    sleeps.clear();
    FakeService fake(pipe, [](const std::string&) { return kIdle; });
    onSleep = [&] {
        if (sleeps.size() == 3) {
            ASSERT_TRUE(fake.start());
        }
    };
    EXPECT_TRUE(client().sendRequest("connect", 20, "n").ok);
    EXPECT_EQ(sleeps, std::vector<int>(3, 150));

    connector->opens = 0;
    connector->forced = engine::PipeConnector::Status::failed;
    for (const char* op : {"", "status ", "restart"})
        EXPECT_EQ(client().sendRequest(op, 20, "n").error, "unsupported ipc op") << op;
    EXPECT_EQ(connector->opens, 0);
    const auto refused = client().sendRequest("connect", 20, "x");
    EXPECT_EQ(refused.error, "无法连接Velora服务 err=5");
    EXPECT_FALSE(refused.serviceUnavailable || refused.ok);
    EXPECT_EQ(connector->opens, 1);
    EXPECT_TRUE(client().pipeExists()) << "a refusing pipe is there: another service could not take it";
}

TEST_F(EngineClient, AServiceBusyWithAnotherClientIsBusyThroughEveryAttempt) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    FakeService fake(pipe, [released](const std::string&) {
        released.wait();
        return kIdle;
    });
    ASSERT_TRUE(fake.start());
    auto first = std::async(std::launch::async, [&] { return client().sendRequest("status", 1); });
    ASSERT_TRUE(fake.waitForRequests(1, 10000));
    auto occupied = occupyRemainingRoom(pipe);
    const auto result = client().sendRequest("connect", 2, "n");
    EXPECT_TRUE(result.serviceUnavailable);
    EXPECT_EQ(result.error, kUnavailable);
    EXPECT_TRUE(client().pipeExists()) << "busy counts as present";
    EXPECT_EQ(connector->busyWaits, (std::vector<int>{500, 500})) << "waited on, not slept on";
    EXPECT_TRUE(sleeps.empty());
    occupied.clear();
    release.set_value();
    EXPECT_TRUE(first.get().ok);
}

TEST_F(EngineClient, BadReplyFramesAreReadFailuresAndATooLongRequestIsNeverSent) {
    const std::vector<FakeReply> replies = {
        FakeReply::raw(std::string(4, '\0')),                                       // length 0
        FakeReply::raw(std::string("\x01\x00\x01\x00", 4) + std::string(64, '{')),  // 65537
        FakeReply::raw(std::string("\x0a\x00\x00\x00{\"ok\"", 9)),                  // cut short
        FakeReply::raw(std::string("\x02\x00", 2)),                                 // half a length
        FakeReply::none(),
    };
    size_t next = 0;
    FakeService fake(pipe, [&](const std::string&) { return replies[next++]; });
    ASSERT_TRUE(fake.start());
    for (size_t i = 0; i < replies.size(); ++i) {
        const auto result = client().sendRequest("status", 5);
        EXPECT_EQ(result.error.rfind("Velora服务读取失败 err=", 0), 0u) << i << ": " << result.error;
        EXPECT_FALSE(result.ok || result.serviceUnavailable);
    }
    EXPECT_EQ(next, replies.size());
    const auto tooLong = client().sendRequest("connect", 5, std::string(70000, 'n'));
    EXPECT_EQ(tooLong.error.rfind("Velora服务写入失败 err=", 0), 0u) << tooLong.error;
    EXPECT_EQ(fake.requests().size(), replies.size());
}

// A launch that fails or is declined ends at once; an elevation that ends without a service
// (pkexec's exit) ends the wait at the next probe; else the pipe is probed eighty times.
TEST_F(EngineClient, StartsTheServiceInDaemonModeForThisRuntimeAndOwnerAndWaitsForItsPipe) {
    const struct {
        Outcome launched, polled;
        std::string error;
        size_t sleeps;
    } rows[] = {{Outcome::declined, Outcome::started, kDeclined, 0},
                {Outcome::failed, Outcome::started, "无法启动连接进程 err=1155", 0},
                {Outcome::started, Outcome::declined, kDeclined, 3},
                {Outcome::started, Outcome::failed, "无法启动连接进程 err=1155", 3},
                {Outcome::started, Outcome::started, kNotReady, 79}};
    const std::string kPanel = "http://127.0.0.1:8080";
    orvik_test::ScopedEnvironment panel("ORVIK_XBOARD_URL", kPanel);
    for (const auto& row : rows) {
        launcher->launched = row.launched;
        launcher->polled = row.polled;
        launcher->polls = 0;
        sleeps.clear();
        EXPECT_EQ(ensure(false), row.error);
        EXPECT_EQ(sleeps, std::vector<int>(row.sleeps, 250)) << row.error;
    }
    // The elevated start passes no environment on: the pipe (not the default one here) and
    // the panel address go on the command line, and the service reads them back.
    const engine::LaunchCommand& command = launcher->commands.at(0);
    EXPECT_EQ(command.executable, *vpn::fullPathName(dir.file(engine::serviceExecutableName())));
    const std::string pid = std::to_string(engine::currentProcessId());
    EXPECT_EQ(command.arguments, (std::vector<std::string>{"--daemon", "--runtime", dir.path(), "--owner-pid",
                                                           pid, "--pipe", pipe, "--panel-url", kPanel}));
    EXPECT_EQ(command.workingDirectory, dir.path());
    const service::CommandLine line = service::parseCommandLine(command.arguments);
    EXPECT_EQ(line.mode, service::Mode::daemon);
    EXPECT_EQ(line.runtimeDirectory + " " + std::to_string(line.ownerPid), dir.path() + " " + pid);
    EXPECT_EQ(line.pipeName + " " + line.panelUrl, pipe + " " + kPanel);
}

// root/x/a/b/app is the client's; candidates: app, app/../svc, app/../../../svc, never a
// directory of the executable's name.
TEST_F(EngineClient, TheExecutableIsLookedForBesideTheClientThenInTheBuildTreeNeverADirectory) {
    orvik_test::TempDir root;
    const std::string app = root.file("x/a/b/app");
    const std::string name = engine::serviceExecutableName();
    root.write("x/a/b/app/" + name + "/inside", "");
    EXPECT_EQ(ensure(false, app), "找不到 " + name + "。请放在界面同一目录。");
    EXPECT_TRUE(launcher->commands.empty());
    for (const std::string folder : {"x/svc", "x/a/b/svc"}) {
        root.write(folder + "/" + name, "service");
        EXPECT_EQ(client(app).locateServiceExecutable(), *vpn::fullPathName(root.file(folder + "/" + name)));
    }
}

}  // namespace
