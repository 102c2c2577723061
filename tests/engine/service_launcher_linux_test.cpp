// The Linux launcher: pkexec found on PATH (a stand-in script here) with the service's
// arguments as separate words, and its exit codes 126 / 127 while the client waits.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "app/engine/service_launcher_linux.h"
#include "app/engine/engine_client.h"
#include "tests/support/environment.h"
#include "tests/support/temp_dir.h"

namespace {

using Outcome = engine::ServiceLauncher::Outcome;

// Exit 0 (the service's own exit decides nothing), 126 (the prompt declined), 127 (failed);
// the words reach pkexec as they are, through no shell.
TEST(PkexecLaunch, PassesTheArgumentsAsSeparateWordsWithoutAShellAndReadsTheExitCode) {
    orvik_test::TempDir bin;
    orvik_test::TempDir out;
    bin.write("pkexec", "#!/bin/sh\n"
                        "for word in \"$@\"; do printf '%s\\n' \"$word\"; done >\"$PKEXEC_LOG.part\"\n"
                        "mv \"$PKEXEC_LOG.part\" \"$PKEXEC_LOG\"\nexit \"$PKEXEC_EXIT\"\n");
    ::chmod(bin.file("pkexec").c_str(), 0755);
    orvik_test::ScopedEnvironment path{"PATH", bin.path() + ":/usr/bin:/bin"};
    orvik_test::ScopedEnvironment log{"PKEXEC_LOG", out.file("argv.txt")};
    const std::string runtime = out.file("run $(touch pwned) ; x");
    const std::string kExe = "/opt/velora/orvik_service";
    const engine::LaunchCommand command{kExe, engine::serviceLaunchArguments(runtime, 77), out.path()};
    for (const auto& [exit, outcome] : {std::pair{"0", Outcome::started}, std::pair{"126", Outcome::declined},
                                        std::pair{"127", Outcome::failed}}) {
        orvik_test::ScopedEnvironment code{"PKEXEC_EXIT", exit};
        auto launcher = engine::makePkexecServiceLauncher();
        unsigned long error = 0;
        std::remove(out.file("argv.txt").c_str());
        ASSERT_EQ(launcher->launch(command, error), Outcome::started);
        // Polled until the stand-in has ended; a started one still is 300 ms after its words.
        Outcome seen = Outcome::started;
        for (int i = 0, after = 0; i < 500 && seen == Outcome::started && after < 30; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            seen = launcher->poll(error);
            if (outcome == Outcome::started && out.exists("argv.txt")) ++after;
        }
        EXPECT_EQ(seen, outcome) << exit;
        EXPECT_TRUE(outcome != Outcome::failed || error == 127u) << error;
        EXPECT_EQ(out.read("argv.txt"), kExe + "\n--daemon\n--runtime\n" + runtime + "\n--owner-pid\n77\n");
        EXPECT_FALSE(out.exists("pwned"));
    }
    orvik_test::ScopedEnvironment nowhere{"PATH", out.path()};
    unsigned long code = 0;
    EXPECT_EQ(engine::makePkexecServiceLauncher()->launch(command, code), Outcome::failed) << "no pkexec";
    EXPECT_EQ(code, static_cast<unsigned long>(ENOENT));
}

}  // namespace
