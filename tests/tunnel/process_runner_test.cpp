// The process runner on the running system: commands with exit codes and time-outs, jobs
// that take their processes (and their children) with them, and the name walks, all with a
// helper program this test starts itself.
#include "service/tunnel/process_runner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "tests/support/process_probe.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using namespace tunnel;
using Clock = std::chrono::steady_clock;

namespace {

std::string nativePath(const std::string& path) { return fs::path(path).make_preferred().string(); }

const std::string& helper() {
    static const std::string path = nativePath(ORVIK_PROCESS_HELPER);
    return path;
}

long long millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

template <typename Predicate>
bool eventually(Predicate predicate, int timeoutMs) {
    const auto start = Clock::now();
    while (!predicate()) {
        if (millisecondsSince(start) > timeoutMs) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A short random name part, so that the name walks only ever meet this test's processes.
std::string uniqueToken() {
    std::random_device random;
    const char* letters = "abcdefghijkmnpqrstuvwxyz23456789";
    std::string token;
    for (int i = 0; i < 4; ++i) token += letters[random() % 32];
    return token;
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

class ProcessRunnerTest : public ::testing::Test {
protected:
    std::unique_ptr<ProcessRunner> runner = makeProcessRunner();
    orvik_test::TempDir temp;

    std::unique_ptr<Job> newJob() {
        std::string error;
        auto job = runner->createJob(error);
        EXPECT_TRUE(job) << error;
        return job;
    }

    // A copy of the helper under `name` (plus the platform's executable extension).
    std::string helperCopy(const std::string& directory, const std::string& name) {
        const fs::path target = fs::path(temp.file(directory)) / (name + fs::path(helper()).extension().string());
        fs::create_directories(target.parent_path());
        fs::copy_file(helper(), target, fs::copy_options::overwrite_existing);
        return target.string();
    }

    // The helper renames a finished file into place; under wine the renamed file can still
    // refuse a reader for a moment, so wait for content rather than for the name.
    std::string readWhenWritten(const std::string& path) {
        std::string content;
        EXPECT_TRUE(eventually(
            [&] {
                content = temp.read(fs::path(path).filename().string());
                return !content.empty();
            },
            5000))
            << path;
        return content;
    }
};

TEST_F(ProcessRunnerTest, ExitCodeZeroSucceedsAndOtherCodesAreReported) {
    std::string error;
    EXPECT_TRUE(runner->runCommand(helper(), {word("exit"), word("0")}, 5000, error)) << error;
    EXPECT_EQ(error, "");

    EXPECT_FALSE(runner->runCommand(helper(), {word("exit"), word("1")}, 5000, error));
    EXPECT_EQ(error, "command exit 1: " + helper() + " exit 1");

    EXPECT_FALSE(runner->runCommand(helper(), {word("exit"), word("42")}, 5000, error));
    EXPECT_EQ(error, "command exit 42: " + helper() + " exit 42");
}

TEST_F(ProcessRunnerTest, CommandStillRunningAtTheTimeOutIsKilledAndReported) {
    std::string error;
    const auto start = Clock::now();
    EXPECT_FALSE(runner->runCommand(helper(), {word("sleep"), word("60000")}, 300, error));
    const long long elapsed = millisecondsSince(start);
    EXPECT_EQ(error, "command timed out: " + helper() + " sleep 60000");
    EXPECT_GE(elapsed, 290);
    EXPECT_LT(elapsed, 1300 + 1000) << "killed at the time-out, with at most the 1000 ms wait after it";
}

TEST_F(ProcessRunnerTest, MissingProgramAndMissingExecutableGiveErrorTwo) {
    std::string error;
    EXPECT_FALSE(runner->runCommand("orvik-no-such-program", {word("x"), quotedArg("a b")}, 2000, error));
    EXPECT_EQ(error, "CreateProcess failed for: orvik-no-such-program x \"a b\" err=2");

    auto job = newJob();
    const std::string missing = temp.file("missing" + fs::path(helper()).extension().string());
    error.clear();
    EXPECT_EQ(job->launch(missing, {word("run")}, "", error), nullptr);
    EXPECT_EQ(error, "CreateProcess failed for " + missing + " err=2");
}

TEST_F(ProcessRunnerTest, ArgumentsThatCannotBePassedSafelyStartNothing) {
    const std::string marker = temp.file("started.txt");
    const std::vector<CommandArgs> rejected = {
        {word("cmdline"), quotedArg(marker), quotedArg("say \"hi\"")},
        {word("cmdline"), quotedArg(marker), word("two words")},
        {word("cmdline"), quotedArg(marker), word("")},
        {word("cmdline"), quotedArg(marker), quotedArg("name=", std::string("a\0b", 3))},
        {word("cmdline"), quotedArg(marker), quotedArg("x=\"", "y")},
    };
    auto job = newJob();
    for (const CommandArgs& args : rejected) {
        std::string error;
        EXPECT_FALSE(runner->runCommand(helper(), args, 5000, error));
        EXPECT_NE(error.find("command argument rejected"), std::string::npos) << error;
        error.clear();
        EXPECT_EQ(job->launch(helper(), args, "", error), nullptr);
        EXPECT_NE(error.find("command argument rejected"), std::string::npos) << error;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(fs::exists(marker));
}

TEST_F(ProcessRunnerTest, LaunchedProcessRunsInTheGivenDirectoryUntilTerminated) {
    auto job = newJob();
    std::string error;
    const std::string output = temp.file("cwd.txt");
    auto reporter = job->launch(helper(), {word("cwd"), quotedArg(output)}, temp.file("."), error);
    ASSERT_TRUE(reporter) << error;
    const std::string reported = readWhenWritten(output);
    std::error_code ignored;
    EXPECT_TRUE(fs::equivalent(reported, temp.path(), ignored)) << "reported: " << reported;

    auto sleeper = job->launch(helper(), {word("sleep"), word("600000")}, "", error);
    ASSERT_TRUE(sleeper) << error;
    EXPECT_TRUE(sleeper->isRunning());
    const auto start = Clock::now();
    sleeper->terminate(800);
    EXPECT_FALSE(sleeper->isRunning());
    EXPECT_LT(millisecondsSince(start), 800 + 200);
    sleeper->terminate(800);  // already ended: nothing happens
}

TEST_F(ProcessRunnerTest, ClosingTheJobEndsItsProcessesAndTheirChildren) {
    orvik_test::becomeSubreaper();
    auto job = newJob();
    std::string error;
    auto sleeper = job->launch(helper(), {word("sleep"), word("600000")}, "", error);
    ASSERT_TRUE(sleeper) << error;
    const std::string pidFile = temp.file("grandchild.txt");
    auto parent = job->launch(helper(), {word("spawn-sleeper"), quotedArg(pidFile)}, "", error);
    ASSERT_TRUE(parent) << error;
    const long grandchild = std::stol(readWhenWritten(pidFile));
    ASSERT_FALSE(orvik_test::waitProcessGone(grandchild, 0));

    const auto start = Clock::now();
    job->close();
    EXPECT_TRUE(eventually([&] { return !sleeper->isRunning() && !parent->isRunning(); }, 2000));
    EXPECT_TRUE(orvik_test::waitProcessGone(grandchild, 2000));
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    EXPECT_LT(elapsed, 1000000);
    RecordProperty("job_close_to_all_gone_us", std::to_string(elapsed));

    job->close();  // repeated: nothing left to do
    EXPECT_EQ(job->launch(helper(), {word("sleep"), word("1")}, "", error), nullptr);
}

TEST_F(ProcessRunnerTest, DestroyingTheJobEndsItsProcesses) {
    std::unique_ptr<ChildProcess> sleeper;
    {
        auto job = newJob();
        std::string error;
        sleeper = job->launch(helper(), {word("sleep"), word("600000")}, "", error);
        ASSERT_TRUE(sleeper) << error;
    }
    EXPECT_TRUE(eventually([&] { return !sleeper->isRunning(); }, 2000));
}

// Only processes this test started, under names no other process has.
TEST_F(ProcessRunnerTest, ExactNameWalkEndsOnlyThatNameInAnyCase) {
    const std::string token = uniqueToken();
    const std::string ext = fs::path(helper()).extension().string();
    auto job = newJob();
    std::string error;
    auto launch = [&](const std::string& dir, const std::string& name) {
        auto child = job->launch(helperCopy(dir, name), {word("sleep"), word("600000")}, "", error);
        EXPECT_TRUE(child) << error;
        return child;
    };
    auto exact = launch("a", "xray" + token);
    auto upperCase = launch("b", upper("xray" + token));
    auto containing = launch("c", "myxray" + token);
    auto longer = launch("d", "xray" + token + "-2");
    ASSERT_TRUE(exact && upperCase && containing && longer);

    runner->terminateByExactName("xray" + token + ext);
    EXPECT_TRUE(eventually([&] { return !exact->isRunning() && !upperCase->isRunning(); }, 3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(containing->isRunning());
    EXPECT_TRUE(longer->isRunning());
}

TEST_F(ProcessRunnerTest, PrefixWalkEndsEveryNameThatBeginsWithIt) {
    const std::string token = uniqueToken();
    auto job = newJob();
    std::string error;
    auto launch = [&](const std::string& dir, const std::string& name) {
        auto child = job->launch(helperCopy(dir, name), {word("sleep"), word("600000")}, "", error);
        EXPECT_TRUE(child) << error;
        return child;
    };
    auto plain = launch("a", "tun2socks" + token);
    auto suffixed = launch("b", upper("tun2socks" + token) + "-x");
    auto other = launch("c", "my-tun2socks" + token);
    ASSERT_TRUE(plain && suffixed && other);

    runner->terminateByPrefix("Tun2Socks" + token);
    EXPECT_TRUE(eventually([&] { return !plain->isRunning() && !suffixed->isRunning(); }, 3000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(other->isRunning());
}

TEST(CommandLineTest, RendersTheLinesOfTheTunnelByteForByte) {
    EXPECT_EQ(commandLine("netsh",
                          {word("interface"), word("ipv4"), word("set"), word("address"), quotedArg("name=", "Wi-Fi 2"),
                           word("source=static"), word("addr=192.168.123.1"), word("mask=255.255.255.0")},
                          false),
              "netsh interface ipv4 set address name=\"Wi-Fi 2\" source=static addr=192.168.123.1 "
              "mask=255.255.255.0");
    EXPECT_EQ(commandLine("C:\\rt\\xray\\xray.exe", {word("run"), word("-c"), quotedArg("C:\\rt\\session.json.xray.json")},
                          true),
              "\"C:\\rt\\xray\\xray.exe\" run -c \"C:\\rt\\session.json.xray.json\"");
    EXPECT_EQ(commandLine("C:\\Program Files\\tool.exe", {quotedArg("")}, false), "\"C:\\Program Files\\tool.exe\" \"\"");
    EXPECT_EQ(plainArgument(quotedArg("name=", "Wi-Fi 2")), "name=Wi-Fi 2");
}

}  // namespace
