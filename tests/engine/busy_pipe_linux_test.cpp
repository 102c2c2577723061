// Linux: a socket whose listen queue is full makes connect wait the send time-out and fail
// with EAGAIN, which the client treats as the busy pipe.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "tests/engine/engine_test_doubles.h"

std::function<void()> engine_test::occupyRemainingRoom(const std::string& pipe) {
    auto sockets = std::make_shared<std::vector<int>>();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, pipe.c_str(), pipe.size() + 1);
    for (int i = 0; i < 256; ++i) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd);
            break;
        }
        sockets->push_back(fd);
    }
    return [sockets] {
        for (int fd : *sockets) ::close(fd);
    };
}
