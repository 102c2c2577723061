#pragma once
// The client end of the service pipe for tests, on the client's own connector: raw bytes in,
// everything the service sends until it closes out, with time-outs so that a test never
// hangs on a silent service.

#include <memory>
#include <optional>
#include <string>

#include "vpn/ipc_frame.h"

namespace orvik_test {

// The service's replies while the tunnel is up and while there is none.
inline const std::string kUp = "{\"ok\":true,\"running\":true,\"error\":\"\"}";
inline const std::string kIdle = "{\"ok\":true,\"running\":false,\"error\":\"\"}";

// A pipe name that no other test uses: "\\.\pipe\orvik-test-<pid>-<n>" on Windows, a
// socket path in `directory` on Linux.
std::string uniquePipeName(const std::string& directory);

// The frame of `payload` as the product writes it (1 to 65536 bytes).
std::string frame(const std::string& payload);

class ServiceClient {
public:
    // Connects, retrying while the pipe is missing or busy for up to `timeoutMs`.
    explicit ServiceClient(const std::string& pipe, int timeoutMs = 10000);
    bool connected() const { return stream_ != nullptr; }
    bool send(const std::string& bytes);
    // Everything received until the service closes the connection; nothing when it is still
    // open after `timeoutMs`.
    std::optional<std::string> receiveUntilClosed(int timeoutMs);
    void close() { stream_.reset(); }

private:
    std::unique_ptr<vpn::ByteStream> stream_;
};

// One request: its reply payload, or nothing when the service sent not exactly one frame.
std::optional<std::string> request(const std::string& pipe, const std::string& payload, int timeoutMs = 30000);

// True when a server listens on `pipe`, found without connecting (no log line on the service).
bool pipeListening(const std::string& pipe);
// Waits up to `timeoutMs` for pipeListening.
bool waitForPipe(const std::string& pipe, int timeoutMs);

}  // namespace orvik_test
