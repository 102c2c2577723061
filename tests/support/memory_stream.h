#pragma once
// A byte stream over memory, for the service's framing and request handling without a pipe:
// reads come from `input` at most `chunk` bytes at a time, writes collect in `output`.
// Header-only so that the fuzz target, built on its own, uses it too.

#include <algorithm>
#include <cerrno>
#include <string>

#include "vpn/ipc_frame.h"

namespace orvik_test {

class MemoryStream : public vpn::ByteStream {
public:
    explicit MemoryStream(std::string in, size_t chunkSize = 1 << 20, std::string* sink = nullptr)
        : input(std::move(in)), chunk(chunkSize), out(sink ? sink : &output) {}

    void setDeadline(int) override {}
    size_t read(char* buffer, size_t size) override {
        const size_t count = std::min({size, chunk, input.size() - position});
        if (count == 0) code = EPIPE;
        input.copy(buffer, count, position);
        position += count;
        return count;
    }
    size_t write(const char* data, size_t size) override {
        if (failWrites) return 0;
        const size_t count = std::min(size, chunk);
        out->append(data, count);
        return count;
    }
    bool flush() override { return true; }
    unsigned long lastError() const override { return code; }

    std::string input;
    size_t chunk;
    size_t position = 0;
    std::string output;
    std::string* out;  // where writes go: `output` unless given (the fuzz target keeps each reply)
    bool failWrites = false;
    unsigned long code = 0;
};

}  // namespace orvik_test
