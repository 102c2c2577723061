#pragma once
// The few socket calls the test HTTP server needs, on loopback only (Winsock / POSIX).
// Accepted sockets are non-blocking; waiting is done with waitReady and a time-out so
// that callers can notice a stop request between waits.

#include <cstddef>
#include <cstdint>

namespace orvik_test::loopback {

using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;

inline constexpr std::uint32_t kLoopback = 0x7F000001;  // 127.0.0.1, host byte order

// A listening socket bound to `address` (a 127.x.x.x address, host byte order) on a free
// port; kNoSocket on failure.
Socket listenOnFreePort(int& port, std::uint32_t address = kLoopback);

// The next pending connection (non-blocking); kNoSocket when none is waiting.
Socket acceptConnection(Socket listener);

enum class Ready { yes, timeout, error };

// Waits until the socket can be read (or written) or `timeoutMs` passes.
Ready waitReady(Socket socket, bool forWrite, int timeoutMs);

// Bytes received (> 0), 0 when the peer closed, kWouldBlock, or kFailed.
inline constexpr long kWouldBlock = -2;
inline constexpr long kFailed = -1;
long receiveSome(Socket socket, char* buffer, std::size_t size);
// Bytes sent (> 0), kWouldBlock or kFailed.
long sendSome(Socket socket, const char* data, std::size_t size);

// Ends our sending direction; the peer reads end-of-stream.
void shutdownSend(Socket socket);
void closeSocket(Socket socket);

}  // namespace orvik_test::loopback
