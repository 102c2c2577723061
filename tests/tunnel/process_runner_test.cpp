// The process runner with a helper program: how commands ended, arguments exact or refused,
// jobs that take their processes (and children) along, and the walk that ends strays;
// on Linux also descriptors, SIGTERM ignored, and a service killed outright.
#include "service/tunnel/process_runner.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "tests/support/process_probe.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using namespace tunnel;
using orvik_test::readWhenWritten;
using orvik_test::waitUntil;

namespace {

const std::string kHelper = fs::path(ORVIK_PROCESS_HELPER).make_preferred().string();
const std::string kExt = fs::path(kHelper).extension().string();
const CommandArgs kSleep = {word("sleep"), word("600000")};
#ifdef _WIN32
const std::string kCrashed = "command exit 3221225477: ";  // unsigned
#else
const std::string kCrashed = "command killed by signal 11: ";
#endif

class ProcessRunnerTest : public ::testing::Test {
protected:
    std::unique_ptr<ProcessRunner> runner = makeProcessRunner();
    orvik_test::TempDir temp;
    std::string error;
    std::unique_ptr<Job> job = runner->createJob(error);
};

TEST_F(ProcessRunnerTest, CommandsReportHowTheyEnded) {
    ASSERT_TRUE(job) << error;
    EXPECT_TRUE(runner->runCommand(kHelper, {word("exit"), word("0")}, 5000, error)) << error;
    const std::pair<CommandArgs, std::string> failures[] = {
        {{word("exit"), word("42")}, "command exit 42: " + kHelper + " exit 42"},
        {{word("crash")}, kCrashed + kHelper + " crash"},
        {{word("sleep"), word("60000")}, "command timed out: " + kHelper + " sleep 60000"},  // killed at 300 ms
    };
    for (const auto& [args, text] : failures) {
        EXPECT_FALSE(runner->runCommand(kHelper, args, args[0].text == "sleep" ? 300 : 10000, error));
        EXPECT_EQ(error, text);
    }
    EXPECT_FALSE(runner->runCommand("orvik-no-such-program", {word("x"), quotedArg("a b")}, 2000, error));
    EXPECT_EQ(error, "CreateProcess failed for: orvik-no-such-program x \"a b\" err=2");
    const std::string missing = temp.file("missing" + kExt);
    EXPECT_EQ(job->launch(missing, {word("run")}, "", error), nullptr);
    EXPECT_EQ(error, "CreateProcess failed for " + missing + " err=2");
}

// Arguments reach a command and a launched process exactly (one by one on Linux, as the
// rendered command line on Windows); one that cannot be passed safely starts nothing.
TEST_F(ProcessRunnerTest, ArgumentsArriveExactlyOrStartNothing) {
    const std::string file = temp.file("args.txt"), launched = temp.file("launched.txt");
    ASSERT_TRUE(runner->runCommand(kHelper, {word("cmdline"), quotedArg(file), quotedArg("name=", "Wi Fi 2"),
                                             quotedArg("$HOME;`id`"), quotedArg("")}, 5000, error)) << error;
    ASSERT_TRUE(job->launch(kHelper, {word("cmdline"), quotedArg(launched)}, "", error)) << error;
#ifdef _WIN32
    EXPECT_EQ(temp.read("args.txt"), kHelper + " cmdline \"" + file + "\" name=\"Wi Fi 2\" \"$HOME;`id`\" \"\"");
    EXPECT_EQ(readWhenWritten(launched), "\"" + kHelper + "\" cmdline \"" + launched + "\"");
#else
    EXPECT_EQ(temp.read("args.txt"), kHelper + "\ncmdline\n" + file + "\nname=Wi Fi 2\n$HOME;`id`\n\n");
    EXPECT_EQ(readWhenWritten(launched), kHelper + "\ncmdline\n" + launched + "\n");
#endif
    const std::string marker = temp.file("started.txt");
    for (const CommandArg& bad : {quotedArg("say \"hi\""), word("two words"), word(""),
                                  quotedArg("name=", std::string("a\0b", 3)), quotedArg("x=\"", "y")}) {
        const CommandArgs args = {word("cmdline"), quotedArg(marker), bad};
        EXPECT_FALSE(runner->runCommand(kHelper, args, 5000, error));
        EXPECT_NE(error.find("command argument rejected"), std::string::npos) << error;
        error.clear();
        EXPECT_EQ(job->launch(kHelper, args, "", error), nullptr);
        EXPECT_NE(error.find("command argument rejected"), std::string::npos) << error;
    }
    EXPECT_FALSE(fs::exists(marker));
}

// A relative file name lands in the directory the process was given. Closing the job (or
// destroying it) ends its processes and their children, also one launched from a thread that
// has ended since: Linux ties a job's processes to the life of a thread.
TEST_F(ProcessRunnerTest, JobProcessesRunWhereToldUntilTerminatedOrTheJobEnds) {
    orvik_test::becomeSubreaper();
    std::unique_ptr<ChildProcess> sleeper, parent;
    std::thread([&] { sleeper = job->launch(kHelper, kSleep, "", error); }).join();
    parent = job->launch(kHelper, {word("spawn-sleeper"), quotedArg("grandchild.txt")}, temp.path(), error);
    ASSERT_TRUE(sleeper && parent) << error;
    const long grandchild = std::stol("0" + readWhenWritten(temp.file("grandchild.txt")));
    EXPECT_TRUE(sleeper->isRunning()) << "the launching thread's end took the process along";
    sleeper->terminate(10000);
    EXPECT_FALSE(sleeper->isRunning());
    sleeper->terminate(10000);  // already ended: nothing happens
    job->close();
    EXPECT_TRUE(waitUntil([&] { return !parent->isRunning(); }));
    EXPECT_TRUE(orvik_test::waitProcessGone(grandchild, 10000));
    job->close();  // repeated: nothing left to do
    EXPECT_EQ(job->launch(kHelper, kSleep, "", error), nullptr);

    job = runner->createJob(error);
    sleeper = job->launch(kHelper, kSleep, "", error);
    ASSERT_TRUE(sleeper) << error;
    job.reset();
    EXPECT_TRUE(waitUntil([&] { return !sleeper->isRunning(); }));
}

// A process's end is told once, by its watch, when it ends on its own; a watch ended first
// tells nothing (the tunnel ends its watches before it ends the tools on purpose).
TEST_F(ProcessRunnerTest, AnEndIsToldByItsWatchOnlyWhileWatched) {
    auto dying = job->launch(kHelper, kSleep, "", error);
    auto stopped = job->launch(kHelper, kSleep, "", error);
    ASSERT_TRUE(dying && stopped) << error;
    std::atomic<int> dyingEnds{0}, stoppedEnds{0};
    const auto dyingWatch = dying->watchExit([&] { ++dyingEnds; });
    auto stoppedWatch = stopped->watchExit([&] { ++stoppedEnds; });
    stoppedWatch.reset();
    stopped->terminate(10000);
    dying->terminate(10000);  // as another program would end it
    EXPECT_TRUE(waitUntil([&] { return dyingEnds == 1; }));
    EXPECT_EQ(stoppedEnds, 0);
}

// Only our runs of the very files given end: a copy of the same name elsewhere goes on, and so
// (Linux, as root) does the same file run by another user.
TEST_F(ProcessRunnerTest, TheStrayWalkEndsOnlyOurRunsOfTheGivenFiles) {
    const std::string tool = temp.file("tool/xray" + kExt), copy = temp.file("copy/xray" + kExt);
    for (const std::string& file : {tool, copy}) {
        fs::create_directories(fs::path(file).parent_path());
        fs::copy_file(kHelper, file);
    }
    auto ours = job->launch(tool, kSleep, "", error);
    auto copied = job->launch(copy, kSleep, "", error);
    ASSERT_TRUE(ours && copied) << error;
#ifndef _WIN32
    pid_t users = -1;
    if (::geteuid() == 0) {
        fs::permissions(temp.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
        users = ::fork();
        if (users == 0) {
            if (::setgid(65534) == 0 && ::setuid(65534) == 0) ::execl(tool.c_str(), tool.c_str(), "sleep", "600000", nullptr);
            ::_exit(127);
        }
        const std::string exe = "/proc/" + std::to_string(users) + "/exe";  // once it runs the tool, not our fork
        EXPECT_TRUE(waitUntil([&] { std::error_code e; return fs::read_symlink(exe, e) == fs::canonical(tool); }));
    }
#endif
    runner->terminateStrays({tool});
    EXPECT_TRUE(waitUntil([&] { return !ours->isRunning(); }));
    EXPECT_TRUE(copied->isRunning());
#ifndef _WIN32
    if (users > 0) {
        int status = 0;
        EXPECT_EQ(::waitpid(users, &status, WNOHANG), 0) << "another user's run of the file ended, status " << status;
        ::kill(users, SIGKILL);
        ::waitpid(users, &status, 0);
    }
#endif
}

#ifndef _WIN32
// No descriptor of ours reaches a command or a launched process.
TEST_F(ProcessRunnerTest, NoDescriptorLeaksIntoAChild) {
    int leaky[2];
    ASSERT_EQ(::pipe(leaky), 0);  // deliberately without O_CLOEXEC
    ASSERT_TRUE(runner->runCommand(kHelper, {word("fds"), quotedArg(temp.file("command.txt"))}, 5000, error)) << error;
    ASSERT_TRUE(job->launch(kHelper, {word("fds"), quotedArg(temp.file("launched.txt"))}, "", error)) << error;
    EXPECT_TRUE(orvik_test::waitUntil([&] { return temp.exists("launched.txt"); }));
    EXPECT_EQ(temp.read("command.txt") + temp.read("launched.txt"), "");
    ::close(leaky[0]);
    ::close(leaky[1]);
}

// SIGTERM is ignored: the grace of a job's close or of terminate ends and SIGKILL follows.
TEST_F(ProcessRunnerTest, ProcessesThatIgnoreTermAreKilled) {
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
TEST_F(ProcessRunnerTest, ProcessesDieWithTheServiceThatHeldTheJob) {
    orvik_test::becomeSubreaper();
    job.reset();  // no job thread of ours in the forked copy
    const pid_t service = ::fork();
    ASSERT_GE(service, 0);
    if (service == 0) {
        auto own = runner->createJob(error);
        if (!own || !own->launch(kHelper, {word("pid-sleep"), quotedArg(temp.file("pid.txt"))}, "", error)) ::_exit(1);
        for (;;) ::pause();
    }
    const long pid = std::stol("0" + readWhenWritten(temp.file("pid.txt")));
    ASSERT_GT(pid, 0);
    ASSERT_FALSE(orvik_test::waitProcessGone(pid, 0));
    ::kill(service, SIGKILL);
    ::waitpid(service, nullptr, 0);
    EXPECT_TRUE(orvik_test::waitProcessGone(pid, 10000));
}
#endif

}  // namespace
