// What the leak protection lets out while a tunnel is up, judged flow by flow the way every
// platform applies the rules: the first rule that matches decides.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "service/tunnel/firewall.h"

namespace {

using tunnel::FirewallRule;
using tunnel::IpFamily;
using tunnel::Transport;
using tunnel::Verdict;

struct Flow {
    const char* what;
    std::string remote;  // dotted decimal, or IPv6 text
    Transport transport = Transport::tcp;
    uint16_t remotePort = 443;
    uint16_t localPort = 50000;
    bool throughTun = false;
    bool xray = false;
    bool loopback = false;
    uint8_t icmpType = 0;
};

// The first 32 bits of an address (IPv6: its first two groups), enough for the prefixes here.
uint32_t leadingBits(const std::string& address, bool ipv6) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!ipv6) return std::sscanf(address.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d) == 4 ? a << 24 | b << 16 | c << 8 | d : 0;
    std::sscanf(address.c_str(), "%x:%x", &a, &b);
    return a << 16 | (address.find("::") == address.find(':') ? 0 : b);
}

bool inNetwork(const Flow& flow, const tunnel::IpPrefix& network) {
    const bool ipv6 = flow.remote.find(':') != std::string::npos;
    if (ipv6 != network.ipv6) return false;
    const unsigned length = std::min<unsigned>(network.length, 32);
    const uint32_t mask = length == 0 ? 0 : ~0u << (32 - length);
    return (leadingBits(flow.remote, ipv6) & mask) == (leadingBits(network.address, ipv6) & mask);
}

bool matches(const FirewallRule& rule, const Flow& flow) {
    const bool ipv6 = flow.remote.find(':') != std::string::npos;
    if ((rule.family == IpFamily::ipv4 && ipv6) || (rule.family == IpFamily::ipv6 && !ipv6)) return false;
    if ((rule.loopback && !flow.loopback) || (rule.throughTun && !flow.throughTun) || (rule.xray && !flow.xray))
        return false;
    const bool transportOk = rule.transport == Transport::any || rule.transport == flow.transport ||
                             (rule.transport == Transport::tcpOrUdp &&
                              (flow.transport == Transport::tcp || flow.transport == Transport::udp));
    if (!transportOk || (rule.localPort && rule.localPort != flow.localPort)) return false;
    const auto has = [](const auto& list, auto value) { return std::find(list.begin(), list.end(), value) != list.end(); };
    if (!rule.remotePorts.empty() && !has(rule.remotePorts, flow.remotePort)) return false;
    if (!rule.icmpTypes.empty() && !has(rule.icmpTypes, flow.icmpType)) return false;
    return rule.remoteNetworks.empty() ||
           std::any_of(rule.remoteNetworks.begin(), rule.remoteNetworks.end(),
                       [&](const tunnel::IpPrefix& network) { return inNetwork(flow, network); });
}

bool permitted(const std::vector<FirewallRule>& rules, const Flow& flow) {
    for (const FirewallRule& rule : rules)
        if (matches(rule, flow)) return rule.verdict == Verdict::permit;
    ADD_FAILURE() << "no rule decides " << flow.what;
    return false;
}

struct Case {
    Flow flow;
    bool withLan;
    bool withoutLan;
};

TEST(FirewallRules, OnlyTheTunnelXrayAndTheMachinesOwnNeedsLeaveTheMachine) {
    const Case cases[] = {
        {{"xray to the node", "203.0.113.7", Transport::tcp, 443, 50000, false, true}, true, true},
        {{"another program to the node", "203.0.113.7"}, false, false},
        {{"anything through the tunnel", "8.8.8.8", Transport::udp, 53, 50000, true}, true, true},
        {{"public address outside the tunnel", "8.8.4.4"}, false, false},
        {{"dns to the lan resolver (udp)", "192.168.1.1", Transport::udp, 53}, false, false},
        {{"dns to the lan resolver (tcp)", "192.168.1.1", Transport::tcp, 53}, false, false},
        {{"dns over tls to the lan", "192.168.1.1", Transport::tcp, 853}, false, false},
        {{"xray's own dns to the lan", "192.168.1.1", Transport::udp, 53, 50000, false, true}, true, true},
        {{"lan host", "192.168.1.20", Transport::tcp, 445}, true, false},
        {{"mdns on the lan", "224.0.0.251", Transport::udp, 5353}, true, false},
        {{"private address off the link", "10.9.9.9", Transport::tcp, 445}, false, false},
        {{"dhcp", "255.255.255.255", Transport::udp, 67, 68}, true, true},
        {{"dhcpv6", "ff02::1:2", Transport::udp, 547, 546}, true, true},
        {{"global ipv6", "2001:db8::1"}, false, false},
        {{"ipv6 link-local", "fe80::1", Transport::tcp, 22}, true, true},
        {{"neighbour solicitation to a global address", "2001:db8::1", Transport::icmpv6, 0, 0, false, false, false, 135},
         true, true},
        {{"echo request to a global ipv6 address", "2001:db8::1", Transport::icmpv6, 0, 0, false, false, false, 128},
         false, false},
        {{"loopback", "127.0.0.1", Transport::tcp, 10808, 50000, false, false, true}, true, true},
    };
    tunnel::FirewallPolicy policy;
    policy.localNetworks = {{"192.168.1.0", 24, false}};
    for (const bool allowLan : {true, false}) {
        policy.allowLan = allowLan;
        const std::vector<FirewallRule> rules = tunnel::buildFirewallRules(policy);
        for (const Case& c : cases)
            EXPECT_EQ(permitted(rules, c.flow), allowLan ? c.withLan : c.withoutLan)
                << c.flow.what << (allowLan ? " (lan allowed)" : " (lan blocked)");
    }
}

}  // namespace
