// The process runner on the running system, with a helper program this test starts itself:
// how commands ended, unsafe arguments, jobs that take their processes (and their children)
// with them, and the name walks that end strays.
#include "service/tunnel/process_runner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
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
        {{word("sleep"), word("60000")}, "command timed out: " + kHelper + " sleep 60000"},  // killed at 300 ms
    };
    for (const auto& [args, text] : failures) {
        EXPECT_FALSE(runner->runCommand(kHelper, args, 300, error));
        EXPECT_EQ(error, text);
    }
    EXPECT_FALSE(runner->runCommand("orvik-no-such-program", {word("x"), quotedArg("a b")}, 2000, error));
    EXPECT_EQ(error, "CreateProcess failed for: orvik-no-such-program x \"a b\" err=2");
    const std::string missing = temp.file("missing" + kExt);
    EXPECT_EQ(job->launch(missing, {word("run")}, "", error), nullptr);
    EXPECT_EQ(error, "CreateProcess failed for " + missing + " err=2");
}

TEST_F(ProcessRunnerTest, ArgumentsThatCannotBePassedSafelyStartNothing) {
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

// Only processes this test started, under a random name part no other process has; names
// may differ in case only, so each copy gets its own folder.
TEST_F(ProcessRunnerTest, NameWalksEndExactlyTheNamesMeantInAnyCase) {
    std::random_device random;
    std::string token;
    for (int i = 0; i < 4; ++i) token += "abcdefghijkmnpqrstuvwxyz23456789"[random() % 32];
    std::vector<std::unique_ptr<ChildProcess>> ended, kept;
    const std::pair<std::string, bool> names[] = {{"xray" + token, true},      {"XRAY" + token, true},
                                                  {"tun2socks" + token, true}, {"TUN2SOCKS" + token + "-x", true},
                                                  {"myxray" + token, false},   {"xray" + token + "-2", false},
                                                  {"my-tun2socks" + token, false}};
    for (const auto& [name, ends] : names) {
        const fs::path copy = fs::path(temp.file(std::to_string(ended.size() + kept.size()))) / (name + kExt);
        fs::create_directories(copy.parent_path());
        fs::copy_file(kHelper, copy);
        auto& into = ends ? ended : kept;
        into.push_back(job->launch(copy.string(), kSleep, "", error));
        ASSERT_TRUE(into.back()) << error;
    }
    runner->terminateByExactName("xray" + token + kExt);
    runner->terminateByPrefix("Tun2Socks" + token);
    for (auto& child : ended) EXPECT_TRUE(waitUntil([&] { return !child->isRunning(); }));
    for (auto& child : kept) EXPECT_TRUE(child->isRunning());
}

}  // namespace
