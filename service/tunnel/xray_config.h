#pragma once
// The Xray client configuration for one node: a SOCKS5 inbound on 127.0.0.1:10808 for
// tun2socks, VLESS+REALITY over TCP to the node and a direct outbound, both bound to the
// physical adapter, a block outbound, and the routing rules.

#include <cstdint>
#include <string>

#include "service/tunnel/network.h"
#include "vpn/control_plane.h"

namespace tunnel {

// Where Xray's SOCKS5 inbound listens for tun2socks (on 127.0.0.1).
inline constexpr uint16_t kSocksPort = 10808;

// The configuration document (UTF-8, two-space indentation, ends with a line feed). A
// non-zero `socketMark` marks every connection that leaves the machine, for the firewall.
std::string buildXrayConfig(const vpn::NodeRecord& node, const PhysicalGateway& gateway, uint32_t socketMark = 0);

// Writes buildXrayConfig() to `path`; "cannot write generated xray config" on failure, in
// which case an earlier file at `path` stays as it was.
bool writeXrayConfig(const vpn::NodeRecord& node, const PhysicalGateway& gateway, uint32_t socketMark,
                     const std::string& path, std::string& error);

}  // namespace tunnel
