#pragma once
// A SOCKS5 server for the Xray double: no authentication, CONNECT only, each client relayed
// to its destination on threads of its own.

#include <string>

#include "tests/support/doubles/double_socket.h"

namespace orvik_double {

// Serves clients of `listener` until the process ends. Outgoing connections are bound to
// `outboundInterface` when it is not empty.
[[noreturn]] void serveSocks(Socket listener, const std::string& outboundInterface);

}  // namespace orvik_double
