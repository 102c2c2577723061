// Linux specifics of the process runner: arguments one by one, signals, descriptors, and the
// processes of a job that ignore SIGTERM or outlive the service that held the job.
#include "service/tunnel/process_runner.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/process_probe.h"
#include "tests/support/temp_dir.h"

using namespace tunnel;
using orvik_test::readWhenWritten;

namespace {

const std::string kHelper = ORVIK_PROCESS_HELPER;

class ProcessRunnerLinuxTest : public ::testing::Test {
protected:
    orvik_test::TempDir temp;
    std::unique_ptr<ProcessRunner> runner = makeProcessRunner();
    std::string error;
    std::unique_ptr<Job> job = runner->createJob(error);
};

// Arguments arrive one by one and untouched, no descriptor of ours reaches a command or a
// launched process, and a signal is reported as such.
TEST_F(ProcessRunnerLinuxTest, ArgumentsDescriptorsAndSignals) {
    int leaky[2];
    ASSERT_EQ(::pipe(leaky), 0);  // deliberately without O_CLOEXEC
    const std::string args = temp.file("args.txt");
    ASSERT_TRUE(runner->runCommand(
        kHelper, {word("cmdline"), quotedArg(args), quotedArg("name=", "Wi Fi 2"), quotedArg("$HOME;`id`"), quotedArg("")},
        5000, error))
        << error;
    EXPECT_EQ(temp.read("args.txt"), kHelper + "\ncmdline\n" + args + "\nname=Wi Fi 2\n$HOME;`id`\n\n");
    ASSERT_TRUE(runner->runCommand(kHelper, {word("fds"), quotedArg(temp.file("command.txt"))}, 5000, error)) << error;
    ASSERT_TRUE(job->launch(kHelper, {word("fds"), quotedArg(temp.file("launched.txt"))}, "", error)) << error;
    EXPECT_TRUE(orvik_test::waitUntil([&] { return temp.exists("launched.txt"); }));
    EXPECT_EQ(temp.read("command.txt") + temp.read("launched.txt"), "");
    ::close(leaky[0]);
    ::close(leaky[1]);
    EXPECT_FALSE(runner->runCommand(kHelper, {word("crash")}, 5000, error));
    EXPECT_EQ(error, "command killed by signal 11: " + kHelper + " crash");
}

// SIGTERM is ignored: the grace of a job's close or of terminate ends and SIGKILL follows.
TEST_F(ProcessRunnerLinuxTest, ProcessesThatIgnoreTermAreKilled) {
    for (bool wholeJob : {true, false}) {
        const std::string ready = temp.file(wholeJob ? "job.txt" : "one.txt");
        auto stubborn = job->launch(kHelper, {word("stubborn"), quotedArg(ready)}, "", error);
        ASSERT_TRUE(stubborn) << error;
        ASSERT_NE(readWhenWritten(ready), "") << "the helper ignores SIGTERM once it has written";
        if (wholeJob) {
            job->close();
            job = runner->createJob(error);
        } else {
            stubborn->terminate(400);
        }
        EXPECT_TRUE(orvik_test::waitUntil([&] { return !stubborn->isRunning(); })) << wholeJob;
    }
}

// A service that is killed outright takes its job's processes with it.
TEST_F(ProcessRunnerLinuxTest, ProcessesDieWithTheServiceThatHeldTheJob) {
    orvik_test::becomeSubreaper();
    job.reset();  // no job thread of ours in the forked copy
    const pid_t service = ::fork();
    ASSERT_GE(service, 0);
    if (service == 0) {
        auto own = runner->createJob(error);
        if (!own || !own->launch(kHelper, {word("pid-sleep"), quotedArg(temp.file("pid.txt"))}, "", error)) ::_exit(1);
        ::pause();
        ::_exit(0);
    }
    const std::string pidText = readWhenWritten(temp.file("pid.txt"));
    ASSERT_FALSE(pidText.empty());
    const long pid = std::stol(pidText);
    ASSERT_FALSE(orvik_test::waitProcessGone(pid, 0));
    ::kill(service, SIGKILL);
    ::waitpid(service, nullptr, 0);
    EXPECT_TRUE(orvik_test::waitProcessGone(pid, 10000));
}

}  // namespace
