#pragma once
// The service's parts in this process: its pipe server on a real pipe (a named pipe under
// wine, a Unix socket on Linux) over an engine of the test's choice, an engine that records
// the ops instead of starting a tunnel, and the connect over the local account files and the
// fake machine. And the real executable in its run modes, with directories of its own.

#include <atomic>
#include <csignal>
#include <future>
#include <mutex>
#include <new>
#include <optional>

#include <gtest/gtest.h>

#include "service/connect_node.h"
#include "service/pipe_server.h"
#include "tests/support/environment.h"
#include "tests/support/fake_machine.h"
#include "tests/support/service_client.h"
#include "tests/support/service_process.h"
#include "tests/support/temp_dir.h"
#include "vpn/runtime_directory.h"
#include "vpn/system.h"

namespace service_test {

class FakeEngine : public service::Engine {
public:
    bool connect(const std::string& node, const service::Caller&, std::string& error) override {
        record("connect " + node);
        if (throwOnConnect) throw std::bad_alloc();
        error = connectError;
        isRunning = isRunning || error.empty();
        return error.empty();
    }
    void stop() override {
        record("stop");
        isRunning = false;
    }
    bool running() override { return isRunning; }
    void record(const std::string& call) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(call);
    }
    std::vector<std::string> recorded() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

    std::string connectError;  // connect fails with this text when set
    bool throwOnConnect = false;
    std::atomic<bool> isRunning{false};

private:
    std::mutex mutex_;
    std::vector<std::string> calls_;
};

// Serves `pipe` until stop(); the log goes to `logPath`.
class ServedPipe {
public:
    ServedPipe(service::Engine& engine, const std::string& pipe, const std::string& logPath)
        : context_{log_, engine, stopRequested, shutdownEndsProcess}, listener_(service::makePipeListener(pipe)) {
        log_.setPath(logPath);
        // The server makes the runtime directory current: keep this process's own.
        const std::string here = vpn::fullPathName(".").value_or(".");
        finished_ = std::async(std::launch::async, [this, here] { return service::runPipeServer(here, *listener_, context_); });
    }
    ~ServedPipe() { stop(); }

    // The server's result once it ended within `timeoutMs`.
    std::optional<bool> ended(int timeoutMs) {
        if (finished_.valid() && finished_.wait_for(std::chrono::milliseconds(timeoutMs)) == std::future_status::ready)
            result_ = finished_.get();
        return result_;
    }
    void stop() {
        if (!finished_.valid()) return;
        stopRequested = true;
        listener_->wake();
        EXPECT_TRUE(ended(10000));
    }

    std::atomic<bool> stopRequested{false};
    std::atomic<bool> shutdownEndsProcess{false};

private:
    service::ServiceLog log_;
    service::RequestContext context_;
    std::unique_ptr<service::PipeListener> listener_;
    std::future<bool> finished_;
    std::optional<bool> result_;
};

// The local account, with one node named "lab" at `address`.
inline std::string localAccount(const std::string& address, const std::string& expireAt = "2099-12-31") {
    return R"({"email":"lab@example.com","password":"pw","expireAt":")" + expireAt +
           R"(","nodeName":"lab","address":")" + address + R"(","port":443,"uuid":"3b8a4f5e-1c2d-4e6f-8a9b-0c1d2e3f4a5b",
 "sni":"www.example.com","publicKey":"Z84J2IelR9ch3k8VtlVhhs5ycBUlXA7wHBWcBrjqnAw"})";
}
inline const std::string kSession = "{\"email\":\"lab@example.com\",\"expireAt\":\"2099-12-31\"}\n";

// The connect op over the control plane of the files in `runtime` and the fake machine; only
// "node.example" resolves (to 198.18.7.7).
struct LocalConnect {
    orvik_test::TempDir runtime;
    orvik_test::FakeMachine machine;
    tunnel::Tunnel tunnel{{machine, machine, machine, [](int) {}}};
    service::ConnectSystem system{runtime.path(),
                                  [](const std::string& directory, const std::string& session) {
                                      return vpn::createControlPlane(directory, session);
                                  },
                                  [](const std::string& host, std::string& address, std::string& error) {
                                      address = host == "node.example" ? "198.18.7.7" : "";
                                      error = address.empty() ? "no such host" : "";
                                      return !address.empty();
                                  },
                                  machine, tunnel};
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
        auto process = std::make_unique<orvik_test::ServiceProcess>(ORVIK_SERVICE_EXE, arguments, output.file("out.txt"));
        if (serving) {
            EXPECT_TRUE(orvik_test::waitForPipe(pipe, 20000)) << output.read("out.txt");
        }
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
