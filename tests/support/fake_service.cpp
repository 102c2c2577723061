#include "tests/support/fake_service.h"

#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>

#include "service/pipe_server.h"
#include "vpn/ipc_frame.h"

namespace orvik_test {
namespace {

using Clock = std::chrono::steady_clock;

// How long a test client may take to send its request and to take the reply.
constexpr int kTransferMs = 10000;

std::string framed(const std::string& payload) {
    const auto length = static_cast<uint32_t>(payload.size());
    std::string bytes;
    for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((length >> shift) & 0xFF);
    return bytes + payload;
}

bool writeAll(vpn::ByteStream& stream, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const size_t put = stream.write(bytes.data() + done, bytes.size() - done);
        if (put == 0) return false;
        done += put;
    }
    return stream.flush();
}

std::string replyText(bool ok, bool running, const std::string& error) {
    nlohmann::ordered_json reply;
    reply["ok"] = ok;
    reply["running"] = running;
    reply["error"] = error;
    return reply.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string opOf(const std::string& request) {
    const auto parsed = nlohmann::ordered_json::parse(request, nullptr, false);
    if (!parsed.is_object() || !parsed.contains("op") || !parsed["op"].is_string()) return {};
    return parsed["op"].get<std::string>();
}

}  // namespace

FakeReply FakeReply::payload(const std::string& json) { return FakeReply{framed(json), false}; }
FakeReply FakeReply::raw(std::string bytes) { return FakeReply{std::move(bytes), false}; }
FakeReply FakeReply::none() { return FakeReply{}; }

FakeService::FakeService(std::string pipe, Responder responder)
    : pipe_(std::move(pipe)),
      script_([responder = std::move(responder)](const std::string& request) {
          return FakeReply::payload(responder(request));
      }) {}

FakeService::FakeService(std::string pipe, Script script) : pipe_(std::move(pipe)), script_(std::move(script)) {}

FakeService::~FakeService() { stop(); }

bool FakeService::start(int timeoutMs) {
    if (serving_) return waitListening(timeoutMs);
    if (thread_.joinable()) thread_.join();  // ended after a stopAfter reply
    stop_ = false;
    serving_ = true;
    thread_ = std::thread([this] { serve(); });
    return waitListening(timeoutMs);
}

void FakeService::stop() {
    stop_ = true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (wake_) wake_();
    }
    if (thread_.joinable()) thread_.join();
}

bool FakeService::waitListening(int timeoutMs) const {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!fakePipeListening(pipe_)) {
        if (Clock::now() >= deadline || !serving_) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::vector<std::string> FakeService::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

bool FakeService::waitForRequests(size_t count, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return requests_.size() >= count; });
}

void FakeService::serve() {
    std::unique_ptr<service::PipeListener> listener = service::makePipeListener(pipe_);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wake_ = [raw = listener.get()] { raw->wake(); };
    }
    while (!stop_) {
        std::unique_ptr<vpn::ByteStream> connection;
        service::Caller caller;
        const auto result = listener->accept(connection, caller);
        if (result == service::PipeListener::Result::pause) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        if (result == service::PipeListener::Result::nameTaken) break;
        if (result != service::PipeListener::Result::connected || stop_) continue;
        ++connections_;
        handle(*connection);
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wake_ = nullptr;
    }
    listener.reset();  // the pipe goes with it
    serving_ = false;
}

void FakeService::handle(vpn::ByteStream& connection) {
    connection.setDeadline(kTransferMs);
    std::string request;
    unsigned long errorCode = 0;
    if (!vpn::readFrame(connection, request, errorCode)) return;  // a presence probe, or junk
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
    }
    changed_.notify_all();
    const FakeReply reply = script_(request);
    connection.setDeadline(kTransferMs);
    if (!reply.bytes.empty()) writeAll(connection, reply.bytes);
    if (reply.stopAfter) stop_ = true;
}

FakeService::Script FakeService::lookalike(LookalikeOptions options) {
    auto running = std::make_shared<std::atomic<bool>>(false);
    return [options, running](const std::string& request) {
        const std::string op = opOf(request);
        if (op == "status") return FakeReply::payload(replyText(true, *running, ""));
        if (op == "connect") {
            std::this_thread::sleep_for(std::chrono::milliseconds(options.connectDelayMs));
            if (!options.connectError.empty()) return FakeReply::payload(replyText(false, *running, options.connectError));
            *running = true;
            return FakeReply::payload(replyText(true, true, ""));
        }
        if (op == "disconnect" || op == "shutdown") {
            *running = false;
            FakeReply reply = FakeReply::payload(replyText(true, false, ""));
            reply.stopAfter = op == "shutdown";
            return reply;
        }
        return FakeReply::payload(replyText(false, *running, "op not allowed"));
    };
}

}  // namespace orvik_test
