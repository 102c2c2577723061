// Linux specifics of the process runner: arguments one by one, signals, descriptors, the
// parent-death signal and the thread a job forks from.
#include "service/tunnel/process_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/support/process_probe.h"
#include "tests/support/temp_dir.h"

using namespace tunnel;

namespace {

const std::string kHelper = ORVIK_PROCESS_HELPER;

std::string waitAndRead(const orvik_test::TempDir& temp, const std::string& name) {
    for (int i = 0; i < 1000 && !temp.exists(name); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return temp.read(name);
}

class ProcessRunnerLinuxTest : public ::testing::Test {
protected:
    orvik_test::TempDir temp;
    std::unique_ptr<ProcessRunner> runner = makeProcessRunner();
    std::string error;
    std::unique_ptr<Job> job = runner->createJob(error);
};

TEST_F(ProcessRunnerLinuxTest, ArgumentsArriveOneByOneAndASignalIsReportedAsSuch) {
    const std::string file = temp.file("args.txt");
    ASSERT_TRUE(runner->runCommand(
        kHelper, {word("cmdline"), quotedArg(file), quotedArg("name=", "Wi Fi 2"), quotedArg("$HOME;`id`"), quotedArg("")},
        5000, error))
        << error;
    EXPECT_EQ(temp.read("args.txt"), kHelper + "\ncmdline\n" + file + "\nname=Wi Fi 2\n$HOME;`id`\n\n");
    EXPECT_FALSE(runner->runCommand(kHelper, {word("crash")}, 5000, error));
    EXPECT_EQ(error, "command killed by signal 11: " + kHelper + " crash");
}

TEST_F(ProcessRunnerLinuxTest, ChildrenInheritNoDescriptorOfOurs) {
    int leaky[2];
    ASSERT_EQ(::pipe(leaky), 0);  // deliberately without O_CLOEXEC
    const int file = ::open(temp.file("open.txt").c_str(), O_CREAT | O_RDWR, 0600);
    ASSERT_GE(file, 0);
    ASSERT_TRUE(runner->runCommand(kHelper, {word("fds"), quotedArg(temp.file("command.txt"))}, 5000, error)) << error;
    ASSERT_TRUE(job->launch(kHelper, {word("fds"), quotedArg(temp.file("launched.txt"))}, "", error)) << error;
    EXPECT_EQ(waitAndRead(temp, "launched.txt"), "");
    EXPECT_EQ(temp.read("command.txt"), "");
    for (int fd : {leaky[0], leaky[1], file}) ::close(fd);
}

// SIGTERM is ignored: the grace of a job's close or of terminate ends and SIGKILL follows.
TEST_F(ProcessRunnerLinuxTest, ProcessesThatIgnoreTermAreKilled) {
    for (bool wholeJob : {true, false}) {
        auto stubborn = job->launch(kHelper, {word("stubborn"), word("600000")}, "", error);
        ASSERT_TRUE(stubborn) << error;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let it ignore SIGTERM
        if (wholeJob) {
            job->close();
            job = runner->createJob(error);
        } else {
            stubborn->terminate(400);
        }
        EXPECT_FALSE(stubborn->isRunning()) << wholeJob;
    }
}

// The parent-death signal belongs to the forking thread: a job used from a thread that
// ends must not lose its processes.
TEST_F(ProcessRunnerLinuxTest, ProcessesOutliveTheThreadThatLaunchedThem) {
    std::unique_ptr<ChildProcess> child;
    std::thread([&] { child = job->launch(kHelper, {word("sleep"), word("600000")}, "", error); }).join();
    ASSERT_TRUE(child) << error;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(child->isRunning());
    job->close();
    EXPECT_FALSE(child->isRunning());
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
    const std::string pidText = waitAndRead(temp, "pid.txt");
    ASSERT_FALSE(pidText.empty());
    const long pid = std::stol(pidText);
    ASSERT_FALSE(orvik_test::waitProcessGone(pid, 0));
    ::kill(service, SIGKILL);
    ::waitpid(service, nullptr, 0);
    EXPECT_TRUE(orvik_test::waitProcessGone(pid, 2000));
}

}  // namespace
