// Reading the desktop's animation switch: the bounded program run behind it, the PATH
// search and the answer's parsing.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/native/animation_setting_linux.h"
#include "app/native/reduced_motion.h"

namespace {

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(AnimationSetting, RunsWithoutShellAndCapturesOutput) {
    std::string output;
    ASSERT_TRUE(desktop::runForOutput({"/bin/echo", "false", "$HOME;", "`x`"}, 2000, output));
    // Arguments reach the program untouched: nothing expanded them.
    EXPECT_EQ(output, "false $HOME; `x`\n");
}

TEST(AnimationSetting, FailuresAndTimeOutReadAsNoAnswer) {
    std::string output;
    EXPECT_FALSE(desktop::runForOutput({"/bin/sh", "-c", "echo true; exit 3"}, 2000, output));
    EXPECT_FALSE(desktop::runForOutput({"/nonexistent/gsettings", "get"}, 2000, output));
    EXPECT_FALSE(desktop::runForOutput({}, 2000, output));

    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(desktop::runForOutput({"/bin/sleep", "5"}, 200, output));
    EXPECT_LT(msSince(start), 2000);
}

TEST(AnimationSetting, FindsExecutablesOnPath) {
    EXPECT_EQ(desktop::findOnPath("sh").front(), '/');
    EXPECT_TRUE(desktop::findOnPath("no-such-program-orvik").empty());
}

TEST(AnimationSetting, ParsesBooleanAnswers) {
    EXPECT_EQ(desktop::parseBooleanSetting("true\n"), std::optional<bool>(true));
    EXPECT_EQ(desktop::parseBooleanSetting("  false \n"), std::optional<bool>(false));
    EXPECT_EQ(desktop::parseBooleanSetting("'false'"), std::nullopt);
    EXPECT_EQ(desktop::parseBooleanSetting("No such schema"), std::nullopt);
    EXPECT_EQ(desktop::parseBooleanSetting(""), std::nullopt);
}

// The desktop's answer through a stand-in gsettings found on PATH: animations off is reduced
// motion; a failing or unreadable answer is not.
TEST(ReducedMotion, FollowsTheDesktopsAnimationSwitch) {
    char dir[] = "/tmp/orvik-gsettings-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string script = std::string(dir) + "/gsettings";
    const char* path = std::getenv("PATH");
    const std::string oldPath = path ? path : "";
    ::setenv("PATH", dir, 1);
    for (const auto& [body, reduced] : {std::pair{"echo false", true}, {"echo true", false}, {"echo false; exit 1", false}}) {
        std::ofstream(script) << "#!/bin/sh\n" << body << "\n";
        ::chmod(script.c_str(), 0755);
        EXPECT_EQ(desktop::systemReducedMotion(), reduced) << body;
    }
    ::setenv("PATH", oldPath.c_str(), 1);
    std::filesystem::remove_all(dir);
}

}  // namespace
