// The service socket from the client side: a Unix stream socket. A full listen queue makes
// connect wait up to the send time-out and then fail with EAGAIN, which is the pipe's "busy".
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

#include "app/engine/pipe_connector.h"

namespace engine {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBusyWaitMs = 500;

class SocketStream : public vpn::ByteStream {
public:
    explicit SocketStream(int fd) : fd_(fd) {}
    ~SocketStream() override { ::close(fd_); }
    SocketStream(const SocketStream&) = delete;
    SocketStream& operator=(const SocketStream&) = delete;

    void setDeadline(int milliseconds) override { deadline_ = Clock::now() + std::chrono::milliseconds(milliseconds); }

    size_t read(char* buffer, size_t size) override {
        if (!waitFor(POLLIN)) return 0;
        return finish(::recv(fd_, buffer, size, 0), EPIPE);  // closed by the service: a broken pipe
    }

    size_t write(const char* data, size_t size) override {
        if (!waitFor(POLLOUT)) return 0;
        return finish(::send(fd_, data, size, MSG_NOSIGNAL), EPIPE);
    }

    bool flush() override { return true; }  // the service reads what was sent, also after we stop writing
    unsigned long lastError() const override { return lastError_; }

private:
    // Without a deadline a transfer waits as long as the service takes.
    bool waitFor(short events) {
        for (;;) {
            int timeout = -1;
            if (deadline_) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline_ - Clock::now());
                if (left.count() <= 0) return fail(ETIMEDOUT);
                timeout = static_cast<int>(left.count());
            }
            pollfd entry{fd_, events, 0};
            const int ready = ::poll(&entry, 1, timeout);
            if (ready > 0) return true;
            if (ready == 0) return fail(ETIMEDOUT);
            if (errno != EINTR) return fail(errno);
        }
    }

    bool fail(int error) {
        lastError_ = static_cast<unsigned long>(error);
        return false;
    }

    size_t finish(ssize_t count, int endOfStreamError) {
        if (count > 0) return static_cast<size_t>(count);
        fail(count == 0 ? endOfStreamError : errno);
        return 0;
    }

    int fd_;
    std::optional<Clock::time_point> deadline_;
    unsigned long lastError_ = 0;
};

void setSendTimeout(int fd, int milliseconds) {
    timeval timeout{milliseconds / 1000, (milliseconds % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
}

class SocketConnector : public PipeConnector {
public:
    Status open(const std::string& name, std::unique_ptr<vpn::ByteStream>& connection,
                unsigned long& errorCode) override {
        sockaddr_un address;
        std::memset(&address, 0, sizeof address);
        address.sun_family = AF_UNIX;
        if (name.empty() || name.size() >= sizeof address.sun_path) return failed(ENAMETOOLONG, errorCode);
        std::memcpy(address.sun_path, name.c_str(), name.size() + 1);

        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return failed(errno, errorCode);
        setSendTimeout(fd, kBusyWaitMs);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            const int error = errno;
            ::close(fd);
            if (error == ENOENT || error == ECONNREFUSED) return Status::notFound;
            if (error == EAGAIN || error == EINTR) return Status::busy;
            return failed(error, errorCode);
        }
        setSendTimeout(fd, 0);  // transfers wait by the stream's deadline instead
        connection = std::make_unique<SocketStream>(fd);
        return Status::opened;
    }

    // connect() has already waited for room in the listen queue.
    void waitWhileBusy(const std::string&, int) override {}

    unsigned long currentErrorCode() const override { return static_cast<unsigned long>(errno); }

private:
    static Status failed(int error, unsigned long& errorCode) {
        errorCode = static_cast<unsigned long>(error);
        return Status::failed;
    }
};

}  // namespace

std::shared_ptr<PipeConnector> makePlatformPipeConnector() { return std::make_shared<SocketConnector>(); }

}  // namespace engine
