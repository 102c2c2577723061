// The Linux launcher: pkexec found on PATH (a stand-in script here) with the service's
// arguments as separate words, its exit codes 126 / 127 while the client waits, and the
// direct, detached start when the client runs as root.
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "app/engine/service_launcher_linux.h"
#include "tests/engine/engine_test_doubles.h"
#include "tests/support/environment.h"
#include "tests/support/service_client.h"
#include "tests/support/temp_dir.h"

namespace {

using Outcome = engine::ServiceLauncher::Outcome;

class PkexecLaunch : public ::testing::Test {
protected:
    PkexecLaunch() {
        bin.write("pkexec", "#!/bin/sh\nfor word in \"$@\"; do printf '%s\\n' \"$word\"; done > \"$PKEXEC_LOG\"\n"
                            "exit \"$PKEXEC_EXIT\"\n");
        ::chmod(bin.file("pkexec").c_str(), 0755);
    }

    // Polls until the stand-in has ended (or `polls` × 10 ms passed).
    Outcome finalOutcome(engine::ServiceLauncher& launcher, unsigned long& code, int polls = 500) {
        for (int i = 0; i < polls; ++i) {
            const Outcome outcome = launcher.poll(code);
            if (outcome != Outcome::started) return outcome;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return Outcome::started;
    }

    engine::LaunchCommand command() const {
        engine::LaunchCommand launch;
        launch.executable = "/opt/velora/orvik_service";
        launch.arguments = engine::serviceLaunchArguments(out.file("run $(touch pwned) ; x"), 77);
        launch.workingDirectory = out.path();
        return launch;
    }

    orvik_test::TempDir bin;
    orvik_test::TempDir out;
    orvik_test::ScopedEnvironment path{"PATH", bin.path() + ":/usr/bin:/bin"};
    orvik_test::ScopedEnvironment log{"PKEXEC_LOG", out.file("argv.txt")};
};

TEST_F(PkexecLaunch, PassesExecutableAndArgumentsAsSeparateWordsWithoutAShell) {
    orvik_test::ScopedEnvironment exit{"PKEXEC_EXIT", "0"};
    auto launcher = engine::makePkexecServiceLauncher();
    unsigned long code = 0;
    ASSERT_EQ(launcher->launch(command(), code), Outcome::started);
    for (int i = 0; i < 500 && !out.exists("argv.txt"); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(finalOutcome(*launcher, code, 30), Outcome::started);  // the service's own exit decides nothing
    EXPECT_EQ(out.read("argv.txt"), "/opt/velora/orvik_service\n--daemon\n--runtime\n" +
                                        out.file("run $(touch pwned) ; x") + "\n--owner-pid\n77\n");
    EXPECT_FALSE(out.exists("pwned"));
}

TEST_F(PkexecLaunch, Exit126IsDeclinedAnd127IsAFailureWithThatCode) {
    {
        orvik_test::ScopedEnvironment exit{"PKEXEC_EXIT", "126"};
        auto launcher = engine::makePkexecServiceLauncher();
        unsigned long code = 0;
        ASSERT_EQ(launcher->launch(command(), code), Outcome::started);
        EXPECT_EQ(finalOutcome(*launcher, code), Outcome::declined);
    }
    orvik_test::ScopedEnvironment exit{"PKEXEC_EXIT", "127"};
    auto launcher = engine::makePkexecServiceLauncher();
    unsigned long code = 0;
    ASSERT_EQ(launcher->launch(command(), code), Outcome::started);
    EXPECT_EQ(finalOutcome(*launcher, code), Outcome::failed);
    EXPECT_EQ(code, 127u);
}

TEST_F(PkexecLaunch, MissingPkexecFailsAtOnceWithItsErrno) {
    orvik_test::TempDir empty;
    orvik_test::ScopedEnvironment nowhere{"PATH", empty.path()};
    unsigned long code = 0;
    EXPECT_EQ(engine::makePkexecServiceLauncher()->launch(command(), code), Outcome::failed);
    EXPECT_EQ(code, static_cast<unsigned long>(ENOENT));
}

TEST_F(PkexecLaunch, TheClientReportsADeclinedPromptWithoutWaitingTwentySeconds) {
    orvik_test::ScopedEnvironment exit{"PKEXEC_EXIT", "126"};
    orvik_test::TempDir app;
    app.write(engine::serviceExecutableName(), "");
    engine::EngineClientOptions options;
    options.pipeName = orvik_test::uniquePipeName(out.path());
    options.launcher = engine::makePkexecServiceLauncher();
    options.applicationDirectory = app.path();
    options.runtimeDirectory = out.path();
    const auto begin = std::chrono::steady_clock::now();
    std::string error;
    EXPECT_FALSE(engine::EngineClient(options).ensureServiceRunning(error));
    EXPECT_EQ(error, "需要管理员权限才能建立连接。已取消。");
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(3));
}

// Children of this process that have ended but were not reaped.
int zombieChildren() {
    int zombies = 0;
    DIR* proc = ::opendir("/proc");
    while (proc) {
        const dirent* entry = ::readdir(proc);
        if (!entry) break;
        const int fd = ::open((std::string("/proc/") + entry->d_name + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        char buffer[512];
        const ssize_t got = ::read(fd, buffer, sizeof buffer - 1);
        ::close(fd);
        const std::string text(buffer, got > 0 ? static_cast<size_t>(got) : 0);
        const size_t close = text.rfind(')');
        if (close == std::string::npos) continue;
        char state = 0;
        long parent = 0;
        if (std::sscanf(text.c_str() + close + 1, " %c %ld", &state, &parent) == 2 && parent == ::getpid() &&
            state == 'Z')
            ++zombies;
    }
    if (proc) ::closedir(proc);
    return zombies;
}

TEST(RootLaunch, StartsTheRealServiceDetachedAndLeavesNoZombie) {
    if (::geteuid() != 0) GTEST_SKIP() << "the direct start is taken only as root";
    orvik_test::TempDir runtime;
    const std::string pipe = orvik_test::uniquePipeName(runtime.path());
    orvik_test::ScopedEnvironment pipeOverride{"ORVIK_PIPE", pipe};
    orvik_test::ScopedEnvironment notUnderSystemd{"INVOCATION_ID", std::nullopt};
    const std::string exe = ORVIK_SERVICE_EXE;
    engine::EngineClientOptions options;
    options.pipeName = pipe;
    options.applicationDirectory = exe.substr(0, exe.find_last_of('/'));
    options.runtimeDirectory = runtime.path();
    const engine::EngineClient client(options);

    std::string error;
    ASSERT_TRUE(client.ensureServiceRunning(error)) << error;
    EXPECT_EQ(zombieChildren(), 0);
    const auto status = client.sendRequest("status", 5);
    EXPECT_TRUE(status.ok) << status.error;
    EXPECT_FALSE(status.running);
    EXPECT_TRUE(client.sendRequest("shutdown", 5).ok);
    for (int i = 0; i < 100 && client.pipeExists(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(client.pipeExists());
    EXPECT_NE(runtime.read("orvik-service.log").find("daemon mode."), std::string::npos);
}

}  // namespace
