#pragma once
// The network operations of a tunnel session, IPv4 only: the physical default gateway,
// routes, the TUN adapter's address and DNS.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tunnel {

struct PhysicalGateway {
    std::string interfaceAlias;
    std::string nextHop;  // dotted decimal
};

struct RouteSpec {
    std::string interfaceAlias;
    std::string destination;  // dotted decimal
    uint8_t prefixLength = 0;
    std::string nextHop;  // dotted decimal; on Linux a route through the TUN needs none
    uint32_t metric = 0;
};

class NetworkOps {
public:
    virtual ~NetworkOps() = default;
    // The non-virtual adapter with the lowest-metric default route that has a next hop;
    // "no physical default gateway" when there is none.
    virtual bool findPhysicalGateway(PhysicalGateway& gateway, std::string& error) = 0;
    // True when added or already present; "unknown interface A", "invalid IPv4 route D via N"
    // or the system's failure otherwise.
    virtual bool addRoute(const RouteSpec& route, std::string& error) = 0;
    // Removes the route when present; never fails the caller.
    virtual void deleteRoute(const RouteSpec& route) = 0;
    // True when the IPv4 table holds a route with this interface, destination and prefix.
    virtual bool routeExists(const std::string& alias, const std::string& destination, uint8_t prefixLength) = 0;
    // Removes routes that an earlier session of ours left behind (a crashed service).
    virtual void removeStaleRoutes() = 0;
    // Waits until an adapter whose name contains `fragment` (any case) is up; its name in `alias`.
    virtual bool waitForTunAdapter(const std::string& fragment, std::string& alias, int timeoutMs) = 0;
    // Waits until the adapter named exactly `alias` has an IPv4 unicast address.
    virtual bool waitForIpv4Address(const std::string& alias, int timeoutMs) = 0;
    // The adapter's IPv4 DNS servers, in order.
    virtual std::vector<std::string> adapterDnsServers(const std::string& alias) = 0;
    // Gives the adapter `address`/24 (and brings it up); "failed to assign TUN address: ..." on failure.
    virtual bool setTunAddress(const std::string& alias, const std::string& address, std::string& error) = 0;
    // Makes 1.1.1.1 the DNS server of the tunnel; failures are ignored.
    virtual void setTunDns(const std::string& alias) = 0;
    // Puts the adapter's DNS back to DHCP; failures are ignored.
    virtual void resetAdapterDns(const std::string& alias) = 0;
    // Undoes setTunDns where the system needs it (Linux restores the saved configuration).
    virtual void restoreDns() = 0;
};

}  // namespace tunnel
