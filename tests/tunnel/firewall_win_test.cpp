// The Windows firewall: what the filters for one connect permit and block, arbitrated the way
// the filter engine does within our sublayer, and the filter engine itself where it runs.
#include <gtest/gtest.h>

#include <ws2tcpip.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "service/tunnel/firewall_filters_win.h"
#include "vpn/text_win.h"

namespace {

using tunnel::WfpCondition;
using tunnel::WfpField;
using tunnel::WfpFilter;

const std::vector<uint8_t> kXray = {'x', 'r', 'a', 'y'};
const std::vector<uint8_t> kOtherProgram = {'o', 't', 'h', 'e', 'r'};
constexpr uint8_t kTcp = 6, kUdp = 17, kIcmpv6 = 58;

// One flow as the ALE layers see it; for ICMP the local port is the ICMP type.
struct Flow {
    const char* what;
    bool allowLan, inbound;
    const char *local, *remote;
    uint8_t protocol;
    uint16_t localPort, remotePort;
    bool xray, loopback, permitted;
};

// A field's value in a flow, typed as the engine types it.
struct Value {
    FWP_DATA_TYPE type = FWP_EMPTY;
    uint32_t number = 0;
    std::array<uint8_t, 16> v6{};
    std::vector<uint8_t> blob{};
};

Value address(const char* text) {
    Value value{FWP_UINT32};
    in6_addr v6{};
    if (inet_pton(AF_INET6, text, &v6) == 1) {
        value.type = FWP_BYTE_ARRAY16_TYPE;
        std::memcpy(value.v6.data(), &v6, 16);
    } else if (in_addr v4{}; inet_pton(AF_INET, text, &v4) == 1) {
        value.number = ntohl(v4.s_addr);
    } else {
        ADD_FAILURE() << text;
    }
    return value;
}

Value fieldOf(WfpField field, const Flow& flow) {
    switch (field) {
    case WfpField::flags: return {FWP_UINT32, flow.loopback ? FWP_CONDITION_FLAG_IS_LOOPBACK : 0u};
    case WfpField::localAddress: return address(flow.local);
    case WfpField::remoteAddress: return address(flow.remote);
    case WfpField::localPort: return {FWP_UINT16, flow.localPort};
    case WfpField::remotePort: return {FWP_UINT16, flow.remotePort};
    case WfpField::protocol: return {FWP_UINT8, flow.protocol};
    case WfpField::appId: break;
    }
    return {FWP_BYTE_BLOB_TYPE, 0, {}, flow.xray ? kXray : kOtherProgram};
}

bool inPrefix(const std::array<uint8_t, 16>& address, const std::array<uint8_t, 16>& network, uint8_t length) {
    for (unsigned bit = 0; bit < length; ++bit) {
        const unsigned mask = 0x80u >> (bit % 8);
        if ((address[bit / 8] & mask) != (network[bit / 8] & mask)) return false;
    }
    return true;
}

bool matches(const WfpCondition& condition, const Flow& flow) {
    const Value field = fieldOf(condition.field, flow);
    const tunnel::WfpValue& value = condition.value;
    if (value.type == FWP_V4_ADDR_MASK && field.type == FWP_UINT32) return (field.number & value.mask) == value.number;
    if (value.type == FWP_V6_ADDR_MASK && field.type == FWP_BYTE_ARRAY16_TYPE)
        return inPrefix(field.v6, value.v6Address, value.prefixLength);
    EXPECT_EQ(value.type, field.type) << "the engine refuses this condition at this layer";
    if (condition.match == FWP_MATCH_FLAGS_ALL_SET) return (field.number & value.number) == value.number;
    EXPECT_EQ(condition.match, FWP_MATCH_EQUAL);
    return value.type == field.type && field.number == value.number && field.blob == value.blob;
}

// Any condition on a field may match; every field must.
bool matches(const WfpFilter& filter, const Flow& flow) {
    return std::all_of(filter.conditions.begin(), filter.conditions.end(), [&](const WfpCondition& condition) {
        return std::any_of(filter.conditions.begin(), filter.conditions.end(), [&](const WfpCondition& other) {
            return other.field == condition.field && matches(other, flow);
        });
    });
}

// Within our sublayer the matching filter of highest weight decides; none: others decide.
bool permitted(const std::vector<WfpFilter>& filters, const Flow& flow) {
    const bool v6 = std::strchr(flow.remote, ':') != nullptr;
    const tunnel::WfpLayer layer = flow.inbound ? (v6 ? tunnel::WfpLayer::recvAcceptV6 : tunnel::WfpLayer::recvAcceptV4)
                                                : (v6 ? tunnel::WfpLayer::connectV6 : tunnel::WfpLayer::connectV4);
    std::vector<const WfpFilter*> atLayer;
    for (const WfpFilter& filter : filters)
        if (filter.layer == layer) atLayer.push_back(&filter);
    std::sort(atLayer.begin(), atLayer.end(), [](auto* a, auto* b) { return a->weight > b->weight; });
    EXPECT_EQ(std::adjacent_find(atLayer.begin(), atLayer.end(), [](auto* a, auto* b) { return a->weight == b->weight; }),
              atLayer.end()) << "equal weights leave the order to the engine";
    for (const WfpFilter* filter : atLayer)
        if (matches(*filter, flow)) return filter->permit;
    return true;
}

tunnel::FirewallPolicy connectPolicy(bool allowLan) {
    tunnel::FirewallPolicy policy;
    policy.tunInterface = "wintun";
    policy.tunAddress = "192.168.123.1";
    policy.xrayExecutable = "C:\\Program Files\\Velora\\runtime\\xray\\xray.exe";
    policy.localNetworks = {{"192.168.1.0", 24, false}};
    policy.allowLan = allowLan;
    return policy;
}

TEST(WfpFilters, PermitWhatTheRulesPermitAndBlockTheRest) {
    const Flow flows[] = {
        {"xray to the node", true, false, "192.168.1.20", "203.0.113.7", kTcp, 50000, 443, true, false, true},
        {"another program to the node", true, false, "192.168.1.20", "203.0.113.7", kTcp, 50001, 443, false, false, false},
        {"dns to a LAN resolver, UDP 53", true, false, "192.168.1.20", "192.168.1.1", kUdp, 50002, 53, false, false, false},
        {"dns to a LAN resolver, TCP 53", true, false, "192.168.1.20", "192.168.1.1", kTcp, 50003, 53, false, false, false},
        {"dns over TLS to a LAN resolver", true, false, "192.168.1.20", "192.168.1.1", kTcp, 50004, 853, false, false, false},
        {"dns over TLS, UDP 853", true, false, "192.168.1.20", "192.168.1.1", kUdp, 50005, 853, false, false, false},
        {"dns through the tunnel", true, false, "192.168.123.1", "1.1.1.1", kUdp, 50006, 53, false, false, true},
        {"a LAN host, LAN allowed", true, false, "192.168.1.20", "192.168.1.50", kTcp, 50007, 445, false, false, true},
        {"a LAN host, LAN not allowed", false, false, "192.168.1.20", "192.168.1.50", kTcp, 50008, 445, false, false, false},
        {"a LAN host connecting in, LAN allowed", true, true, "192.168.1.20", "192.168.1.50", kTcp, 445, 50009, false, false, true},
        {"a LAN host connecting in, not allowed", false, true, "192.168.1.20", "192.168.1.50", kTcp, 445, 50010, false, false, false},
        {"mDNS to the LAN's multicast group", true, false, "192.168.1.20", "224.0.0.251", kUdp, 5353, 5353, false, false, true},
        {"a connection in through the tunnel", false, true, "192.168.123.1", "198.18.0.5", kTcp, 8080, 50011, false, false, true},
        {"ipv6 global", true, false, "2001:db8::20", "2001:db8::1", kTcp, 50012, 443, false, false, false},
        {"ipv6 link-local", false, false, "fe80::20", "fe80::1", kUdp, 50013, 5353, false, false, true},
        {"neighbour solicitation", false, false, "2001:db8::20", "2001:db8::1", kIcmpv6, 135, 0, false, false, true},
        {"ICMPv6 echo to a global address", true, false, "2001:db8::20", "2001:db8::1", kIcmpv6, 128, 0, false, false, false},
        {"dhcp", false, false, "0.0.0.0", "255.255.255.255", kUdp, 68, 67, false, false, true},
        {"dhcp from another port", false, false, "192.168.1.20", "192.168.1.1", kUdp, 50014, 67, false, false, false},
        {"dhcpv6", false, false, "2001:db8::20", "2001:db8::2", kUdp, 546, 547, false, false, true},
        {"loopback", false, false, "127.0.0.1", "127.0.0.1", kTcp, 50015, 8080, false, true, true},
        {"a resolver on loopback", false, false, "127.0.0.1", "127.0.0.1", kUdp, 50016, 53, false, true, true},
        {"ipv6 loopback", false, false, "::1", "::1", kTcp, 50017, 8080, false, true, true},
    };
    for (const bool allowLan : {true, false}) {
        std::vector<WfpFilter> filters;
        std::string error;
        ASSERT_TRUE(tunnel::buildWfpFilters(connectPolicy(allowLan), kXray, filters, error)) << error;
        for (const Flow& flow : flows) {
            if (flow.allowLan != allowLan) continue;
            EXPECT_EQ(permitted(filters, flow), flow.permitted) << flow.what;
        }
    }
}

TEST(WfpFilters, RefuseValuesNoFilterCouldCarry) {
    struct Case {
        void (*change)(tunnel::FirewallPolicy&);
        std::vector<uint8_t> appId;
        const char* error;
    } cases[] = {
        {[](tunnel::FirewallPolicy& p) { p.tunAddress = "192.168.123.1 mask=0"; }, kXray,
         "firewall: invalid TUN address 192.168.123.1 mask=0"},
        {[](tunnel::FirewallPolicy&) {}, {}, "firewall: no application id for Xray"},
        {[](tunnel::FirewallPolicy& p) { p.localNetworks = {{"192.168.1.0", 33, false}}; }, kXray,
         "firewall: invalid network 192.168.1.0/33"},
        {[](tunnel::FirewallPolicy& p) { p.localNetworks = {{"lan.local", 24, false}}; }, kXray,
         "firewall: invalid network lan.local/24"},
    };
    for (const Case& c : cases) {
        tunnel::FirewallPolicy policy = connectPolicy(true);
        c.change(policy);
        std::vector<WfpFilter> filters(1);
        std::string error;
        EXPECT_FALSE(tunnel::buildWfpFilters(policy, c.appId, filters, error));
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(filters.size(), 1u) << "left as it was";
    }
}

// Wine's filter engine does not open; there only the failure path runs. On Windows, as an
// administrator, the filters are added, replaced and removed for real.
TEST(WindowsFirewall, AppliesReplacesAndClearsThroughTheFilterEngine) {
    const auto firewall = tunnel::makeFirewall();
    tunnel::FirewallPolicy policy = connectPolicy(true);
    wchar_t self[MAX_PATH] = {};
    policy.xrayExecutable = vpn::narrow(self, static_cast<int>(GetModuleFileNameW(nullptr, self, MAX_PATH)));
    std::string error;
    if (!firewall->apply(policy, error)) {
        ASSERT_TRUE(error.starts_with("firewall: FwpmEngineOpen0 failed err=") || error.find(" err=5 ") != std::string::npos)
            << error;
        EXPECT_FALSE(firewall->present());
        std::string clearError;
        EXPECT_FALSE(firewall->clear(clearError));
        EXPECT_TRUE(clearError.starts_with("firewall: ")) << clearError;
        GTEST_SKIP() << error << ": only Windows, as an administrator, shows the filters added in one transaction, "
                     << "replaced, and removed with our provider and sublayer";
    }
    EXPECT_TRUE(firewall->present());
    policy.allowLan = false;
    EXPECT_TRUE(firewall->apply(policy, error)) << error;
    EXPECT_TRUE(firewall->clear(error)) << error;
    EXPECT_FALSE(firewall->present());
    EXPECT_TRUE(firewall->clear(error)) << "nothing left to clear: " << error;
}

}  // namespace
