// The platform-free rules of the network operations: IPv4 text, the physical default gateway
// (never a virtual adapter's) and the checks of a route description.
#include <gtest/gtest.h>

#include <tuple>

#include "service/tunnel/gateway_choice.h"

namespace {

using tunnel::GatewayCandidate;

uint32_t ip(const char* text) {
    uint32_t address = 0;
    EXPECT_TRUE(tunnel::parseIpv4(text, address)) << text;
    return address;
}

// Virtual adapters are told by any entry of the list as a part of the name, in any case.
TEST(PhysicalGatewayChoice, LowestMetricFirstListedOnTiesAndNeverAVirtualOrOnLinkRoute) {
    const uint32_t hop = ip("192.168.1.1");
    const std::pair<std::vector<GatewayCandidate>, const char*> cases[] = {  // "alias via hop", or the error
        {{{"Ethernet", 0, hop, 35}, {"Wi-Fi", 0, ip("10.0.0.1"), 25}}, "Wi-Fi via 10.0.0.1"},
        {{{"Ethernet", 0, hop, 25}, {"Wi-Fi", 0, ip("10.0.0.1"), 25}, {"Ethernet 3", 0, hop, 25}},
         "Ethernet via 192.168.1.1"},
        {{{"Ethernet", 0, 0, 1}, {"Ethernet", 1, hop, 1}, {"", 0, hop, 1}, {"wintun", 0, hop, 1},
          {"vEthernet (WSL)", 0, hop, 2}, {"VMware Network Adapter VMnet8", 0, hop, 2}, {"Npcap Loopback Adapter", 0, hop, 2},
          {"HYPER-V", 0, hop, 2}, {"Hyper V", 0, ip("10.0.0.1"), 4000}},
         "Hyper V via 10.0.0.1"},
        {{}, "no physical default gateway"},
        {{{"Hyper-V Virtual Ethernet Adapter", 0, hop, 1}, {"Ethernet", 0, 0, 1}}, "no physical default gateway"},
    };
    for (const auto& [rows, chosen] : cases) {
        tunnel::PhysicalGateway gateway{"kept", "kept"};
        std::string error;
        const bool found = tunnel::choosePhysicalGateway(rows, gateway, error);
        EXPECT_EQ(found ? gateway.interfaceAlias + " via " + gateway.nextHop : error, chosen);
        EXPECT_TRUE(found || gateway.interfaceAlias == "kept") << "a failed choice leaves the gateway alone";
    }
}

TEST(RouteDescriptionCheck, AddressesAreDottedDecimalAndAnEmptyHopOnlyWhereAllowed) {
    tunnel::RouteAddresses addresses;
    std::string error;
    ASSERT_TRUE(tunnel::parseRouteAddresses({"Ethernet", "203.0.113.9", 32, "192.168.1.1", 1}, true, addresses, error));
    EXPECT_EQ(std::tuple(addresses.destination, addresses.nextHop, addresses.hasNextHop),
              std::tuple(ip("203.0.113.9"), ip("192.168.1.1"), true));
    ASSERT_TRUE(tunnel::parseRouteAddresses({"wintun", "0.0.0.0", 1, "", 5}, false, addresses, error));
    EXPECT_FALSE(addresses.hasNextHop);
    const std::pair<const char*, const char*> refused[] = {
        {"node.example.com", "192.168.1.1"}, {"203.0.113.9", "gateway.lan"}, {"0.0.0.0", ""}};
    for (const auto& [destination, hop] : refused) {
        EXPECT_FALSE(tunnel::parseRouteAddresses({"wintun", destination, 1, hop, 5}, true, addresses, error));
        EXPECT_EQ(error, std::string("invalid IPv4 route ") + destination + " via " + hop);
    }
}

}  // namespace
