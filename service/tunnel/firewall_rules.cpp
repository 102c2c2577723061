#include "service/tunnel/firewall.h"

namespace tunnel {
namespace {

constexpr uint16_t kDhcpServerPort = 67;
constexpr uint16_t kDhcpClientPort = 68;
constexpr uint16_t kDhcp6ServerPort = 547;
constexpr uint16_t kDhcp6ClientPort = 546;
// Router and neighbour solicitation and advertisement, redirect.
const std::vector<uint8_t> kNeighbourDiscovery{133, 134, 135, 136, 137};
// Plain DNS and DNS over TLS: a resolver on the LAN sees every name the user looks up.
const std::vector<uint16_t> kDnsPorts{53, 853};

FirewallRule permit(const char* purpose) {
    FirewallRule rule;
    rule.purpose = purpose;
    rule.verdict = Verdict::permit;
    return rule;
}

FirewallRule dhcp(const char* purpose, IpFamily family, uint16_t localPort, uint16_t serverPort) {
    FirewallRule rule = permit(purpose);
    rule.family = family;
    rule.transport = Transport::udp;
    rule.localPort = localPort;
    rule.remotePorts = {serverPort};
    return rule;
}

}  // namespace

std::vector<FirewallRule> buildFirewallRules(const FirewallPolicy& policy) {
    std::vector<FirewallRule> rules;
    FirewallRule loopback = permit("loopback");
    loopback.loopback = true;
    rules.push_back(loopback);
    FirewallRule tun = permit("through the tunnel");
    tun.throughTun = true;
    rules.push_back(tun);
    FirewallRule xray = permit("xray's own connections");
    xray.xray = true;
    rules.push_back(xray);
    rules.push_back(dhcp("dhcp", IpFamily::ipv4, kDhcpClientPort, kDhcpServerPort));
    rules.push_back(dhcp("dhcpv6", IpFamily::ipv6, kDhcp6ClientPort, kDhcp6ServerPort));
    FirewallRule neighbours = permit("neighbour discovery");
    neighbours.family = IpFamily::ipv6;
    neighbours.transport = Transport::icmpv6;
    neighbours.icmpTypes = kNeighbourDiscovery;
    rules.push_back(neighbours);

    FirewallRule dns;
    dns.purpose = "dns outside the tunnel";
    dns.transport = Transport::tcpOrUdp;
    dns.remotePorts = kDnsPorts;
    rules.push_back(dns);

    FirewallRule linkLocal = permit("ipv6 link-local and multicast");
    linkLocal.family = IpFamily::ipv6;
    linkLocal.remoteNetworks = {{"fe80::", 10, true}, {"ff00::", 8, true}};
    rules.push_back(linkLocal);
    if (policy.allowLan && !policy.localNetworks.empty()) {
        FirewallRule lan = permit("local network");
        lan.family = IpFamily::ipv4;
        lan.remoteNetworks = policy.localNetworks;
        // Discovery on the LAN (mDNS, SSDP) goes to multicast and broadcast addresses.
        lan.remoteNetworks.push_back({"224.0.0.0", 4, false});
        lan.remoteNetworks.push_back({"255.255.255.255", 32, false});
        rules.push_back(lan);
    }
    FirewallRule rest;
    rest.purpose = "everything else";
    rules.push_back(rest);
    return rules;
}

}  // namespace tunnel
