#pragma once
// The service's parts in this process (its pipe server on a real pipe, the connect over local
// account files and the fake machine) and the real executable.

#include <csignal>
#include <functional>
#include <future>
#include <new>

#include <gtest/gtest.h>

#include "service/connect_node.h"
#include "service/tunnel_supervisor.h"
#include "service/pipe_server.h"
#include "tests/support/environment.h"
#include "tests/support/fake_machine.h"
#include "tests/support/service_client.h"
#include "tests/support/service_process.h"
#include "tests/support/session_file.h"
#include "tests/support/temp_dir.h"
#include "vpn/runtime_directory.h"
#include "vpn/system.h"

namespace service_test {

inline const std::string kConnect = "{\"op\":\"connect\"}";
inline const std::string kStatus = "{\"op\":\"status\"}";
inline const std::string kShutdown = "{\"op\":\"shutdown\"}";
using orvik_test::kIdle;
using orvik_test::kUp;
inline std::string failed(const std::string& error, bool running = false) {
    return "{\"ok\":false,\"running\":" + std::string(running ? "true" : "false") + ",\"error\":\"" + error + "\"}";
}
inline const std::string kSession = orvik_test::LocalAccount{}.session();

// The connect over the control plane of the files in `runtime` and the fake machine, and its
// engine, served on `pipe` after serve(). Only "node.example" resolves (to 198.18.7.7);
// resolving "throws.example" throws, as nothing a client sends may end the service.
struct LocalConnect {
    LocalConnect() {
        tunnel.onToolExit([this](const std::string& tool) { supervisor.toolExited(tool); });
    }
    ~LocalConnect() { stop(); }
    // The local account, with one node named "lab" at `address`, and this user's session.
    void writeAccount(const std::string& address, bool signedIn = true) {
        orvik_test::LocalAccount{.address = address}.writeTo(runtime, signedIn);
    }
    // True once the pipe server listens; its result comes in `served`.
    bool serve() {
        serverLog.setPath(runtime.file("orvik-service.log"));
        listener = service::makePipeListener(pipe);
        served = std::async(std::launch::async, service::runPipeServer, runtime.path(), std::ref(*listener),
                            std::ref(requests));
        return orvik_test::waitForPipe(pipe, 10000);
    }
    void stop() {
        stopRequested = true;
        if (listener) listener->wake();
        EXPECT_TRUE(!served.valid() || served.wait_for(std::chrono::seconds(10)) == std::future_status::ready);
        service::setCurrentDirectory(here);  // the server made the runtime directory current
    }
    std::string log() const { return runtime.read("orvik-service.log"); }

    const std::string here = vpn::fullPathName(".").value_or(".");
    orvik_test::TempDir runtime;
    orvik_test::FakeMachine machine;
    tunnel::Tunnel tunnel{{machine, machine, machine, [](int) {}}};
    tunnel::LeakGuard guard{machine, runtime.file("kill-switch.json"), [](const std::string&) {}};
    service::ConnectSystem system{runtime.path(),
                                  [](const std::string& directory, const std::string& session) {
                                      return vpn::createControlPlane(directory, session);
                                  },
                                  [](const std::string& host, std::string& address, std::string& error) {
                                      if (host == "throws.example") throw std::bad_alloc();
                                      address = host == "node.example" ? "198.18.7.7" : "";
                                      error = address.empty() ? "no such host" : "";
                                      return !address.empty();
                                  },
                                  machine, tunnel, guard};
    service::TunnelEngine engine{system};
    service::TunnelSupervisor supervisor{engine, [](const std::string&) {}, {0, 0, 0}};
    std::string pipe = orvik_test::uniquePipeName(runtime.path());
    std::atomic<bool> stopRequested{false};
    const std::atomic<bool> shutdownEndsProcess{false};
    service::ServiceLog serverLog;
    service::RequestContext requests{serverLog, engine, stopRequested, shutdownEndsProcess};
    std::unique_ptr<service::PipeListener> listener;
    std::future<bool> served;
};

enum class Ending { none, interrupt, ownerEnds };

// One run of the executable: the requests it answers with the idle reply, how it is then
// ended, what it prints and a part of its log. RUNTIME, FALLBACK, BUILTIN, OWNER and PIPE
// stand for the directories, the owner's pid and the pipe.
struct RunMode {
    const char* name = {};
    std::vector<std::string> args = {};
    std::vector<std::string> ops = {};
    Ending ending = {};
    std::string printed = {};
    std::string logged = {};
    int signal = SIGINT;                           // of an interrupt on Linux
    std::optional<std::string> invocationId = {};  // set by systemd for its units
};

// The executable as a process on a pipe of its own in a directory it makes ("orvik").
class ServiceRun : public ::testing::Test {
protected:
    std::unique_ptr<orvik_test::ServiceProcess> launch(const std::vector<std::string>& arguments, bool serving = true) {
        auto process =
            std::make_unique<orvik_test::ServiceProcess>(ORVIK_SERVICE_EXE, arguments, output.file("out.txt"));
        EXPECT_TRUE(!serving || orvik_test::waitForPipe(pipe, 20000)) << output.read("out.txt");
        return process;
    }
    std::string log() const { return runtime.read("orvik-service.log"); }

    orvik_test::TempDir runtime;
    orvik_test::TempDir fallback;  // a runtime directory the library's rule picks: it holds Xray
    orvik_test::TempDir output;
    std::string pipe = orvik_test::uniquePipeName(output.file("orvik"));
    orvik_test::ScopedEnvironment pipeOverride{"ORVIK_PIPE", pipe};
    orvik_test::ScopedEnvironment runtimeOverride{"ORVIK_RUNTIME", fallback.path()};
};

class RunModes : public ServiceRun, public ::testing::WithParamInterface<RunMode> {};

}  // namespace service_test
