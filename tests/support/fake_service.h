#pragma once
// A stand-in for the connection service on a real pipe (Windows) or Unix socket (Linux):
// the service's own listener and framing, with scripted replies (a payload, raw bytes, none,
// or the end of listening after the reply, like "shutdown" ending a daemon). It records
// every request payload it reads. Beside it, a script that answers like the service, and a
// launcher that starts none. Link: orvik_fake_service.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/engine/service_launcher.h"
#include "service/ipc_message.h"
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

// The stand-in's answer to one "connect"; `beforeTunnel`: it failed before touching the
// running tunnel, which stays up.
struct Step { int delayMs = 0; bool fails = false; std::string error; bool beforeTunnel = false; };
using Steps = std::vector<Step>;
inline Step ok(int delayMs = 0) { return {delayMs, false, {}, false}; }
inline Step fail(std::string error, int delayMs = 0) { return {delayMs, true, std::move(error), false}; }
inline Step failBeforeTunnel(std::string error) { return {0, true, std::move(error), true}; }

// Like the service, the script keeps a tunnel: a "connect" that succeeds brings one up, one
// that fails has stopped it (unless before touching it), a stop ends it. Each "connect" takes
// the next step set; with none left it succeeds at once. A failed connect that asked for the
// kill switch leaves the network blocked until a stop. Answers in a FakeService's script.
class ServiceScript {
public:
    void set(const Steps& steps) {
        std::lock_guard<std::mutex> lock(mutex_);
        steps_.assign(steps.begin(), steps.end());
    }
    FakeReply answer(const std::string& payload) {
        const service::Request request = service::parseRequest(payload);
        Step step;
        std::unique_lock<std::mutex> lock(mutex_);
        if (request.op == "connect" && !steps_.empty()) {
            step = steps_.front();
            steps_.pop_front();
        }
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(step.delayMs));
        if (request.op == "connect" && !step.beforeTunnel) running = !step.fails;
        if (request.op == "connect") blocked = step.fails && request.options.killSwitch;
        if (request.op == "disconnect" || request.op == "shutdown") running = blocked = false;
        std::unique_lock<std::mutex> shownLock(mutex_);
        const service::TunnelState state = shown_;
        shownLock.unlock();
        auto reply = FakeReply::payload(service::buildReply(!step.fails, running, step.error, blocked, state, others && running));
        reply.stopAfter = request.op == "shutdown";  // like the daemon, which ends
        return reply;
    }
    // The tunnel's state as the service's recovery reports it.
    void show(bool up, const service::TunnelState& state) {
        std::lock_guard<std::mutex> lock(mutex_);
        running = up;
        shown_ = state;
    }
    std::atomic<bool> running{false};
    std::atomic<bool> blocked{false};
    std::atomic<bool> others{false};  // the tunnel is another user's

private:
    std::mutex mutex_;
    std::deque<Step> steps_;
    service::TunnelState shown_;
};

// Nobody starts a service: the stand-in already listens, or none may run.
struct NoLauncher : engine::ServiceLauncher {
    Outcome launch(const engine::LaunchCommand&, unsigned long& code) override { return code = 1223, Outcome::declined; }
    Outcome poll(unsigned long&) override { return Outcome::declined; }
};

}  // namespace orvik_test
