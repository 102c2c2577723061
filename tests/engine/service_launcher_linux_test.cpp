// The Linux launcher: pkexec found on PATH (a stand-in script here) with the service's
// arguments as separate words, its exit codes 126 / 127 while the client waits, and the
// direct, detached start when the client runs as root.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
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
        bin.write("pkexec", "#!/bin/sh\nfor word in \"$@\"; do printf '%s\\n' \"$word\"; done > \"$PKEXEC_LOG.part\"\n"
                            "mv \"$PKEXEC_LOG.part\" \"$PKEXEC_LOG\"\nexit \"$PKEXEC_EXIT\"\n");
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

// Exit 0 (the service's own exit decides nothing), 126 (the prompt declined), 127 (failed).
TEST_F(PkexecLaunch, PassesTheArgumentsAsSeparateWordsWithoutAShellAndReadsTheExitCode) {
    for (const auto& [exit, outcome] : {std::pair{"0", Outcome::started}, std::pair{"126", Outcome::declined},
                                        std::pair{"127", Outcome::failed}}) {
        orvik_test::ScopedEnvironment code{"PKEXEC_EXIT", exit};
        auto launcher = engine::makePkexecServiceLauncher();
        unsigned long error = 0;
        std::remove(out.file("argv.txt").c_str());
        ASSERT_EQ(launcher->launch(command(), error), Outcome::started);
        for (int i = 0; i < 500 && !out.exists("argv.txt"); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(finalOutcome(*launcher, error, outcome == Outcome::started ? 30 : 500), outcome) << exit;
        EXPECT_TRUE(outcome != Outcome::failed || error == 127u) << error;
        EXPECT_EQ(out.read("argv.txt"), "/opt/velora/orvik_service\n--daemon\n--runtime\n" +
                                            out.file("run $(touch pwned) ; x") + "\n--owner-pid\n77\n");
        EXPECT_FALSE(out.exists("pwned"));
    }
    orvik_test::TempDir empty;
    orvik_test::ScopedEnvironment nowhere{"PATH", empty.path()};
    unsigned long code = 0;
    EXPECT_EQ(engine::makePkexecServiceLauncher()->launch(command(), code), Outcome::failed) << "no pkexec";
    EXPECT_EQ(code, static_cast<unsigned long>(ENOENT));
}

// True when a child of this process has ended and was not reaped.
bool zombieChild() {
    siginfo_t info{};
    return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
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
    EXPECT_FALSE(zombieChild());
    const auto status = client.sendRequest("status", 5);
    EXPECT_TRUE(status.ok) << status.error;
    EXPECT_FALSE(status.running);
    EXPECT_TRUE(client.sendRequest("shutdown", 5).ok);
    for (int i = 0; i < 100 && client.pipeExists(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(client.pipeExists());
    EXPECT_NE(runtime.read("orvik-service.log").find("daemon mode."), std::string::npos);
}

}  // namespace
