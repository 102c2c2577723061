// The service executable in its run modes, as separate processes: start lines, the ways
// each mode ends, and the command line's edge cases.
#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "service/service_context.h"
#include "tests/support/environment.h"
#include "tests/support/service_client.h"
#include "tests/support/service_process.h"
#include "tests/support/temp_dir.h"
#include "vpn/system.h"

namespace {

using orvik_test::request;
using orvik_test::ServiceProcess;

const std::string kIdle = "{\"ok\":true,\"running\":false,\"error\":\"\"}";

std::string withoutCarriageReturns(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

class RunModes : public ::testing::Test {
protected:
    RunModes() {
        // A runtime directory the library's rule would pick: it holds Xray.
        fallback.write(vpn::joinPath("xray", vpn::xrayExecutableName()), "not really xray");
    }

    std::unique_ptr<ServiceProcess> launch(const std::vector<std::string>& arguments) {
        auto process = std::make_unique<ServiceProcess>(ORVIK_SERVICE_EXE, arguments, output.file("out.txt"));
        EXPECT_TRUE(process->started());
        return process;
    }
    // Starts the service and waits for its pipe.
    std::unique_ptr<ServiceProcess> launchServing(const std::vector<std::string>& arguments) {
        auto process = launch(arguments);
        EXPECT_TRUE(orvik_test::waitForPipe(pipe, 20000)) << printed();
        return process;
    }
    std::string printed() const { return withoutCarriageReturns(output.read("out.txt")); }
    std::string logText() const { return runtime.read("orvik-service.log"); }
    std::string consoleStart(const std::string& directory) const {
        return "OrvikService console mode. Pipe " + pipe + "\nRuntime " + directory + "\nCtrl+C to stop.\n";
    }
    // Ends a console or daemon mode service through the pipe and returns its exit code.
    std::optional<int> shutDown(ServiceProcess& process) {
        EXPECT_EQ(request(pipe, "{\"op\":\"shutdown\"}"), kIdle);
        return process.wait(10000);
    }

    orvik_test::TempDir runtime;
    orvik_test::TempDir fallback;
    orvik_test::TempDir output;
    std::string pipe = orvik_test::uniquePipeName(output.path());
    orvik_test::ScopedEnvironment pipeOverride{"ORVIK_PIPE", pipe};
    orvik_test::ScopedEnvironment runtimeOverride{"ORVIK_RUNTIME", fallback.path()};
    orvik_test::ScopedEnvironment notUnderSystemd{"INVOCATION_ID", std::nullopt};
};

TEST_F(RunModes, ConsoleModePrintsItsStartLinesAndStopsOnInterrupt) {
    auto service = launchServing({"--console", "--runtime", runtime.path()});
    EXPECT_EQ(request(pipe, "{\"op\":\"status\"}"), kIdle);
    const bool delivered = service->interrupt();
    const std::optional<int> code = service->wait(orvik_test::underWine() ? 3000 : 10000);
    if (!code && orvik_test::underWine()) GTEST_SKIP() << "wine delivered no console control event";
    EXPECT_TRUE(delivered);
    EXPECT_EQ(code, 0);
    const std::string lines = consoleStart(runtime.path()) + "ipc op=status\nstopped.\n";
    EXPECT_EQ(printed(), lines);
    EXPECT_EQ(logText(), lines);
}

TEST_F(RunModes, ShutdownEndsConsoleMode) {
    auto service = launchServing({"--console", "--runtime", runtime.path()});
    EXPECT_EQ(shutDown(*service), 0);
    EXPECT_EQ(logText(), consoleStart(runtime.path()) + "ipc op=shutdown\nstopped.\n");
}

TEST_F(RunModes, DaemonModeEndsWhenItsOwnerEnds) {
    ServiceProcess owner(ORVIK_PROCESS_HELPER, {"sleep", "60000"}, output.file("owner.txt"));
    ASSERT_TRUE(owner.started());
    auto service = launchServing({"--daemon", "--runtime", runtime.path(), "--owner-pid", std::to_string(owner.pid())});
    EXPECT_EQ(request(pipe, "{\"op\":\"disconnect\"}"), kIdle);
    owner.kill();
    EXPECT_EQ(service->wait(10000), 0);
    EXPECT_EQ(logText(), "daemon mode. runtime=" + runtime.path() +
                             "\nipc op=disconnect\nui process exited; stopping helper\ndaemon stopped\n");
    EXPECT_EQ(printed(), "") << "a daemon echoes nothing";
}

TEST_F(RunModes, ShutdownEndsDaemonMode) {
    auto service = launchServing({"--daemon", "--runtime", runtime.path()});
    EXPECT_EQ(shutDown(*service), 0);
    EXPECT_EQ(logText(), "daemon mode. runtime=" + runtime.path() + "\nipc op=shutdown\ndaemon stopped\n");
}

TEST_F(RunModes, ANonNumericOwnerPidStartsNoOwnerWatch) {
    auto service = launchServing({"--daemon", "--runtime", runtime.path(), "--owner-pid", "ui"});
    EXPECT_EQ(request(pipe, "{\"op\":\"status\"}"), kIdle);
    EXPECT_EQ(shutDown(*service), 0);
    EXPECT_EQ(logText().find("owner"), std::string::npos) << logText();
}

TEST_F(RunModes, AnOwnerThatIsGoneIsLoggedAndTheDaemonStaysUp) {
    std::vector<long> owners{2147483644};  // above every system's largest process id
    if (!orvik_test::underWine()) {  // wine keeps an ended process openable for a while
        ServiceProcess owner(ORVIK_PROCESS_HELPER, {"exit", "0"}, output.file("owner.txt"));
        EXPECT_EQ(owner.wait(10000), 0);
        owners.push_back(owner.pid());
    }
    for (const long gone : owners) {
        auto service = launchServing({"--daemon", "--runtime", runtime.path(), "--owner-pid", std::to_string(gone)});
        EXPECT_EQ(request(pipe, "{\"op\":\"status\"}"), kIdle);
        EXPECT_FALSE(service->wait(200)) << "still running";
        EXPECT_EQ(shutDown(*service), 0);
        const std::string log = logText();
        EXPECT_EQ(log.find("daemon mode. runtime=" + runtime.path() + "\nowner pid open failed err="), 0u) << log;
        EXPECT_EQ(log.find("ui process exited"), std::string::npos) << log;
        runtime.write("orvik-service.log", "");
    }
}

TEST_F(RunModes, RuntimeAsTheLastArgumentLeavesTheDefaultRule) {
    auto service = launchServing({"--console", "--runtime"});
    EXPECT_EQ(shutDown(*service), 0);
    EXPECT_EQ(printed(), consoleStart(fallback.path()) + "ipc op=shutdown\nstopped.\n");
    EXPECT_EQ(fallback.read("orvik-service.log"), printed());
}

TEST_F(RunModes, AnEmptyRuntimeKeepsTheBuiltInDirectory) {
    auto service = launchServing({"--runtime", "", "--console"});
    EXPECT_EQ(shutDown(*service), 0);
    EXPECT_EQ(printed(), consoleStart(service::builtInRuntimeDirectory()) + "ipc op=shutdown\nstopped.\n");
    EXPECT_FALSE(fallback.exists("orvik-service.log"));
}

TEST_F(RunModes, WithoutArgumentsAndOutsideTheServiceManagerItRunsInConsoleMode) {
    if (orvik_test::underWine()) GTEST_SKIP() << "wine's service dispatcher takes 10 s to refuse a console process";
    auto service = launchServing({});
    EXPECT_EQ(shutDown(*service), 0);
    EXPECT_EQ(printed(), consoleStart(fallback.path()) + "ipc op=shutdown\nstopped.\n");
}

TEST_F(RunModes, UnknownArgumentsAreIgnored) {
    auto service = launchServing({"--verbose", "--console", "-x", "--runtime", runtime.path(), "extra"});
    EXPECT_EQ(shutDown(*service), 0);
    EXPECT_EQ(printed().rfind(consoleStart(runtime.path()), 0), 0u) << printed();
}

}  // namespace
