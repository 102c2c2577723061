// The network operations on Linux: rtnetlink for the gateway, routes, links and addresses
// (routes we add carry our protocol number), the DNS backends of dns_linux for DNS.
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "service/tunnel/dns_linux.h"
#include "service/tunnel/gateway_choice.h"
#include "service/tunnel/netlink_linux.h"
#include "service/tunnel/network.h"

namespace tunnel {
namespace {

constexpr uint8_t kTunPrefixLength = 24;  // mask 255.255.255.0
constexpr uint8_t kRouteTypeUnicast = 1;  // RTN_UNICAST
// Link events wake the waits at once; the cap only bounds the cost of an event lost.
constexpr int kEventWaitCapMs = 1000;
constexpr int kPollIntervalMs = 250;  // when no event subscription could be made
constexpr int kPortProbeMs = 20;      // a loopback connect answers at once

std::string lowerAscii(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return text;
}

bool findLink(const std::string& name, netlink::Link& found) {
    std::vector<netlink::Link> links;
    std::string ignored;
    if (name.empty() || !netlink::listLinks(links, ignored)) return false;
    for (const netlink::Link& link : links) {
        if (link.name == name) {
            found = link;
            return true;
        }
    }
    return false;
}

std::vector<uint32_t> ipv4AddressesOf(int index) {
    std::vector<netlink::Address> addresses;
    std::vector<uint32_t> result;
    std::string ignored;
    if (!netlink::listAddresses(addresses, ignored)) return result;
    for (const netlink::Address& address : addresses) {
        if (address.index == index) result.push_back(address.address);
    }
    return result;
}

// A next hop equal to the interface's own address (the TUN's) means "through the interface":
// the route gets only the output interface.
uint32_t gatewayFor(const RouteAddresses& addresses, int index) {
    if (!addresses.hasNextHop || addresses.nextHop == 0) return 0;
    const std::vector<uint32_t> own = ipv4AddressesOf(index);
    return std::find(own.begin(), own.end(), addresses.nextHop) != own.end() ? 0 : addresses.nextHop;
}

bool isMainUnicast(const netlink::Route& route) {
    return route.table == netlink::kMainTable && route.type == kRouteTypeUnicast;
}

// Calls `ready` until it is true or `timeoutMs` has passed (checked before every attempt),
// waking on link and address events.
template <typename Ready>
bool waitUntil(int timeoutMs, Ready ready) {
    netlink::EventWatcher watcher;  // subscribed before the first look, so no change is missed
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        if (elapsed >= timeoutMs) return false;
        if (ready()) return true;
        const int left = timeoutMs - static_cast<int>(elapsed);
        watcher.wait(std::min(left, watcher.ok() ? kEventWaitCapMs : kPollIntervalMs));
    }
}

class LinuxNetworkOps final : public NetworkOps {
public:
    LinuxNetworkOps(ProcessRunner& runner, const NetworkOptions& options)
        : dns_(runner, runCommandWithInput,
               DnsSettings{options.dnsBackend, options.resolvConfPath, options.dnsStatePath, kResolvedUpstreamPath}) {}

    bool findPhysicalGateway(PhysicalGateway& gateway, std::string& error) override {
        std::vector<netlink::Route> routes;
        std::vector<netlink::Link> links;
        if (!netlink::listRoutes(routes, error) || !netlink::listLinks(links, error)) return false;
        std::vector<GatewayCandidate> candidates;
        for (const netlink::Route& route : routes) {
            if (!isMainUnicast(route) || route.prefixLength != 0) continue;
            for (const netlink::NextHop& hop : route.nextHops)  // several with ECMP
                candidates.push_back({usableName(links, hop.interfaceIndex), 0, hop.gateway, route.priority});
        }
        return choosePhysicalGateway(candidates, gateway, error);
    }

    bool addRoute(const RouteSpec& route, std::string& error) override {
        // The interface first, then the addresses: the order in which Windows builds its row.
        netlink::Link link;
        if (!findLink(route.interfaceAlias, link)) {
            error = "unknown interface " + route.interfaceAlias;
            return false;
        }
        RouteAddresses addresses;
        if (!parseRouteAddresses(route, false, addresses, error)) return false;
        const netlink::RouteChange change{addresses.destination, route.prefixLength, link.index,
                                          gatewayFor(addresses, link.index), route.metric,
                                          netlink::kTunnelRouteProtocol, 0};
        std::string detail;
        const int code = netlink::addRoute(change, &detail);
        if (code == 0 || code == EEXIST) return true;
        error = "RTM_NEWROUTE failed " + netlink::errnoText(code) + (detail.empty() ? "" : ": " + detail) + " for " +
                route.destination;
        return false;
    }

    void deleteRoute(const RouteSpec& route) override {
        RouteAddresses addresses;
        netlink::Link link;
        std::string ignored;
        if (!parseRouteAddresses(route, false, addresses, ignored) || !findLink(route.interfaceAlias, link)) return;
        // Only the route we added: an administrator's own to the same place, through the same
        // gateway and interface, carries another protocol (and mostly another metric).
        netlink::deleteRoute({addresses.destination, route.prefixLength, link.index, gatewayFor(addresses, link.index),
                              route.metric, netlink::kTunnelRouteProtocol, 0});
    }

    bool routeExists(const std::string& alias, const std::string& destination, uint8_t prefixLength) override {
        uint32_t address = 0;
        netlink::Link link;
        std::vector<netlink::Route> routes;
        std::string ignored;
        if (!parseIpv4(destination, address) || !findLink(alias, link) || !netlink::listRoutes(routes, ignored))
            return false;
        for (const netlink::Route& route : routes) {
            if (route.table != netlink::kMainTable || route.destination != address ||
                route.prefixLength != prefixLength)
                continue;
            for (const netlink::NextHop& hop : route.nextHops) {
                if (hop.interfaceIndex == link.index) return true;
            }
        }
        return false;
    }

    void removeStaleRoutes() override {
        std::vector<netlink::Route> routes;
        std::string ignored;
        if (!netlink::listRoutes(routes, ignored)) return;
        for (const netlink::Route& route : routes) {
            if (route.table != netlink::kMainTable || route.protocol != netlink::kTunnelRouteProtocol) continue;
            const netlink::NextHop hop = route.nextHops.empty() ? netlink::NextHop{} : route.nextHops.front();
            netlink::deleteRoute({route.destination, route.prefixLength, hop.interfaceIndex, hop.gateway,
                                  route.priority, route.protocol, route.tos});
        }
    }

    bool waitForTunAdapter(const std::string& fragment, std::string& alias, int timeoutMs) override {
        const std::string wanted = lowerAscii(fragment);
        return waitUntil(timeoutMs, [&] {
            std::vector<netlink::Link> links;
            std::string ignored;
            if (!netlink::listLinks(links, ignored)) return false;
            for (const netlink::Link& link : links) {
                // A carrier means a process (tun2socks) holds the TUN open; a persistent TUN
                // left without one is not taken.
                if (link.carrier && lowerAscii(link.name).find(wanted) != std::string::npos) {
                    alias = link.name;
                    return true;
                }
            }
            return false;
        });
    }

    bool localPortAccepts(uint16_t port) override {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bool accepted = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        if (!accepted && errno == EINPROGRESS) {
            pollfd done{fd, POLLOUT, 0};
            int failure = 0;
            socklen_t size = sizeof failure;
            accepted = ::poll(&done, 1, kPortProbeMs) == 1 &&
                       ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &size) == 0 && failure == 0;
        }
        ::close(fd);
        return accepted;
    }

    bool waitForIpv4Address(const std::string& alias, int timeoutMs) override {
        return waitUntil(timeoutMs, [&] {
            netlink::Link link;
            return findLink(alias, link) && !ipv4AddressesOf(link.index).empty();
        });
    }

    std::vector<IpPrefix> onLinkNetworks(const std::string& alias) override {
        netlink::Link link;
        std::vector<netlink::Address> addresses;
        std::string ignored;
        if (!findLink(alias, link) || !netlink::listAddresses(addresses, ignored)) return {};
        std::vector<IpPrefix> networks;
        for (const netlink::Address& address : addresses) {
            if (address.index != link.index || address.prefixLength == 0) continue;
            const uint32_t mask = address.prefixLength >= 32 ? ~0u : ~(~0u >> address.prefixLength);
            networks.push_back({formatIpv4(address.address & mask), address.prefixLength, false});
        }
        return networks;
    }

    std::vector<std::string> adapterDnsServers(const std::string&) override { return dns_.servers(); }

    bool setTunAddress(const std::string& alias, const std::string& address, std::string& error) override {
        const std::string prefix = "failed to assign TUN address: ";
        uint32_t parsed = 0;
        netlink::Link link;
        if (!parseIpv4(address, parsed)) {
            error = prefix + "invalid IPv4 address " + address;
            return false;
        }
        if (!findLink(alias, link)) {
            error = prefix + "unknown interface " + alias;
            return false;
        }
        replaceOtherAddresses(link.index, parsed);
        std::string detail;
        int code = netlink::addAddress(link.index, parsed, kTunPrefixLength, &detail);
        if (code != 0 && code != EEXIST) {
            error = prefix + "RTM_NEWADDR failed " + netlink::errnoText(code) + (detail.empty() ? "" : ": " + detail);
            return false;
        }
        code = netlink::setLinkUp(link.index);
        if (code != 0) {
            error = prefix + "RTM_NEWLINK failed " + netlink::errnoText(code);
            return false;
        }
        return true;
    }

    void setTunDns(const std::string& alias) override { dns_.setTunDns(alias); }
    // Linux has no per-adapter DHCP setting to go back to: what we may have changed is the
    // machine's resolver configuration, and that is put back.
    void resetAdapterDns(const std::string&) override { dns_.restore(); }
    void restoreDns() override { dns_.restore(); }

private:
    // Like a static address set on Windows, the new address replaces any other, also the same
    // address with another mask.
    static void replaceOtherAddresses(int index, uint32_t address) {
        std::vector<netlink::Address> addresses;
        std::string ignored;
        if (!netlink::listAddresses(addresses, ignored)) return;
        for (const netlink::Address& other : addresses) {
            if (other.index == index && (other.address != address || other.prefixLength != kTunPrefixLength))
                netlink::deleteAddress(index, other.address, other.prefixLength);
        }
    }

    // The interface's name, or empty for loopback and unknown interfaces. Loopback is told
    // by its flag and the exact name "lo": a substring test would also hit e.g. "wlo1".
    static std::string usableName(const std::vector<netlink::Link>& links, int index) {
        for (const netlink::Link& link : links) {
            if (link.index == index) return (link.flags & IFF_LOOPBACK) || link.name == "lo" ? "" : link.name;
        }
        return "";
    }

    LinuxDns dns_;
};

}  // namespace

std::unique_ptr<NetworkOps> makeNetworkOps(ProcessRunner& runner, NetworkOptions options) {
    return std::make_unique<LinuxNetworkOps>(runner, options);
}

}  // namespace tunnel
