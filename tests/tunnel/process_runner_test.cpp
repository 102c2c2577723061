// The process runner on the running system, with a helper program this test starts itself:
// how commands ended, unsafe arguments, jobs that take their processes (and their children)
// with them, and the name walks that end strays.
#include "service/tunnel/process_runner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "tests/support/process_probe.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using namespace tunnel;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kHelper = fs::path(ORVIK_PROCESS_HELPER).make_preferred().string();
const std::string kExt = fs::path(kHelper).extension().string();
const CommandArgs kSleep = {word("sleep"), word("600000")};

template <typename Predicate>
bool eventually(Predicate predicate, int timeoutMs = 3000) {
    for (const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs); !predicate();
         std::this_thread::sleep_for(std::chrono::milliseconds(5)))
        if (Clock::now() > end) return false;
    return true;
}

class ProcessRunnerTest : public ::testing::Test {
protected:
    std::unique_ptr<ProcessRunner> runner = makeProcessRunner();
    orvik_test::TempDir temp;
    std::string error;
    std::unique_ptr<Job> job = runner->createJob(error);

    // The helper renames a finished file into place; under wine the renamed file can still
    // refuse a reader for a moment, so wait for content rather than for the name.
    std::string readWhenWritten(const std::string& name) {
        std::string content;
        EXPECT_TRUE(eventually([&] { return !(content = temp.read(name)).empty(); }, 5000)) << name;
        return content;
    }
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
    for (const CommandArg& bad : {quotedArg("say \"hi\""), word("two words"), word(""), quotedArg("name=", std::string("a\0b", 3)),
                           quotedArg("x=\"", "y")}) {
        const CommandArgs args = {word("cmdline"), quotedArg(marker), bad};
        EXPECT_FALSE(runner->runCommand(kHelper, args, 5000, error));
        EXPECT_NE(error.find("command argument rejected"), std::string::npos) << error;
        error.clear();
        EXPECT_EQ(job->launch(kHelper, args, "", error), nullptr);
        EXPECT_NE(error.find("command argument rejected"), std::string::npos) << error;
    }
    EXPECT_FALSE(fs::exists(marker));
}

TEST_F(ProcessRunnerTest, LaunchedProcessRunsInTheGivenDirectoryUntilTerminated) {
    ASSERT_TRUE(job->launch(kHelper, {word("cwd"), quotedArg(temp.file("cwd.txt"))}, temp.file("."), error)) << error;
    const std::string reported = readWhenWritten("cwd.txt");
    std::error_code ignored;
    EXPECT_TRUE(fs::equivalent(reported, temp.path(), ignored)) << "reported: " << reported;

    auto sleeper = job->launch(kHelper, kSleep, "", error);
    ASSERT_TRUE(sleeper) << error;
    EXPECT_TRUE(sleeper->isRunning());
    sleeper->terminate(800);
    EXPECT_FALSE(sleeper->isRunning());
    sleeper->terminate(800);  // already ended: nothing happens
}

TEST_F(ProcessRunnerTest, ClosingOrDestroyingTheJobEndsItsProcessesAndTheirChildren) {
    orvik_test::becomeSubreaper();
    auto sleeper = job->launch(kHelper, kSleep, "", error),
         parent = job->launch(kHelper, {word("spawn-sleeper"), quotedArg(temp.file("grandchild.txt"))}, "", error);
    ASSERT_TRUE(sleeper && parent) << error;
    const long grandchild = std::stol(readWhenWritten("grandchild.txt"));
    job->close();
    EXPECT_TRUE(eventually([&] { return !sleeper->isRunning() && !parent->isRunning(); }));
    EXPECT_TRUE(orvik_test::waitProcessGone(grandchild, 2000));
    job->close();  // repeated: nothing left to do
    EXPECT_EQ(job->launch(kHelper, {word("sleep"), word("1")}, "", error), nullptr);

    job = runner->createJob(error);
    sleeper = job->launch(kHelper, kSleep, "", error);
    ASSERT_TRUE(sleeper) << error;
    job.reset();
    EXPECT_TRUE(eventually([&] { return !sleeper->isRunning(); }));
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
    EXPECT_TRUE(eventually([&] { return std::none_of(ended.begin(), ended.end(), [](auto& c) { return c->isRunning(); }); }));
    for (auto& child : kept) EXPECT_TRUE(child->isRunning());
}

}  // namespace
