#pragma once
// A stand-in for the connection service on a real pipe (Windows) or Unix socket (Linux),
// served by the service's own listener, with scripted replies. It records every request
// payload it reads.
//
// Usage:
//   orvik_test::TempDir dir;
//   orvik_test::FakeService fake(orvik_test::uniquePipeName(dir.path()),
//       [](const std::string&) { return std::string(R"({"ok":true,"running":false,"error":""})"); });
//   ASSERT_TRUE(fake.start());          // listening when it returns true
//   ... point the client at fake.pipe() ...
//   fake.requests();                    // the payloads received, in order
//
// Scripts returning a FakeReply can also send raw bytes (FakeReply::raw(frame(...)), a
// length prefix of 0 or 65537), close without a reply (FakeReply::none()), or stop listening
// after the reply (stopAfter, like "shutdown" ending a daemon). Delays: sleep in the script.
// FakeService::lookalike() answers like the real service with a tunnel state of its own.
// Link: orvik_fake_service (orvik_test_support brings it along).

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vpn {
class ByteStream;
}

namespace orvik_test {

// What the stand-in does with one request.
struct FakeReply {
    std::string bytes;      // written as they are; empty writes nothing
    bool stopAfter = false; // stop listening once this connection is closed

    static FakeReply payload(const std::string& json);  // one frame holding `json`
    static FakeReply raw(std::string bytes);
    static FakeReply none();  // close without a reply
};

// Behaviour of FakeService::lookalike().
struct LookalikeOptions {
    int connectDelayMs = 0;     // how long a "connect" takes
    std::string connectError;   // not empty: "connect" fails with this text
};

class FakeService {
public:
    using Responder = std::function<std::string(const std::string& request)>;  // reply payload
    using Script = std::function<FakeReply(const std::string& request)>;

    FakeService(std::string pipe, Responder responder);
    FakeService(std::string pipe, Script script);
    ~FakeService();  // stops
    FakeService(const FakeService&) = delete;
    FakeService& operator=(const FakeService&) = delete;

    // Starts serving; true once the pipe accepts connections (false after `timeoutMs`).
    bool start(int timeoutMs = 10000);
    // Stops serving and waits until the pipe is gone. A script still running is waited for.
    void stop();
    // True while the serving thread runs (also after a stopAfter reply, until it is closed).
    bool serving() const { return serving_; }
    // Waits until the pipe accepts connections again (Windows: after each connection there is
    // a moment without an instance).
    bool waitListening(int timeoutMs = 5000) const;

    const std::string& pipe() const { return pipe_; }
    std::vector<std::string> requests() const;
    size_t connections() const { return connections_; }  // accepted, with or without a request
    // Waits until `count` requests were read.
    bool waitForRequests(size_t count, int timeoutMs) const;

    // Answers like the real service: status / connect / disconnect / shutdown with a tunnel
    // state of its own; "shutdown" stops listening after the reply; other ops "op not allowed".
    static Script lookalike(LookalikeOptions options = {});

private:
    void serve();
    void handle(vpn::ByteStream& connection);

    std::string pipe_;
    Script script_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> serving_{false};
    std::atomic<size_t> connections_{0};
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> requests_;
    std::function<void()> wake_;  // set by the serving thread while its listener lives
};

// True when a server listens on `pipe`, without connecting to it.
bool fakePipeListening(const std::string& pipe);

}  // namespace orvik_test
