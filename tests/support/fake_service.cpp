#include "tests/support/fake_service.h"

#include <chrono>
#include <memory>

#include "service/pipe_server.h"

namespace orvik_test {

FakeService::FakeService(std::string pipe, Responder responder)
    : FakeService(std::move(pipe), Script([responder = std::move(responder)](const std::string& request) {
          return FakeReply::payload(responder(request));
      })) {}

bool FakeService::start(int timeoutMs) {
    if (!serving_) {
        if (thread_.joinable()) thread_.join();  // ended after a stopAfter reply
        stop_ = false;
        serving_ = true;
        thread_ = std::thread([this] { serve(); });
    }
    return waitForPipe(pipe_, timeoutMs) && serving_;
}

void FakeService::stop() {
    stop_ = true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (wake_) wake_();
    }
    if (thread_.joinable()) thread_.join();
}

std::vector<std::string> FakeService::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

bool FakeService::waitForRequests(size_t count, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return requests_.size() >= count; });
}

// One connection at a time, on this thread: each request read with the service's client
// time-out, answered as the script says.
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
        if (result == service::PipeListener::Result::nameTaken) break;
        if (result == service::PipeListener::Result::pause) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (result != service::PipeListener::Result::connected || stop_) continue;
        connection->setDeadline(service::kClientTimeoutMs);
        std::string request;
        unsigned long code = 0;
        if (!vpn::readFrame(*connection, request, code)) continue;  // a presence probe, or junk
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
        }
        changed_.notify_all();
        const FakeReply reply = script_(request);
        connection->setDeadline(service::kClientTimeoutMs);
        for (size_t done = 0, put = 1; done < reply.bytes.size() && put > 0; done += put)
            put = connection->write(reply.bytes.data() + done, reply.bytes.size() - done);
        connection->flush();
        if (reply.stopAfter) stop_ = true;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wake_ = nullptr;
    }
    listener.reset();  // the pipe goes with it
    serving_ = false;
}

}  // namespace orvik_test
