#pragma once
// A stand-in for the connection service on a real pipe (Windows) or Unix socket (Linux):
// the service's own listener and framing, with scripted replies (a payload, raw bytes, none,
// or the end of listening after the reply, like "shutdown" ending a daemon). It records
// every request payload it reads. Link: orvik_fake_service.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/service_client.h"

namespace orvik_test {

// What the stand-in does with one request.
struct FakeReply {
    std::string bytes;      // written as they are; empty writes nothing
    bool stopAfter = false; // stop listening once this connection is closed

    static FakeReply payload(const std::string& json) { return FakeReply{frame(json), false}; }
    static FakeReply raw(std::string bytes) { return FakeReply{std::move(bytes), false}; }
    static FakeReply none() { return FakeReply{}; }
};

class FakeService {
public:
    using Responder = std::function<std::string(const std::string& request)>;  // reply payload
    using Script = std::function<FakeReply(const std::string& request)>;

    FakeService(std::string pipe, Responder responder);
    FakeService(std::string pipe, Script script) : pipe_(std::move(pipe)), script_(std::move(script)) {}
    ~FakeService() { stop(); }
    FakeService(const FakeService&) = delete;
    FakeService& operator=(const FakeService&) = delete;

    // Starts serving; true once the pipe accepts connections (false after `timeoutMs`).
    bool start(int timeoutMs = 10000);
    // Stops serving and waits until the pipe is gone. A script still running is waited for.
    void stop();

    std::vector<std::string> requests() const;
    // Waits until `count` requests were read.
    bool waitForRequests(size_t count, int timeoutMs) const;

private:
    void serve();

    std::string pipe_;
    Script script_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> serving_{false};
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> requests_;
    std::function<void()> wake_;  // set by the serving thread while its listener lives
};

}  // namespace orvik_test
