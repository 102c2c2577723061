// Windows specifics of the process runner: unsigned exit codes and the exact command lines.
#include "service/tunnel/process_runner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/support/temp_dir.h"

using namespace tunnel;

namespace {

const std::string& helper() {
    static const std::string path = std::filesystem::path(ORVIK_PROCESS_HELPER).make_preferred().string();
    return path;
}

std::string waitAndRead(const orvik_test::TempDir& temp, const std::string& name) {
    for (int i = 0; i < 1000 && !temp.exists(name); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return temp.read(name);
}

TEST(ProcessRunnerWinTest, AccessViolationExitCodeIsReportedUnsigned) {
    auto runner = makeProcessRunner();
    std::string error;
    EXPECT_FALSE(runner->runCommand(helper(), {word("crash")}, 5000, error));
    EXPECT_EQ(error, "command exit 3221225477: " + helper() + " crash");
}

TEST(ProcessRunnerWinTest, CommandLinesReachTheProcessExactlyAsRendered) {
    orvik_test::TempDir temp;
    auto runner = makeProcessRunner();
    std::string error;
    const std::string commandFile = temp.file("command.txt");
    ASSERT_TRUE(runner->runCommand(helper(), {word("cmdline"), quotedArg(commandFile), quotedArg("name=", "Wi Fi 2")},
                                   5000, error))
        << error;
    EXPECT_EQ(temp.read("command.txt"), helper() + " cmdline \"" + commandFile + "\" name=\"Wi Fi 2\"");

    auto job = runner->createJob(error);
    ASSERT_TRUE(job) << error;
    const std::string launchFile = temp.file("launch.txt");
    auto child = job->launch(helper(), {word("cmdline"), quotedArg(launchFile)}, "", error);
    ASSERT_TRUE(child) << error;
    EXPECT_EQ(waitAndRead(temp, "launch.txt"), "\"" + helper() + "\" cmdline \"" + launchFile + "\"");
}

}  // namespace
