#pragma once
// Leak protection: while a tunnel of ours is up (or its kill switch holds), nothing may leave
// through an interface other than the TUN but Xray's own sockets, DHCP, IPv6 link-local and
// neighbour discovery, loopback and, when allowed, the on-link networks (never their DNS).
// The rule set is data built here once; each platform's applier turns it into its own filters.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tunnel {

// The socket mark Xray puts on its connections (sockopt.mark) so that the firewall knows them.
inline constexpr uint32_t kXrayMark = 0x6f72766b;  // "orvk"

struct IpPrefix {
    std::string address;  // dotted decimal or IPv6 text, the network's first address
    uint8_t length = 0;
    bool ipv6 = false;
};

// What the rules are made from.
struct FirewallPolicy {
    std::string tunInterface;           // the TUN's name (Linux matches traffic by it)
    std::string tunAddress;             // the TUN's IPv4 address (Windows matches traffic by it)
    std::string xrayExecutable;         // Windows permits Xray by its application id
    uint32_t xrayMark = kXrayMark;      // Linux permits Xray's sockets by their mark
    std::vector<IpPrefix> localNetworks;  // the physical adapter's on-link IPv4 networks
    bool allowLan = true;               // the on-link networks may be reached (not their DNS)
    bool killSwitch = false;            // a failed tunnel keeps the block (see LeakGuard)
};

enum class Verdict { permit, reject };
enum class IpFamily { any, ipv4, ipv6 };
enum class Transport { any, tcp, udp, tcpOrUdp, icmpv6 };

// One rule over a flow, seen from this machine: "remote" is the other end, whichever side
// opened it. Every condition set must hold; the first rule that matches decides.
struct FirewallRule {
    const char* purpose = "";  // a few words, kept with the rule where the platform can
    Verdict verdict = Verdict::reject;
    IpFamily family = IpFamily::any;
    bool loopback = false;    // over the loopback interface
    bool throughTun = false;  // over the TUN
    bool xray = false;        // one of Xray's own sockets
    Transport transport = Transport::any;
    std::vector<uint16_t> remotePorts;  // any of them
    uint16_t localPort = 0;             // 0: any
    std::vector<uint8_t> icmpTypes;     // with icmpv6: any of them
    std::vector<IpPrefix> remoteNetworks;  // any of them
};

// The rules for `policy`, in the order they are tried; the last one rejects everything.
std::vector<FirewallRule> buildFirewallRules(const FirewallPolicy& policy);

// The platform's filters. Our rules only: nothing another program made is read or changed.
class Firewall {
public:
    virtual ~Firewall() = default;
    // Puts the rules of `policy` in place of ours in one transaction: there is never a moment
    // with half of them. On failure the rules before stay as they were, and `error` says why.
    virtual bool apply(const FirewallPolicy& policy, std::string& error) = 0;
    // Removes every rule of ours in one transaction; true also when there were none.
    virtual bool clear(std::string& error) = 0;
    // True when rules of ours are in place (also ones an earlier process left).
    virtual bool present() = 0;
};

// The mark Xray must put on its sockets for this platform's firewall to know them; 0 where
// the firewall knows Xray otherwise (Windows: by its application id).
uint32_t xraySocketMark();

// This platform's firewall (Linux: an nftables table of our own; Windows: WFP filters under
// our own provider and sublayer).
std::unique_ptr<Firewall> makeFirewall();

}  // namespace tunnel
