#include "tests/support/service_client.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "app/engine/pipe_connector.h"
#include "app/engine/service_launcher.h"
#include "tests/support/memory_stream.h"
#include "vpn/service_pipe.h"

namespace orvik_test {
namespace {

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

std::string uniquePipeName(const std::string& directory) {
    static std::atomic<int> counter{0};
    const std::string unique = std::to_string(engine::currentProcessId()) + "-" + std::to_string(++counter);
    const std::string windowsPipes = "\\\\.\\pipe\\";
    if (vpn::defaultServicePipeName().rfind(windowsPipes, 0) == 0) return windowsPipes + "orvik-test-" + unique;
    return directory + "/service-" + unique + ".sock";
}

std::string frame(const std::string& payload) {
    MemoryStream stream("");
    unsigned long code = 0;
    vpn::writeFrame(stream, payload, code);
    return stream.output;
}

ServiceClient::ServiceClient(const std::string& pipe, int timeoutMs) {
    const auto connector = engine::makePlatformPipeConnector();
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    unsigned long code = 0;
    for (;;) {
        const auto status = connector->open(pipe, stream_, code);
        if (status == engine::PipeConnector::Status::opened || Clock::now() >= deadline) return;
        if (status == engine::PipeConnector::Status::busy) connector->waitWhileBusy(pipe, 500);
        else std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool ServiceClient::send(const std::string& bytes) {
    if (!stream_) return false;
    stream_->setDeadline(10000);
    for (size_t done = 0, put = 0; done < bytes.size(); done += put)
        if ((put = stream_->write(bytes.data() + done, bytes.size() - done)) == 0) return false;
    return stream_->flush();
}

std::optional<std::string> ServiceClient::receiveUntilClosed(int timeoutMs) {
    if (!stream_) return std::nullopt;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    stream_->setDeadline(timeoutMs);
    std::string received;
    char buffer[4096];
    while (const size_t got = stream_->read(buffer, sizeof buffer)) received.append(buffer, got);
    if (millisecondsLeft(deadline) == 0) return std::nullopt;  // still open at the deadline
    return received;
}

std::optional<std::string> request(const std::string& pipe, const std::string& payload, int timeoutMs) {
    ServiceClient client(pipe);
    if (!client.send(frame(payload))) return std::nullopt;
    MemoryStream stream(client.receiveUntilClosed(timeoutMs).value_or(""));
    std::string reply;
    unsigned long code = 0;
    if (!vpn::readFrame(stream, reply, code) || stream.position != stream.input.size()) return std::nullopt;
    return reply;
}

bool waitForPipe(const std::string& pipe, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pipeListening(pipe)) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace orvik_test
