#include "tests/support/loopback_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace orvik_test::loopback {
namespace {

SOCKET handle(Socket socket) { return static_cast<SOCKET>(socket); }

// Winsock needs one WSAStartup per process before the first socket call.
bool startWinsock() {
    static const bool started = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

bool setNonBlocking(SOCKET socket) {
    u_long on = 1;
    return ioctlsocket(socket, FIONBIO, &on) == 0;
}

bool wouldBlock() { return WSAGetLastError() == WSAEWOULDBLOCK; }

}  // namespace

Socket listenOnFreePort(int& port, std::uint32_t loopbackAddress) {
    if (!startWinsock()) return kNoSocket;
    const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET) return kNoSocket;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(loopbackAddress);
    address.sin_port = 0;
    int length = sizeof address;
    if (!setNonBlocking(listener) ||
        ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 64) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::closesocket(listener);
        return kNoSocket;
    }
    port = ntohs(address.sin_port);
    return static_cast<Socket>(listener);
}

Socket acceptConnection(Socket listener) {
    const SOCKET client = ::accept(handle(listener), nullptr, nullptr);
    if (client == INVALID_SOCKET) return kNoSocket;
    if (!setNonBlocking(client)) {
        ::closesocket(client);
        return kNoSocket;
    }
    return static_cast<Socket>(client);
}

Ready waitReady(Socket socket, bool forWrite, int timeoutMs) {
    // One set only: wine's wineserver asserts when one socket sits in two sets of a select.
    fd_set set;
    FD_ZERO(&set);
    FD_SET(handle(socket), &set);
    timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int result = ::select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &timeout);
    if (result > 0) return Ready::yes;  // errors and hang-ups show up in the next call
    return result == 0 ? Ready::timeout : Ready::error;
}

long receiveSome(Socket socket, char* buffer, std::size_t size) {
    const int received = ::recv(handle(socket), buffer, static_cast<int>(size), 0);
    if (received >= 0) return received;
    return wouldBlock() ? kWouldBlock : kFailed;
}

long sendSome(Socket socket, const char* data, std::size_t size) {
    const int chunk = size > 1u << 20 ? 1 << 20 : static_cast<int>(size);
    const int sent = ::send(handle(socket), data, chunk, 0);
    if (sent >= 0) return sent;
    return wouldBlock() ? kWouldBlock : kFailed;
}

void shutdownSend(Socket socket) { ::shutdown(handle(socket), SD_SEND); }

void closeSocket(Socket socket) {
    if (socket != kNoSocket) ::closesocket(handle(socket));
}

}  // namespace orvik_test::loopback
