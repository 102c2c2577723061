#pragma once
// Blocking TCP sockets for the doubles (Winsock / POSIX).

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvik_double {

using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;

// Once per process before any other call (WSAStartup on Windows).
bool startSockets();

// Listens on the IPv4 or IPv6 literal `address` and `port`; kNoSocket with `error` on failure.
Socket listenOn(const std::string& address, int port, std::string& error);
// Waits for the next client; kNoSocket on failure.
Socket acceptClient(Socket listener);
// Connects to `host` (name or literal) and `port`, bound to the device `interfaceName` when
// it is not empty (Linux); kNoSocket with `error` on failure, `refused` set when the peer
// refused.
Socket connectTo(const std::string& host, int port, const std::string& interfaceName, std::string& error,
                 bool& refused);

// Bytes received (> 0), 0 at the end of the stream, < 0 on failure.
long receiveSome(Socket socket, char* buffer, std::size_t size);
bool sendAll(Socket socket, const char* data, std::size_t size);
// Ends the sending direction (the peer reads the end of the stream).
void shutdownSend(Socket socket);
// Ends both directions, waking a thread blocked on the socket.
void shutdownBoth(Socket socket);
void closeSocket(Socket socket);

}  // namespace orvik_double
