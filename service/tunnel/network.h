#pragma once
// The network operations of a tunnel session, IPv4 only: the physical default gateway,
// routes, the TUN adapter's address and DNS.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "service/tunnel/firewall.h"

namespace tunnel {

class ProcessRunner;

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
    // Removes the route when present; never fails the caller. Linux: only a route of ours (our
    // route protocol, and this metric when it is not 0), never an administrator's alike.
    virtual void deleteRoute(const RouteSpec& route) = 0;
    // True when the IPv4 table holds a route with this interface, destination and prefix.
    virtual bool routeExists(const std::string& alias, const std::string& destination, uint8_t prefixLength) = 0;
    // Removes routes that an earlier session of ours left behind (a crashed service). Linux:
    // every route carrying our route protocol number. Windows: nothing (the host route is
    // deleted before it is added again, split routes vanish with the adapter).
    virtual void removeStaleRoutes() = 0;
    // Waits until the TUN adapter, the first whose name contains `fragment` (any case), is
    // ready; its name in `alias`. Windows: name or description matches and the operational
    // status is up. Linux: the interface exists and a process holds it open (it has a
    // carrier); it need not be up, setTunAddress brings the link up.
    virtual bool waitForTunAdapter(const std::string& fragment, std::string& alias, int timeoutMs) = 0;
    // True when something accepts TCP connections on 127.0.0.1:`port` now.
    virtual bool localPortAccepts(uint16_t port) = 0;
    // Waits until the adapter named exactly `alias` has an IPv4 unicast address.
    virtual bool waitForIpv4Address(const std::string& alias, int timeoutMs) = 0;
    // The IPv4 networks on the adapter's link (each address's network and prefix length), for
    // the firewall's LAN access; empty when the adapter is unknown.
    virtual std::vector<IpPrefix> onLinkNetworks(const std::string& alias) = 0;
    // The adapter's IPv4 DNS servers, in order. Linux has one resolver configuration for the
    // whole machine: the servers it uses, whatever the adapter.
    virtual std::vector<std::string> adapterDnsServers(const std::string& alias) = 0;
    // Gives the adapter `address`/24 (and brings it up); "failed to assign TUN address: ..." on failure.
    virtual bool setTunAddress(const std::string& alias, const std::string& address, std::string& error) = 0;
    // Makes 1.1.1.1 the DNS server of the tunnel; failures are ignored.
    virtual void setTunDns(const std::string& alias) = 0;
    // Puts the adapter's DNS back to DHCP; failures are ignored. Linux: the system's own
    // configuration is restored from what an earlier session of ours saved, if anything.
    virtual void resetAdapterDns(const std::string& alias) = 0;
    // Undoes setTunDns where the system needs it (Linux restores the saved configuration,
    // also one saved by a session that never restored it). Windows: nothing to do, the
    // adapter's DNS goes with the adapter.
    virtual void restoreDns() = 0;
};

// How the tunnel's DNS reaches a system that keeps one resolver configuration for the whole
// machine (Linux). `automatic` takes systemd-resolved when it manages resolv.conf, else
// resolvconf when installed, else the resolv.conf file.
enum class DnsBackend { automatic, resolved, resolvconf, file };

// Settings of the network operations. The DNS fields concern systems with one machine-wide
// resolver configuration (Linux); where DNS is set per adapter (Windows, netsh) they are
// ignored. Tests point the paths into a temporary directory.
struct NetworkOptions {
    DnsBackend dnsBackend = DnsBackend::automatic;
    std::string resolvConfPath = "/etc/resolv.conf";
    // What setTunDns changed, kept until restoreDns; on persistent storage so that a
    // resolv.conf left changed by a crash is put back also after a reboot.
    std::string dnsStatePath = "/var/lib/orvik/dns-state";
};

// The operations of this platform. Commands (netsh, resolvectl, resolvconf) run through
// `runner`, which must outlive the result.
std::unique_ptr<NetworkOps> makeNetworkOps(ProcessRunner& runner, NetworkOptions options = {});

}  // namespace tunnel
