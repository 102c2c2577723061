#pragma once
// The Linux tool locator with the TUN device path as a parameter (tests point it elsewhere).

#include <memory>
#include <string>

#include "service/tunnel/tunnel_tools.h"

namespace tunnel {

inline constexpr const char* kTunDevice = "/dev/net/tun";

// With `requireTrustedTools` see makeToolLocator(bool); the programs handed out are then the
// resolved paths that were checked.
std::unique_ptr<ToolLocator> makeToolLocator(const std::string& tunDevice, bool requireTrustedTools);

}  // namespace tunnel
