// Winsock for the doubles.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "tests/support/doubles/double_socket.h"

namespace orvik_double {
namespace {

SOCKET native(Socket socket) { return static_cast<SOCKET>(socket); }

}  // namespace

bool startSockets() {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

Socket listenOn(const std::string& address, int port, std::string& error) {
    sockaddr_storage storage{};
    int length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<u_short>(port));
        length = sizeof *v4;
    } else if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<u_short>(port));
        length = sizeof *v6;
    } else {
        error = "listen address is not an IP literal: " + address;
        return kNoSocket;
    }
    const SOCKET s = socket(storage.ss_family, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr*>(&storage), length) != 0 || listen(s, 64) != 0) {
        error = "cannot listen on " + address + ":" + std::to_string(port) + ": error " +
                std::to_string(WSAGetLastError());
        if (s != INVALID_SOCKET) closesocket(s);
        return kNoSocket;
    }
    return static_cast<Socket>(s);
}

Socket acceptClient(Socket listener) {
    const SOCKET s = accept(native(listener), nullptr, nullptr);
    return s == INVALID_SOCKET ? kNoSocket : static_cast<Socket>(s);
}

Socket connectTo(const std::string& host, int port, const std::string&, std::string& error, bool& refused) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
        error = "cannot resolve " + host;
        return kNoSocket;
    }
    SOCKET s = INVALID_SOCKET;
    for (addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        s = socket(entry->ai_family, entry->ai_socktype, entry->ai_protocol);
        if (s == INVALID_SOCKET) continue;
        if (connect(s, entry->ai_addr, static_cast<int>(entry->ai_addrlen)) == 0) break;
        refused = WSAGetLastError() == WSAECONNREFUSED;
        error = "cannot connect to " + host + ":" + std::to_string(port);
        closesocket(s);
        s = INVALID_SOCKET;
    }
    freeaddrinfo(found);
    return s == INVALID_SOCKET ? kNoSocket : static_cast<Socket>(s);
}

long receiveSome(Socket socket, char* buffer, std::size_t size) {
    return recv(native(socket), buffer, static_cast<int>(size), 0);
}

bool sendAll(Socket socket, const char* data, std::size_t size) {
    while (size > 0) {
        const int n = send(native(socket), data, static_cast<int>(size), 0);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void shutdownSend(Socket socket) { shutdown(native(socket), SD_SEND); }
void shutdownBoth(Socket socket) { shutdown(native(socket), SD_BOTH); }
void closeSocket(Socket socket) { closesocket(native(socket)); }

}  // namespace orvik_double
