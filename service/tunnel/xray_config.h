#pragma once
// The Xray client configuration for one node: a SOCKS5 inbound on 127.0.0.1:10808 for
// tun2socks, VLESS+REALITY over TCP to the node and a direct outbound, both bound to the
// physical adapter, a block outbound, and the routing rules.

#include <string>

#include "service/tunnel/network.h"
#include "vpn/control_plane.h"

namespace tunnel {

// The configuration document (UTF-8, two-space indentation, ends with a line feed).
std::string buildXrayConfig(const vpn::NodeRecord& node, const PhysicalGateway& gateway);

// Writes buildXrayConfig() to `path`; "cannot write generated xray config" on failure, in
// which case an earlier file at `path` stays as it was.
bool writeXrayConfig(const vpn::NodeRecord& node, const PhysicalGateway& gateway, const std::string& path,
                     std::string& error);

}  // namespace tunnel
