#pragma once
// The platform-free rules behind the network operations: IPv4 text, the adapter names that
// never carry the physical default route, the choice of that route among the system's rows,
// and the checks a route description passes before it reaches the system.

#include <cstdint>
#include <string>
#include <vector>

#include "service/tunnel/network.h"

namespace tunnel {

// Dotted decimal only: four decimal parts 0..255 without leading zeros. Host names, shorthand
// ("10.1"), octal and hexadecimal forms are refused. `address` is in host byte order.
bool parseIpv4(const std::string& text, uint32_t& address);
std::string formatIpv4(uint32_t address);

// True when the adapter name contains one of "VMware", "Loopback", "wintun", "xray",
// "VirtualBox", "Hyper-V", "vEthernet", ignoring ASCII letter case: the TUN adapter of a
// tunnel still up, virtual-machine and loopback adapters.
bool isExcludedAdapterName(const std::string& alias);

// One row of the system's IPv4 route table, as far as the choice needs it.
struct GatewayCandidate {
    std::string alias;  // empty when the adapter's name could not be read
    uint8_t prefixLength = 0;
    uint32_t nextHop = 0;  // host byte order; 0 means on-link (no gateway)
    uint32_t metric = 0;   // the route's own metric
};

// Among default routes (prefix 0) with a next hop, on an adapter whose name is known and not
// excluded, the one with the lowest metric; on equal metrics the first in table order.
// "no physical default gateway" when none qualifies.
bool choosePhysicalGateway(const std::vector<GatewayCandidate>& rows, PhysicalGateway& gateway,
                           std::string& error);

// The addresses of a route description, checked. An empty next hop is allowed only when
// `nextHopRequired` is false (it then means "through the interface itself"); any invalid
// text gives "invalid IPv4 route D via N".
struct RouteAddresses {
    uint32_t destination = 0;
    uint32_t nextHop = 0;
    bool hasNextHop = false;
};
bool parseRouteAddresses(const RouteSpec& route, bool nextHopRequired, RouteAddresses& addresses,
                         std::string& error);

}  // namespace tunnel
