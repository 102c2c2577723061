#pragma once
// The service's pipe server in this process, on a real pipe (a named pipe under wine, a Unix
// socket on Linux), over an engine of the test's choice; and an engine that records the ops
// instead of starting a tunnel.

#include <atomic>
#include <future>
#include <mutex>
#include <new>

#include <gtest/gtest.h>

#include "service/pipe_server.h"
#include "tests/support/service_client.h"
#include "tests/support/temp_dir.h"
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
    std::vector<std::string> recorded() {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

    std::string connectError;  // connect fails with this text when set
    bool throwOnConnect = false;
    std::atomic<bool> isRunning{false};

private:
    void record(const std::string& call) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(call);
    }
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

}  // namespace service_test
