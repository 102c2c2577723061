// Linux specifics of the process runner: signals, descriptors, the parent-death signal and
// the thread a job forks from.
#include "service/tunnel/process_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/support/process_probe.h"
#include "tests/support/temp_dir.h"

using namespace tunnel;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kHelper = ORVIK_PROCESS_HELPER;

long long millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::string waitAndRead(const orvik_test::TempDir& temp, const std::string& name) {
    const auto start = Clock::now();
    while (!temp.exists(name) && millisecondsSince(start) < 5000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return temp.read(name);
}

TEST(ProcessRunnerLinuxTest, CommandEndedBySignalIsReportedAsSuch) {
    auto runner = makeProcessRunner();
    std::string error;
    EXPECT_FALSE(runner->runCommand(kHelper, {word("crash")}, 5000, error));
    EXPECT_EQ(error, "command killed by signal 11: " + kHelper + " crash");
}

TEST(ProcessRunnerLinuxTest, ArgumentsArriveOneByOneWithoutQuotes) {
    orvik_test::TempDir temp;
    auto runner = makeProcessRunner();
    std::string error;
    ASSERT_TRUE(runner->runCommand(kHelper,
                                   {word("cmdline"), quotedArg(temp.file("args.txt")), quotedArg("name=", "Wi Fi 2"),
                                    quotedArg("$HOME;`id`"), quotedArg("")},
                                   5000, error))
        << error;
    EXPECT_EQ(temp.read("args.txt"),
              kHelper + "\ncmdline\n" + temp.file("args.txt") + "\nname=Wi Fi 2\n$HOME;`id`\n\n");
}

TEST(ProcessRunnerLinuxTest, ChildrenInheritNoDescriptorOfOurs) {
    orvik_test::TempDir temp;
    int leaky[2];
    ASSERT_EQ(::pipe(leaky), 0);  // deliberately without O_CLOEXEC
    const int file = ::open(temp.file("open.txt").c_str(), O_CREAT | O_RDWR, 0600);
    ASSERT_GE(file, 0);

    auto runner = makeProcessRunner();
    std::string error;
    ASSERT_TRUE(runner->runCommand(kHelper, {word("fds"), quotedArg(temp.file("command.txt"))}, 5000, error)) << error;
    auto job = runner->createJob(error);
    auto child = job->launch(kHelper, {word("fds"), quotedArg(temp.file("launched.txt"))}, "", error);
    ASSERT_TRUE(child) << error;
    EXPECT_EQ(waitAndRead(temp, "launched.txt"), "");
    EXPECT_EQ(temp.read("command.txt"), "");
    ::close(leaky[0]);
    ::close(leaky[1]);
    ::close(file);
}

// SIGTERM is ignored: the job's grace ends and SIGKILL follows.
TEST(ProcessRunnerLinuxTest, JobCloseKillsProcessesThatIgnoreTerm) {
    auto runner = makeProcessRunner();
    std::string error;
    auto job = runner->createJob(error);
    auto stubborn = job->launch(kHelper, {word("stubborn"), word("600000")}, "", error);
    ASSERT_TRUE(stubborn) << error;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let it ignore SIGTERM
    const auto start = Clock::now();
    job->close();
    EXPECT_FALSE(stubborn->isRunning());
    EXPECT_LT(millisecondsSince(start), 1000);

    job = runner->createJob(error);
    stubborn = job->launch(kHelper, {word("stubborn"), word("600000")}, "", error);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto terminateStart = Clock::now();
    stubborn->terminate(400);
    EXPECT_FALSE(stubborn->isRunning());
    EXPECT_LT(millisecondsSince(terminateStart), 600);
}

// The parent-death signal belongs to the forking thread: a job used from a thread that
// ends must not lose its processes.
TEST(ProcessRunnerLinuxTest, ProcessesOutliveTheThreadThatLaunchedThem) {
    auto runner = makeProcessRunner();
    std::string error;
    auto job = runner->createJob(error);
    std::unique_ptr<ChildProcess> child;
    std::thread([&] { child = job->launch(kHelper, {word("sleep"), word("600000")}, "", error); }).join();
    ASSERT_TRUE(child) << error;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(child->isRunning());
    job->close();
    EXPECT_FALSE(child->isRunning());
}

// A service that is killed outright takes its job's processes with it.
TEST(ProcessRunnerLinuxTest, ProcessesDieWithTheServiceThatHeldTheJob) {
    orvik_test::becomeSubreaper();
    orvik_test::TempDir temp;
    const std::string pidFile = temp.file("pid.txt");
    const pid_t service = ::fork();
    ASSERT_GE(service, 0);
    if (service == 0) {
        auto runner = makeProcessRunner();
        std::string error;
        auto job = runner->createJob(error);
        auto child = job->launch(kHelper, {word("pid-sleep"), quotedArg(pidFile)}, "", error);
        if (!child) ::_exit(1);
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
