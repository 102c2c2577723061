// libFuzzer target for what a client can send the service: the frame reader, the request
// reader and the handler's reply. The input is what arrives on one connection, delivered in
// pieces whose sizes the input's first byte chooses. Checks for any input: a request that
// cannot be read gets no reply; every other gets exactly one frame holding a valid JSON reply
// with "ok", "running" and "error" in that order; log text carries no control characters.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "vpn/ipc_frame.h"
#include "service/ipc_message.h"
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

// Connects to anything but fails for nodes that begin with "x", with the node in the text.
class Engine : public service::Engine {
public:
    bool connect(const std::string& node, std::string& error) override {
        if (!node.empty() && node[0] == 'x') {
            error = "cannot reach " + node;
            return false;
        }
        up = true;
        return true;
    }
    void stop() override { up = false; }
    bool running() override { return up; }
    bool up = false;
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

    InputStream stream(input, piece);
    service::ServiceLog log;  // no file, no echo
    Engine engine;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> shutdownEndsProcess{(data[0] & 0x80) != 0};
    service::RequestContext context{log, engine, stopRequested, shutdownEndsProcess};
    service::handleRequest(stream, context);

    std::string payload;
    unsigned long code = 0;
    InputStream again(input, piece);
    if (!vpn::readFrame(again, payload, code)) {
        check(stream.output.empty());
        return 0;
    }
    checkReply(stream.output);
    const service::Request request = service::parseRequest(payload);
    check(stopRequested == (request.op == "shutdown" && shutdownEndsProcess));
    for (const char c : service::logSafe(request.op + request.node))
        check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
    return 0;
}
