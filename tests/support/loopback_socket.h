#pragma once
// The few socket calls the test HTTP server needs, on loopback only (Winsock / POSIX).
// Sockets are non-blocking; waiting is done with waitReady and a time-out so that callers
// can notice a stop request between waits.

#include <cstddef>
#include <cstdint>

namespace orvik_test::loopback {

using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;
inline constexpr long kWouldBlock = -2;
inline constexpr long kFailed = -1;
enum class Ready { yes, timeout, error };

// Bound to `address` (127.x.x.x, host byte order) on a free port; kNoSocket on failure.
Socket listenOnFreePort(int& port, std::uint32_t address = 0x7F000001);
Socket acceptConnection(Socket listener);  // kNoSocket when none is waiting
Ready waitReady(Socket socket, bool forWrite, int timeoutMs);
long receiveSome(Socket socket, char* buffer, std::size_t size);  // > 0, 0 when closed, kWouldBlock or kFailed
long sendSome(Socket socket, const char* data, std::size_t size);  // > 0, kWouldBlock or kFailed
void shutdownSend(Socket socket);  // the peer reads end-of-stream
void closeSocket(Socket socket);

}  // namespace orvik_test::loopback
