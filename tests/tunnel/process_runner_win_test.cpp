// Windows specifics of the process runner: unsigned exit codes and the exact command lines.
#include "service/tunnel/process_runner.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/process_probe.h"
#include "tests/support/temp_dir.h"

using namespace tunnel;

namespace {

TEST(ProcessRunnerWinTest, CommandLinesReachTheProcessExactlyAsRenderedAndCrashesReadUnsigned) {
    const std::string helper = std::filesystem::path(ORVIK_PROCESS_HELPER).make_preferred().string();
    orvik_test::TempDir temp;
    auto runner = makeProcessRunner();
    std::string error;
    const std::string commandFile = temp.file("command.txt"), launchFile = temp.file("launch.txt");
    ASSERT_TRUE(runner->runCommand(
        helper, {word("cmdline"), quotedArg(commandFile), quotedArg("name=", "Wi Fi 2"), quotedArg("")}, 5000, error))
        << error;
    EXPECT_EQ(temp.read("command.txt"), helper + " cmdline \"" + commandFile + "\" name=\"Wi Fi 2\" \"\"");
    auto job = runner->createJob(error);
    ASSERT_TRUE(job && job->launch(helper, {word("cmdline"), quotedArg(launchFile)}, "", error)) << error;
    EXPECT_EQ(orvik_test::readWhenWritten(launchFile), "\"" + helper + "\" cmdline \"" + launchFile + "\"");

    EXPECT_FALSE(runner->runCommand(helper, {word("crash")}, 5000, error));
    EXPECT_EQ(error, "command exit 3221225477: " + helper + " crash");
}

}  // namespace
