// POSIX sockets for the doubles.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "tests/support/doubles/double_socket.h"

namespace orvik_double {

bool startSockets() {
    std::signal(SIGPIPE, SIG_IGN);  // a peer that went away is a failed send, not our end
    return true;
}

Socket listenOn(const std::string& address, int port, std::string& error) {
    sockaddr_storage storage{};
    socklen_t length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    if (::inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<uint16_t>(port));
        length = sizeof *v4;
    } else if (::inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<uint16_t>(port));
        length = sizeof *v6;
    } else {
        error = "listen address is not an IP literal: " + address;
        return kNoSocket;
    }
    const int fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (fd >= 0) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 || ::listen(fd, 64) != 0) {
        error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return kNoSocket;
    }
    return fd;
}

Socket acceptClient(Socket listener) {
    for (;;) {
        const int fd = ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0 || errno != EINTR) return fd < 0 ? kNoSocket : fd;
    }
}

Socket connectTo(const std::string& host, int port, const std::string& interfaceName, std::string& error,
                 bool& refused) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
        error = "cannot resolve " + host;
        return kNoSocket;
    }
    int fd = -1;
    for (addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        fd = ::socket(entry->ai_family, entry->ai_socktype | SOCK_CLOEXEC, entry->ai_protocol);
        if (fd < 0) continue;
        // Like Xray's "sockopt" "interface" and tun2socks's --interface on Linux.
        if (!interfaceName.empty() && ::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, interfaceName.c_str(),
                                                   static_cast<socklen_t>(interfaceName.size())) != 0) {
            error = "cannot bind to interface " + interfaceName + ": " + std::strerror(errno);
        } else if (::connect(fd, entry->ai_addr, entry->ai_addrlen) == 0) {
            break;
        } else {
            refused = errno == ECONNREFUSED;
            error = "cannot connect to " + host + ":" + std::to_string(port) + ": " + std::strerror(errno);
        }
        ::close(fd);
        fd = -1;
    }
    ::freeaddrinfo(found);
    return fd < 0 ? kNoSocket : fd;
}

long receiveSome(Socket socket, char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = ::recv(static_cast<int>(socket), buffer, size, 0);
        if (n >= 0 || errno != EINTR) return n;
    }
}

bool sendAll(Socket socket, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(static_cast<int>(socket), data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void shutdownSend(Socket socket) { ::shutdown(static_cast<int>(socket), SHUT_WR); }
void shutdownBoth(Socket socket) { ::shutdown(static_cast<int>(socket), SHUT_RDWR); }
void closeSocket(Socket socket) { ::close(static_cast<int>(socket)); }

}  // namespace orvik_double
