#pragma once
// Stand-ins for the service tests: an engine that records the ops instead of starting a
// tunnel, and a byte stream over memory.

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "vpn/ipc_frame.h"
#include "service/request_handler.h"

namespace service_test {

class FakeEngine : public service::Engine {
public:
    bool connect(const std::string& node, const service::Caller&, std::string& error) override {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back("connect " + node);
        if (throwOnConnect) throw std::bad_alloc();
        if (!connectError.empty()) {
            error = connectError;
            return false;
        }
        isRunning = true;
        return true;
    }
    void stop() override {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back("stop");
        isRunning = false;
    }
    bool running() override {
        std::lock_guard<std::mutex> lock(mutex);
        return isRunning;
    }
    std::vector<std::string> recorded() {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }

    std::mutex mutex;
    std::vector<std::string> calls;
    std::string connectError;  // connect fails with this text when set
    bool throwOnConnect = false;
    bool isRunning = false;
};

// Reads come from `input` at most `chunk` bytes at a time; writes collect in `output`.
class MemoryStream : public vpn::ByteStream {
public:
    explicit MemoryStream(std::string in, size_t chunkSize = 1 << 20) : input(std::move(in)), chunk(chunkSize) {}

    void setDeadline(int milliseconds) override { deadlines.push_back(milliseconds); }
    size_t read(char* buffer, size_t size) override {
        const size_t count = std::min({size, chunk, input.size() - position});
        if (count == 0) {
            code = EPIPE;
            return 0;
        }
        input.copy(buffer, count, position);
        position += count;
        return count;
    }
    size_t write(const char* data, size_t size) override {
        if (failWrites) return 0;
        const size_t count = std::min(size, chunk);
        output.append(data, count);
        return count;
    }
    bool flush() override {
        ++flushes;
        return true;
    }
    unsigned long lastError() const override { return code; }

    std::string input;
    size_t chunk;
    size_t position = 0;
    std::string output;
    bool failWrites = false;
    int flushes = 0;
    unsigned long code = 0;
    std::vector<int> deadlines;
};

}  // namespace service_test
