#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "tests/support/service_client.h"

namespace orvik_test {
namespace {

using Clock = std::chrono::steady_clock;

int connectOnce(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
    ::close(fd);
    return -1;
}

int millisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

struct ServiceClient::Impl {
    int fd = -1;
};

std::string uniquePipeName(const std::string& directory) {
    static std::atomic<int> counter{0};
    return directory + "/service-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + ".sock";
}

ServiceClient::ServiceClient(const std::string& pipe, int timeoutMs) : impl_(new Impl) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while ((impl_->fd = connectOnce(pipe)) < 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

ServiceClient::~ServiceClient() {
    close();
    delete impl_;
}

bool ServiceClient::connected() const { return impl_->fd >= 0; }

bool ServiceClient::send(const std::string& bytes) {
    size_t done = 0;
    while (impl_->fd >= 0 && done < bytes.size()) {
        const ssize_t sent = ::send(impl_->fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent <= 0) return false;
        done += static_cast<size_t>(sent);
    }
    return impl_->fd >= 0;
}

std::optional<std::string> ServiceClient::receiveUntilClosed(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string received;
    char buffer[4096];
    while (impl_->fd >= 0) {
        pollfd entry{impl_->fd, POLLIN, 0};
        if (::poll(&entry, 1, millisecondsLeft(deadline)) <= 0) return std::nullopt;
        const ssize_t got = ::recv(impl_->fd, buffer, sizeof buffer, 0);
        if (got == 0) return received;
        if (got < 0) return errno == ECONNRESET ? std::optional<std::string>(received) : std::nullopt;
        received.append(buffer, static_cast<size_t>(got));
    }
    return std::nullopt;
}

void ServiceClient::close() {
    if (impl_->fd >= 0) ::close(impl_->fd);
    impl_->fd = -1;
}

// The socket file appears at bind, just before the service listens: the file and a short
// grace are enough, and nothing connects.
bool waitForPipe(const std::string& pipe, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    struct stat info;
    while (::stat(pipe.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return true;
}

}  // namespace orvik_test
