#pragma once
// The client end of the service pipe for tests (named pipe / Unix socket): raw bytes in,
// everything the service sends until it closes out, with time-outs so that a test never
// hangs on a silent service.

#include <optional>
#include <string>

namespace orvik_test {

// A pipe name that no other test uses: "\\.\pipe\orvik-test-<pid>-<n>" on Windows, a
// socket path in `directory` on Linux.
std::string uniquePipeName(const std::string& directory);

// The frame of `payload`: 4-byte little-endian length, then the bytes.
std::string frame(const std::string& payload);
// The payload of the single frame in `bytes`; nothing when `bytes` is not exactly one frame.
std::optional<std::string> unframe(const std::string& bytes);

class ServiceClient {
public:
    // Connects, retrying while the pipe is missing or busy for up to `timeoutMs`.
    explicit ServiceClient(const std::string& pipe, int timeoutMs = 10000);
    ~ServiceClient();
    ServiceClient(const ServiceClient&) = delete;
    ServiceClient& operator=(const ServiceClient&) = delete;

    bool connected() const;
    bool send(const std::string& bytes);
    // Everything received until the service closes the connection; nothing when it is still
    // open after `timeoutMs`.
    std::optional<std::string> receiveUntilClosed(int timeoutMs);
    void close();

private:
    struct Impl;
    Impl* impl_;
};

// One request: its reply payload, or nothing when the service sent no whole frame.
std::optional<std::string> request(const std::string& pipe, const std::string& payload, int timeoutMs = 30000);

// True once a server listens on `pipe` (without connecting to it: no log line on the service).
bool waitForPipe(const std::string& pipe, int timeoutMs);

}  // namespace orvik_test
