#pragma once
// Thin wrappers over rtnetlink (NETLINK_ROUTE) for IPv4: link, address and route dumps, a
// route look-up, address and route changes, and link/address events. Each call opens its own
// socket, so it acts in the network namespace of the calling thread. Addresses are in host
// byte order. Changes return 0 or a positive errno value.

#include <cstdint>
#include <string>
#include <vector>

namespace tunnel::netlink {

// The protocol number on every route the tunnel adds (rtnetlink's rtm_protocol, free in
// iproute2's rt_protos), so that routes left by a crashed service can be found and removed.
// `ip route` shows them as "proto 167".
inline constexpr uint8_t kTunnelRouteProtocol = 0xa7;
inline constexpr uint8_t kMainTable = 254;  // RT_TABLE_MAIN

struct Link {
    int index = 0;
    std::string name;
    unsigned flags = 0;    // IFF_UP, IFF_LOOPBACK...
    bool carrier = false;  // a TUN has one while a process holds it open
};

struct Address {
    int index = 0;
    uint32_t address = 0;
    uint8_t prefixLength = 0;
};

struct NextHop {
    int interfaceIndex = 0;
    uint32_t gateway = 0;  // 0: on-link
};

struct Route {
    uint32_t table = 0;
    uint8_t protocol = 0;
    uint8_t scope = 0;
    uint8_t type = 0;
    uint8_t tos = 0;
    uint32_t destination = 0;
    uint8_t prefixLength = 0;
    uint32_t priority = 0;          // the route's metric
    std::vector<NextHop> nextHops;  // several for a multipath route
};

// What identifies a route to add or delete in the main table. For a delete, zero fields match
// any value (priority, protocol, gateway, interface).
struct RouteChange {
    uint32_t destination = 0;
    uint8_t prefixLength = 0;
    int interfaceIndex = 0;
    uint32_t gateway = 0;  // 0: through the interface itself
    uint32_t priority = 0;
    uint8_t protocol = 0;
    uint8_t tos = 0;
};

// Dumps; false with a text naming the failed request.
bool listLinks(std::vector<Link>& links, std::string& error);
bool listAddresses(std::vector<Address>& addresses, std::string& error);
bool listRoutes(std::vector<Route>& routes, std::string& error);  // IPv4, all tables
// The table entry the kernel would use for `destination` (RTM_GETROUTE, RTM_F_FIB_MATCH).
bool lookupRoute(uint32_t destination, Route& route, std::string& error);

// Changes: 0 on success, otherwise the errno value; `detail` gets the kernel's extended
// acknowledgement text when it sends one.
int addAddress(int index, uint32_t address, uint8_t prefixLength, std::string* detail = nullptr);
int deleteAddress(int index, uint32_t address, uint8_t prefixLength);  // exactly this prefix length
int setLinkUp(int index);
// RTM_NEWROUTE with NLM_F_CREATE | NLM_F_EXCL in the main table.
int addRoute(const RouteChange& route, std::string* detail = nullptr);
int deleteRoute(const RouteChange& route);

// "19 (No such device)": an errno value as the texts of this runtime show it.
std::string errnoText(int error);

// Subscribes to link and IPv4 address changes of the calling thread's namespace, and with
// `routesToo` to IPv4 route changes.
class EventWatcher {
public:
    explicit EventWatcher(bool routesToo = false);
    ~EventWatcher();
    EventWatcher(const EventWatcher&) = delete;
    EventWatcher& operator=(const EventWatcher&) = delete;

    bool ok() const { return fd_ >= 0; }
    // Waits up to `timeoutMs` for any change (or a lost one); true when something arrived.
    // Without a subscription it just sleeps, so callers degrade to polling.
    bool wait(int timeoutMs);
    // The socket, for a poll together with other descriptors; -1 without a subscription.
    int descriptor() const { return fd_; }

private:
    int fd_ = -1;
};

}  // namespace tunnel::netlink
