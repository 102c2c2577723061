// libFuzzer target for what clients can send the service: the server loop, the frame reader,
// the request reader and the handler's reply. The input is what arrives on each of two
// connections served at the same time, delivered in pieces whose sizes the input's first byte
// chooses. Checks for any input: a request that cannot be read gets no reply; every other gets
// exactly one frame holding a valid JSON reply with "ok", "running" and "error" in that order,
// also when the engine throws; log text carries no control characters.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "vpn/ipc_frame.h"
#include "service/ipc_message.h"
#include "service/pipe_server.h"
#include "service/request_handler.h"
#include "service/service_log.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

class InputStream : public vpn::ByteStream {
public:
    InputStream(std::string input, size_t piece) : input_(std::move(input)), piece_(piece) {}
    void setDeadline(int) override {}
    size_t read(char* buffer, size_t size) override {
        const size_t count = std::min({size, piece_, input_.size() - position_});
        input_.copy(buffer, count, position_);
        position_ += count;
        return count;
    }
    size_t write(const char* data, size_t size) override {
        output.append(data, size);
        return size;
    }
    bool flush() override { return true; }
    unsigned long lastError() const override { return 0; }

    std::string output;

private:
    std::string input_;
    size_t piece_;
    size_t position_ = 0;
};

// Connects to anything but fails for nodes that begin with "x", with the node in the text,
// and throws for nodes that begin with "!".
class Engine : public service::Engine {
public:
    bool connect(const std::string& node, const service::Caller&, std::string& error) override {
        if (!node.empty() && node[0] == '!') throw std::runtime_error("engine failure");
        if (!node.empty() && node[0] == 'x') {
            error = "cannot reach " + node;
            return false;
        }
        up = true;
        return true;
    }
    void stop() override { up = false; }
    bool running() override { return up; }
    std::atomic<bool> up{false};
};

// Hands out the given connections, then asks the loop to stop.
class Listener : public service::PipeListener {
public:
    Listener(std::vector<InputStream*> streams, std::atomic<bool>& stop) : streams_(std::move(streams)), stop_(stop) {}
    Result accept(std::unique_ptr<vpn::ByteStream>& connection, service::Caller&) override {
        if (next_ == streams_.size()) {
            stop_ = true;
            return Result::retry;
        }
        connection = std::make_unique<Borrowed>(*streams_[next_++]);
        return Result::connected;
    }
    void wake() override {}

private:
    // The server closes what it was given; the test reads the output afterwards.
    class Borrowed : public vpn::ByteStream {
    public:
        explicit Borrowed(InputStream& stream) : stream_(stream) {}
        void setDeadline(int ms) override { stream_.setDeadline(ms); }
        size_t read(char* buffer, size_t size) override { return stream_.read(buffer, size); }
        size_t write(const char* data, size_t size) override { return stream_.write(data, size); }
        bool flush() override { return stream_.flush(); }
        unsigned long lastError() const override { return stream_.lastError(); }

    private:
        InputStream& stream_;
    };

    std::vector<InputStream*> streams_;
    std::atomic<bool>& stop_;
    size_t next_ = 0;
};

void checkReply(const std::string& output) {
    check(output.size() >= 4);
    const uint32_t length = static_cast<uint8_t>(output[0]) | static_cast<uint32_t>(static_cast<uint8_t>(output[1])) << 8 |
                            static_cast<uint32_t>(static_cast<uint8_t>(output[2])) << 16 |
                            static_cast<uint32_t>(static_cast<uint8_t>(output[3])) << 24;
    check(length >= 1 && length <= vpn::kMaxFramePayload && output.size() == 4 + length);
    const auto reply = nlohmann::ordered_json::parse(output.substr(4), nullptr, false);
    check(!reply.is_discarded() && reply.is_object() && reply.size() == 3);
    auto member = reply.begin();
    check(member.key() == "ok" && member->is_boolean());
    ++member;
    check(member.key() == "running" && member->is_boolean());
    ++member;
    check(member.key() == "error" && member->is_string());
    check(reply["ok"].get<bool>() == reply["error"].get<std::string>().empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t piece = static_cast<size_t>(data[0] % 16) + 1;
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);

    InputStream first(input, piece);
    InputStream second(input, piece);
    service::ServiceLog log;  // no file, no echo
    Engine engine;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> shutdownEndsProcess{(data[0] & 0x80) != 0};
    Listener listener({&first, &second}, stopRequested);
    service::RequestContext context{log, engine, stopRequested, shutdownEndsProcess};
    service::runPipeServer(".", listener, context);
    check(!engine.up);  // the tunnel is stopped when the server returns

    std::string payload;
    unsigned long code = 0;
    InputStream again(input, piece);
    if (!vpn::readFrame(again, payload, code)) {
        check(first.output.empty() && second.output.empty());
        return 0;
    }
    // A "shutdown" on the first connection may end the loop before the second is accepted.
    checkReply(first.output);
    if (!second.output.empty()) checkReply(second.output);
    const service::Request request = service::parseRequest(payload);
    for (const char c : service::logSafe(request.op + request.node))
        check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
    return 0;
}
