#include "tests/support/loopback_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orvik_test::loopback {
namespace {

int fd(Socket socket) { return static_cast<int>(socket); }

bool wouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }

}  // namespace

Socket listenOnFreePort(int& port, std::uint32_t loopbackAddress) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (listener < 0) return kNoSocket;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(loopbackAddress);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 64) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(listener);
        return kNoSocket;
    }
    port = ntohs(address.sin_port);
    return listener;
}

Socket acceptConnection(Socket listener) {
    const int client = ::accept4(fd(listener), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    return client < 0 ? kNoSocket : client;
}

Ready waitReady(Socket socket, bool forWrite, int timeoutMs) {
    pollfd entry{fd(socket), static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    const int result = ::poll(&entry, 1, timeoutMs);
    if (result > 0) return Ready::yes;  // errors and hang-ups show up in the next call
    if (result == 0 || errno == EINTR) return Ready::timeout;
    return Ready::error;
}

long receiveSome(Socket socket, char* buffer, std::size_t size) {
    const ssize_t received = ::recv(fd(socket), buffer, size, 0);
    if (received >= 0) return static_cast<long>(received);
    return wouldBlock() ? kWouldBlock : kFailed;
}

long sendSome(Socket socket, const char* data, std::size_t size) {
    const ssize_t sent = ::send(fd(socket), data, size, MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<long>(sent);
    return wouldBlock() ? kWouldBlock : kFailed;
}

void shutdownSend(Socket socket) { ::shutdown(fd(socket), SHUT_WR); }

void closeSocket(Socket socket) {
    if (socket != kNoSocket) ::close(fd(socket));
}

}  // namespace orvik_test::loopback
