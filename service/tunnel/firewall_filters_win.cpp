#include "service/tunnel/firewall_filters_win.h"

#include <ws2tcpip.h>

#include <cstring>

#include "service/tunnel/gateway_choice.h"

namespace tunnel {
namespace {

constexpr uint8_t kProtocolTcp = 6;
constexpr uint8_t kProtocolUdp = 17;
constexpr uint8_t kProtocolIcmpv6 = 58;

struct Inputs {
    uint32_t tunAddress = 0;
    bool tunAddressValid = false;
    const std::vector<uint8_t>& xrayAppId;
};

WfpCondition condition(WfpField field, FWP_DATA_TYPE type, uint32_t number, FWP_MATCH_TYPE match = FWP_MATCH_EQUAL) {
    WfpCondition result;
    result.field = field;
    result.match = match;
    result.value.type = type;
    result.value.number = number;
    return result;
}

// The prefix as a remote address condition; false when it is no address of its family.
bool networkCondition(const IpPrefix& prefix, WfpCondition& out) {
    out = condition(WfpField::remoteAddress, prefix.ipv6 ? FWP_V6_ADDR_MASK : FWP_V4_ADDR_MASK, 0);
    if (!prefix.ipv6) {
        uint32_t address = 0;
        if (prefix.length > 32 || !parseIpv4(prefix.address, address)) return false;
        out.value.mask = prefix.length == 0 ? 0 : 0xFFFFFFFFu << (32 - prefix.length);
        out.value.number = address & out.value.mask;
        return true;
    }
    in6_addr address{};
    // c_str() would end the text at an embedded NUL; such text is no address.
    if (prefix.length > 128 || prefix.address.find('\0') != std::string::npos ||
        inet_pton(AF_INET6, prefix.address.c_str(), &address) != 1)
        return false;
    std::memcpy(out.value.v6Address.data(), &address, sizeof address);
    out.value.prefixLength = prefix.length;
    return true;
}

// What no filter could carry is refused here rather than dropped: a dropped condition would
// widen a permit.
bool checkRule(const FirewallRule& rule, const FirewallPolicy& policy, const Inputs& inputs,
               std::vector<WfpCondition>& networks, std::string& error) {
    if (rule.throughTun && !inputs.tunAddressValid) {
        error = "firewall: invalid TUN address " + policy.tunAddress;
        return false;
    }
    if (rule.xray && inputs.xrayAppId.empty()) {
        error = "firewall: no application id for Xray";
        return false;
    }
    if (rule.localPort != 0 && !rule.icmpTypes.empty()) {
        error = std::string("firewall: rule \"") + rule.purpose + "\" has both a local port and ICMP types";
        return false;
    }
    for (const IpPrefix& prefix : rule.remoteNetworks) {
        WfpCondition network;
        if (!networkCondition(prefix, network)) {
            error = "firewall: invalid network " + prefix.address + "/" + std::to_string(prefix.length);
            return false;
        }
        networks.push_back(network);
    }
    return true;
}

void addTransport(Transport transport, std::vector<WfpCondition>& out) {
    auto protocol = [&out](uint8_t number) { out.push_back(condition(WfpField::protocol, FWP_UINT8, number)); };
    switch (transport) {
    case Transport::any: break;
    case Transport::tcp: protocol(kProtocolTcp); break;
    case Transport::udp: protocol(kProtocolUdp); break;
    case Transport::tcpOrUdp: protocol(kProtocolTcp); protocol(kProtocolUdp); break;
    case Transport::icmpv6: protocol(kProtocolIcmpv6); break;
    }
}

// The rule's conditions at the layers of one family; false when it matches nothing there
// (over the TUN on IPv6, or only networks of the other family).
bool conditionsAt(bool ipv6, const FirewallRule& rule, const Inputs& inputs, const std::vector<WfpCondition>& networks,
                  std::vector<WfpCondition>& out) {
    if (rule.throughTun && ipv6) return false;
    if (rule.loopback)
        out.push_back(condition(WfpField::flags, FWP_UINT32, FWP_CONDITION_FLAG_IS_LOOPBACK, FWP_MATCH_FLAGS_ALL_SET));
    if (rule.throughTun) out.push_back(condition(WfpField::localAddress, FWP_UINT32, inputs.tunAddress));
    if (rule.xray) {
        out.push_back(condition(WfpField::appId, FWP_BYTE_BLOB_TYPE, 0));
        out.back().value.blob = inputs.xrayAppId;
    }
    addTransport(rule.transport, out);
    for (uint16_t port : rule.remotePorts) out.push_back(condition(WfpField::remotePort, FWP_UINT16, port));
    if (rule.localPort != 0) out.push_back(condition(WfpField::localPort, FWP_UINT16, rule.localPort));
    for (uint8_t type : rule.icmpTypes) out.push_back(condition(WfpField::localPort, FWP_UINT16, type));
    bool networkOfFamily = false;
    for (const WfpCondition& network : networks) {
        if ((network.value.type == FWP_V6_ADDR_MASK) != ipv6) continue;
        out.push_back(network);
        networkOfFamily = true;
    }
    return networks.empty() || networkOfFamily;
}

std::vector<WfpLayer> layersOf(IpFamily family) {
    switch (family) {
    case IpFamily::ipv4: return {WfpLayer::connectV4, WfpLayer::recvAcceptV4};
    case IpFamily::ipv6: return {WfpLayer::connectV6, WfpLayer::recvAcceptV6};
    case IpFamily::any: break;
    }
    return {WfpLayer::connectV4, WfpLayer::recvAcceptV4, WfpLayer::connectV6, WfpLayer::recvAcceptV6};
}

bool isIpv6(WfpLayer layer) { return layer == WfpLayer::connectV6 || layer == WfpLayer::recvAcceptV6; }

}  // namespace

bool buildWfpFilters(const FirewallPolicy& policy, const std::vector<uint8_t>& xrayAppId,
                     std::vector<WfpFilter>& filters, std::string& error) {
    Inputs inputs{0, false, xrayAppId};
    inputs.tunAddressValid = parseIpv4(policy.tunAddress, inputs.tunAddress);
    const std::vector<FirewallRule> rules = buildFirewallRules(policy);
    std::vector<WfpFilter> built;
    for (size_t i = 0; i < rules.size(); ++i) {
        const FirewallRule& rule = rules[i];
        std::vector<WfpCondition> networks;
        if (!checkRule(rule, policy, inputs, networks, error)) return false;
        for (WfpLayer layer : layersOf(rule.family)) {
            WfpFilter filter{rule.purpose, layer, rules.size() - i, rule.verdict == Verdict::permit, {}};
            if (conditionsAt(isIpv6(layer), rule, inputs, networks, filter.conditions)) built.push_back(std::move(filter));
        }
    }
    filters = std::move(built);
    return true;
}

}  // namespace tunnel
