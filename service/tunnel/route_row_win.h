#pragma once
// The IP Helper route row for a route description (Windows only).

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <string>

#include "service/tunnel/network.h"

namespace tunnel {

// InitializeIpForwardEntry, then the interface (LUID from the alias, its index), destination
// prefix and next hop (AF_INET), the metric, protocol MIB_IPPROTO_NETMGMT and infinite
// lifetimes. "unknown interface A" when the alias names no adapter; "invalid IPv4 route D
// via N" when either address is not dotted-decimal IPv4 (a host name included).
bool buildRouteRow(const RouteSpec& route, MIB_IPFORWARD_ROW2& row, std::string& error);

// Everything after InitializeIpForwardEntry (which wine does not implement, so tests under
// wine start from a zeroed row): interface, addresses, metric, protocol, lifetimes.
bool fillRouteRow(const RouteSpec& route, MIB_IPFORWARD_ROW2& row, std::string& error);

// The IPv4 address `hostOrder` as a SOCKADDR_INET.
SOCKADDR_INET ipv4SocketAddress(uint32_t hostOrder);

}  // namespace tunnel
