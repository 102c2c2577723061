// The service's command line, and the executable in its run modes as separate processes:
// start lines, the ways each mode ends, and the command line's edge cases.
#include "service/command_line.h"
#include "service/service_context.h"
#include "tests/service/service_fixture.h"

namespace {

using service::Mode;
using service_test::Ending;
using service_test::RunMode;
using service_test::RunModes;

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

const std::string kIdle = "{\"ok\":true,\"running\":false,\"error\":\"\"}";
const std::string kConsole = "OrvikService console mode. Pipe PIPE\nRuntime RUNTIME\nCtrl+C to stop.\n";
const std::string kDaemon = "daemon mode. runtime=RUNTIME\n";
const std::vector<std::string> kShutdown = {"{\"op\":\"shutdown\"}"};

TEST_P(RunModes, StartLinesAndEnding) {
    const RunMode& mode = GetParam();
    if (orvik_test::underWine() && mode.args.empty()) GTEST_SKIP() << "wine's service dispatcher takes 10 s to refuse";
    orvik_test::ServiceProcess owner(ORVIK_PROCESS_HELPER, {"sleep", "60000"}, output.file("owner.txt"));
    const auto fill = [&](std::string text) {
        for (const auto& [word, value] : {std::pair<std::string, std::string>{"RUNTIME", runtime.path()},
                                          {"FALLBACK", fallback.path()},
                                          {"BUILTIN", service::builtInRuntimeDirectory()},
                                          {"OWNER", std::to_string(owner.pid())},
                                          {"PIPE", pipe}})
            for (size_t at; (at = text.find(word)) != std::string::npos;) text.replace(at, word.size(), value);
        return text;
    };
    fallback.write(vpn::joinPath("xray", vpn::xrayExecutableName()), "not really xray");
    const orvik_test::ScopedEnvironment systemd("INVOCATION_ID", mode.invocationId);
    std::vector<std::string> args;
    for (const std::string& arg : mode.args) args.push_back(fill(arg));
    auto service = launch(args);
    for (const std::string& op : mode.ops) EXPECT_EQ(orvik_test::request(pipe, op), kIdle) << op;
    if (mode.ending == Ending::ownerEnds) owner.kill();
    if (mode.ending == Ending::interrupt) {
        const bool delivered = service->interrupt(mode.signal);
        if (!service->wait(orvik_test::underWine() ? 3000 : 10000) && orvik_test::underWine())
            GTEST_SKIP() << "wine delivered no console control event";
        EXPECT_TRUE(delivered);
    }
    EXPECT_EQ(service->wait(10000), 0);
    std::string printed = output.read("out.txt");
    std::erase(printed, '\r');
    EXPECT_EQ(printed, fill(mode.printed));
    EXPECT_NE(log().find(fill(mode.logged)), std::string::npos) << log();
    EXPECT_EQ(log().find("ui process exited") != std::string::npos, mode.ending == Ending::ownerEnds) << log();
    EXPECT_FALSE(orvik_test::pipeListening(pipe));
}

INSTANTIATE_TEST_SUITE_P(
    Table, RunModes,
    ::testing::Values(
        RunMode{"ConsoleInterrupted", {"--console", "--runtime", "RUNTIME"}, {}, Ending::interrupt,
                kConsole + "stopped.\n", kConsole + "stopped.\n"},
        RunMode{"ConsoleShutdown", {"--console", "--runtime", "RUNTIME"}, kShutdown, Ending::none,
                kConsole + "ipc op=shutdown\nstopped.\n", kConsole + "ipc op=shutdown\nstopped.\n"},
        RunMode{"DaemonShutdown", {"--daemon", "--runtime", "RUNTIME"}, kShutdown, Ending::none, "",
                kDaemon + "ipc op=shutdown\ndaemon stopped\n"},
        RunMode{"DaemonOwnerEnds", {"--daemon", "--runtime", "RUNTIME", "--owner-pid", "OWNER"}, {}, Ending::ownerEnds,
                "", kDaemon + "ui process exited; stopping helper\ndaemon stopped\n"},
        RunMode{"DaemonOwnerGone", {"--daemon", "--runtime", "RUNTIME", "--owner-pid", "2147483644"}, kShutdown,
                Ending::none, "", "owner pid open failed err="},
        RunMode{"RuntimeAsTheLastArgument", {"--console", "--runtime"}, kShutdown, Ending::none,
                "OrvikService console mode. Pipe PIPE\nRuntime FALLBACK\nCtrl+C to stop.\nipc op=shutdown\nstopped.\n"},
        RunMode{"EmptyRuntime", {"--runtime", "", "--console"}, kShutdown, Ending::none,
                "OrvikService console mode. Pipe PIPE\nRuntime BUILTIN\nCtrl+C to stop.\nipc op=shutdown\nstopped.\n"},
        RunMode{"NoArgumentsOutsideTheServiceManager", {}, kShutdown, Ending::none,
                "OrvikService console mode. Pipe PIPE\nRuntime FALLBACK\nCtrl+C to stop.\nipc op=shutdown\nstopped.\n"}),
    [](const ::testing::TestParamInfo<RunMode>& row) { return row.param.name; });

}  // namespace
