// The service's command line, and the executable in its run modes as separate processes:
// start lines, the ways each mode ends, and the command line's edge cases.
#include <gtest/gtest.h>

#include "service/command_line.h"
#include "service/service_context.h"
#include "tests/support/environment.h"
#include "tests/support/service_client.h"
#include "tests/support/service_process.h"
#include "vpn/system.h"

namespace {

using service::Mode;

struct Parsed {
    std::vector<std::string> args = {};
    Mode mode = {};
    std::string runtime = {};  // "-" : not given
    int32_t ownerPid = 0;
};

TEST(CommandLine, ModesValuesAndOwnerPid) {
    const std::vector<Parsed> table = {
        {{"--console", "--daemon"}, Mode::daemon, "-"},
        {{"--daemon", "--uninstall", "--console"}, Mode::uninstall, "-"},
        {{"--uninstall", "--install"}, Mode::install, "-"},
        {{"--CONSOLE", "-console", "console", "--console=1"}, Mode::service, "-"},  // compared whole
        {{"--runtime", "/a", "--daemon", "--runtime", "/b"}, Mode::daemon, "/b"},
        {{"--runtime", "--console"}, Mode::service, "--console"},  // a value is taken as it is
        {{"--console", "--runtime"}, Mode::console, "-"},          // as the last: ignored
        {{"--runtime", "/a", "--runtime", ""}, Mode::service, "/a"},
        {{"--owner-pid", "12abc"}, Mode::service, "-", 12},
        {{"--owner-pid", "  -7"}, Mode::service, "-", -7},
        {{"--owner-pid", "- 5"}, Mode::service, "-"},
        {{"--owner-pid", "99999999999"}, Mode::service, "-", 2147483647},
        {{"--owner-pid", "-99999999999"}, Mode::service, "-", -2147483647 - 1},
    };
    for (const Parsed& row : table) {
        const service::CommandLine line = service::parseCommandLine(row.args);
        SCOPED_TRACE(testing::PrintToString(row.args));
        EXPECT_EQ(line.mode, row.mode);
        EXPECT_EQ(line.runtimeGiven ? line.runtimeDirectory : "-", row.runtime);
        EXPECT_EQ(line.ownerPid, row.ownerPid);
    }
}

enum class Ending { shutdown, interrupt, ownerEnds };

// RUNTIME, FALLBACK, BUILTIN, OWNER and PIPE stand for the directories, the owner's pid and
// the pipe.
struct RunMode {
    const char* name = {};
    std::vector<std::string> args = {};
    Ending ending = {};
    std::string printed = {};
    std::string logged = {};  // a part of the log in RUNTIME
};

const std::string kConsole = "OrvikService console mode. Pipe PIPE\nRuntime RUNTIME\nCtrl+C to stop.\n";
const std::string kDaemon = "daemon mode. runtime=RUNTIME\n";

class RunModes : public ::testing::TestWithParam<RunMode> {
protected:
    std::string fill(std::string text) const {
        for (const auto& [word, value] : {std::pair<std::string, std::string>{"RUNTIME", runtime.path()},
                                          {"FALLBACK", fallback.path()},
                                          {"BUILTIN", service::builtInRuntimeDirectory()},
                                          {"OWNER", std::to_string(owner.pid())},
                                          {"PIPE", pipe}})
            for (size_t at; (at = text.find(word)) != std::string::npos;) text.replace(at, word.size(), value);
        return text;
    }

    orvik_test::TempDir runtime;
    orvik_test::TempDir fallback;  // a runtime directory the library's rule picks: it holds Xray
    orvik_test::TempDir output;
    std::string pipe = orvik_test::uniquePipeName(output.path());
    orvik_test::ScopedEnvironment pipeOverride{"ORVIK_PIPE", pipe};
    orvik_test::ScopedEnvironment runtimeOverride{"ORVIK_RUNTIME", fallback.path()};
    orvik_test::ScopedEnvironment notUnderSystemd{"INVOCATION_ID", std::nullopt};
    orvik_test::ServiceProcess owner{ORVIK_PROCESS_HELPER, {"sleep", "60000"}, output.file("owner.txt")};
};

TEST_P(RunModes, StartLinesAndEnding) {
    const RunMode& mode = GetParam();
    if (orvik_test::underWine() && mode.args.empty()) GTEST_SKIP() << "wine's service dispatcher takes 10 s to refuse";
    fallback.write(vpn::joinPath("xray", vpn::xrayExecutableName()), "not really xray");
    std::vector<std::string> args;
    for (const std::string& arg : mode.args) args.push_back(fill(arg));
    orvik_test::ServiceProcess service(ORVIK_SERVICE_EXE, args, output.file("out.txt"));
    ASSERT_TRUE(orvik_test::waitForPipe(pipe, 20000)) << output.read("out.txt");
    if (mode.ending == Ending::shutdown) {
        EXPECT_EQ(orvik_test::request(pipe, "{\"op\":\"shutdown\"}"), "{\"ok\":true,\"running\":false,\"error\":\"\"}");
    } else if (mode.ending == Ending::ownerEnds) {
        owner.kill();
    } else {
        const bool delivered = service.interrupt();
        if (!service.wait(orvik_test::underWine() ? 3000 : 10000) && orvik_test::underWine())
            GTEST_SKIP() << "wine delivered no console control event";
        EXPECT_TRUE(delivered);
    }
    EXPECT_EQ(service.wait(10000), 0);
    std::string printed = output.read("out.txt");
    std::erase(printed, '\r');
    EXPECT_EQ(printed, fill(mode.printed));
    const std::string log = runtime.read("orvik-service.log");
    EXPECT_NE(log.find(fill(mode.logged)), std::string::npos) << log;
    EXPECT_EQ(log.find("ui process exited") != std::string::npos, mode.ending == Ending::ownerEnds) << log;
    EXPECT_FALSE(orvik_test::pipeListening(pipe));
}

INSTANTIATE_TEST_SUITE_P(
    Table, RunModes,
    ::testing::Values(
        RunMode{"ConsoleInterrupted", {"--console", "--runtime", "RUNTIME"}, Ending::interrupt, kConsole + "stopped.\n",
                kConsole + "stopped.\n"},
        RunMode{"ConsoleShutdown", {"--console", "--runtime", "RUNTIME"}, Ending::shutdown,
                kConsole + "ipc op=shutdown\nstopped.\n", kConsole + "ipc op=shutdown\nstopped.\n"},
        RunMode{"DaemonShutdown", {"--daemon", "--runtime", "RUNTIME"}, Ending::shutdown, "",
                kDaemon + "ipc op=shutdown\ndaemon stopped\n"},
        RunMode{"DaemonOwnerEnds", {"--daemon", "--runtime", "RUNTIME", "--owner-pid", "OWNER"}, Ending::ownerEnds, "",
                kDaemon + "ui process exited; stopping helper\ndaemon stopped\n"},
        RunMode{"DaemonOwnerGone", {"--daemon", "--runtime", "RUNTIME", "--owner-pid", "2147483644"}, Ending::shutdown, "",
                "owner pid open failed err="},
        RunMode{"RuntimeAsTheLastArgument", {"--console", "--runtime"}, Ending::shutdown,
                "OrvikService console mode. Pipe PIPE\nRuntime FALLBACK\nCtrl+C to stop.\nipc op=shutdown\nstopped.\n"},
        RunMode{"EmptyRuntime", {"--runtime", "", "--console"}, Ending::shutdown,
                "OrvikService console mode. Pipe PIPE\nRuntime BUILTIN\nCtrl+C to stop.\nipc op=shutdown\nstopped.\n"},
        RunMode{"NoArgumentsOutsideTheServiceManager", {}, Ending::shutdown,
                "OrvikService console mode. Pipe PIPE\nRuntime FALLBACK\nCtrl+C to stop.\nipc op=shutdown\nstopped.\n"}),
    [](const ::testing::TestParamInfo<RunMode>& row) { return row.param.name; });

}  // namespace
