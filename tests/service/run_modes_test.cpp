// The service executable in its run modes, as separate processes.
#include "service/service_context.h"
#include "tests/service/service_fixture.h"

namespace {

using namespace service_test;

const std::string kDaemon = "daemon mode. runtime=RUNTIME\n";
const std::string kOpLine = "ipc op=shutdown\n";
std::string console(const std::string& runtime, const std::string& then) {
    return "OrvikService console mode. Pipe PIPE\nRuntime " + runtime + "\nCtrl+C to stop.\n" + then + "stopped.\n";
}

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
    EXPECT_FALSE(orvik_test::pipeListening(pipe));
}

INSTANTIATE_TEST_SUITE_P(
    Table, RunModes,
    ::testing::Values(
        // Without a runtime directory given, the library's rule picks one.
        RunMode{"ConsoleInterrupted", {"--console"}, {}, Ending::interrupt, console("FALLBACK", "")},
        RunMode{"DaemonShutdown", {"--daemon", "--runtime", "RUNTIME"}, {kShutdown}, Ending::none, "",
                kDaemon + kOpLine + "daemon stopped\n"},
        RunMode{"DaemonOwnerEnds", {"--daemon", "--runtime", "RUNTIME", "--owner-pid", "OWNER"}, {}, Ending::ownerEnds,
                "", kDaemon + "ui process exited; stopping helper\ndaemon stopped\n"},
        RunMode{"DaemonOwnerGone", {"--daemon", "--runtime", "RUNTIME", "--owner-pid", "2147483644"}, {kShutdown},
                Ending::none, "", "owner pid open failed err="},
        RunMode{"EmptyRuntime", {"--runtime", "", "--console"}, {kShutdown}, Ending::none, console("BUILTIN", kOpLine)},
        RunMode{"NoArgumentsOutsideTheServiceManager", {}, {kShutdown}, Ending::none, console("FALLBACK", kOpLine)}),
    [](const ::testing::TestParamInfo<RunMode>& row) { return row.param.name; });

}  // namespace
