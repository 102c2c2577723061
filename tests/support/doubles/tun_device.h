#pragma once
// The adapter of the tun2socks double.

#include <string>

namespace orvik_double {

// Linux: creates the TUN interface `name` (IFF_TUN | IFF_NO_PI), keeps it open and drops
// whatever arrives on it; the interface goes away with the process. Windows: nothing to do
// (no Wintun here). False with `error` on failure.
bool openTunDevice(const std::string& name, std::string& error);

}  // namespace orvik_double
