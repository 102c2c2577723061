#pragma once
// The Linux tool locator with the TUN device path as a parameter (tests point it elsewhere).

#include <memory>
#include <string>

#include "service/tunnel/tunnel_tools.h"

namespace tunnel {

inline constexpr const char* kTunDevice = "/dev/net/tun";

std::unique_ptr<ToolLocator> makeToolLocator(const std::string& tunDevice);

}  // namespace tunnel
