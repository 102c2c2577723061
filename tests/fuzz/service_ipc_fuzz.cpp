// libFuzzer target for what clients can send the service: the server loop, the frame reader,
// the request reader and the handler's reply. The input is what arrives on each of two
// connections served at the same time, delivered in pieces whose sizes the input's first byte
// chooses. Checks for any input: a request that cannot be read gets no reply; every other gets
// exactly one frame holding a valid JSON reply with "ok", "running" and "error" in that order,
// also when the engine throws; log text carries no control characters.
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
#include "tests/support/memory_stream.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

// Connects to anything but fails for nodes that begin with "x", with the node in the text,
// and throws for nodes that begin with "!".
class Engine : public service::Engine {
public:
    bool connect(const std::string& node, const service::ConnectOptions&, const service::Caller&,
                 std::string& error) override {
        if (!node.empty() && node[0] == '!') throw std::runtime_error("engine failure");
        if (!node.empty() && node[0] == 'x') {
            error = "cannot reach " + node;
            return false;
        }
        up = true;
        return true;
    }
    bool disconnect(const service::Caller&, std::string&) override {
        up = false;
        return true;
    }
    void stop() override { up = false; }
    bool running() override { return up; }
    bool blocked() override { return false; }
    service::TunnelState state() override { return {}; }
    bool heldByOther(const service::Caller&) override { return false; }
    std::atomic<bool> up{false};
};

// Hands out one connection per input, each writing into its own output, then asks the loop
// to stop.
class Listener : public service::PipeListener {
public:
    Listener(const std::string& input, size_t piece, std::vector<std::string>& outputs, std::atomic<bool>& stop)
        : input_(input), piece_(piece), outputs_(outputs), stop_(stop) {}
    Result accept(std::unique_ptr<vpn::ByteStream>& connection, service::Caller&) override {
        if (next_ == outputs_.size()) {
            stop_ = true;
            return Result::retry;
        }
        connection = std::make_unique<orvik_test::MemoryStream>(input_, piece_, &outputs_[next_++]);
        return Result::connected;
    }
    void wake() override {}

private:
    const std::string& input_;
    size_t piece_;
    std::vector<std::string>& outputs_;
    std::atomic<bool>& stop_;
    size_t next_ = 0;
};

void checkReply(const std::string& output) {
    orvik_test::MemoryStream stream(output);
    std::string payload;
    unsigned long code = 0;
    check(vpn::readFrame(stream, payload, code) && stream.position == output.size());
    const auto reply = nlohmann::ordered_json::parse(payload, nullptr, false);
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

    std::vector<std::string> outputs(2);  // two connections served at the same time
    service::ServiceLog log;               // no file, no echo
    Engine engine;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> shutdownEndsProcess{(data[0] & 0x80) != 0};
    Listener listener(input, piece, outputs, stopRequested);
    service::RequestContext context{log, engine, stopRequested, shutdownEndsProcess};
    service::runPipeServer(".", listener, context);
    check(!engine.up);  // the tunnel is stopped when the server returns

    std::string payload;
    unsigned long code = 0;
    orvik_test::MemoryStream again(input, piece);
    if (!vpn::readFrame(again, payload, code)) {
        check(outputs[0].empty() && outputs[1].empty());
        return 0;
    }
    // A "shutdown" on the first connection may end the loop before the second is accepted.
    checkReply(outputs[0]);
    if (!outputs[1].empty()) checkReply(outputs[1]);
    const service::Request request = service::parseRequest(payload);
    for (const char c : service::logSafe(request.op + request.node))
        check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
    return 0;
}
