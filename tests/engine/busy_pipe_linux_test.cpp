// Linux: a socket whose listen queue is full makes connect wait the send time-out (500 ms)
// and fail with EAGAIN, which the client treats as the busy pipe.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "tests/engine/busy_pipe_test.h"

namespace {

// Connects non-blocking sockets until the queue refuses more; returns their closer.
std::function<void()> fillListenQueue(const std::string& path) {
    auto sockets = std::make_shared<std::vector<int>>();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    for (int i = 0; i < 256; ++i) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            EXPECT_EQ(errno, EAGAIN);
            ::close(fd);
            break;
        }
        sockets->push_back(fd);
    }
    return [sockets] {
        for (int fd : *sockets) ::close(fd);
    };
}

TEST(BusyPipe, AFullListenQueueIsBusyThroughEveryAttempt) {
    engine_test::withBusyService(fillListenQueue, engine_test::expectBusyThroughEveryAttempt);
}

}  // namespace
