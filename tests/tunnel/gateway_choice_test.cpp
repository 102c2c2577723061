// The platform-free rules of the network operations: IPv4 text, excluded adapter names, the
// choice of the physical default gateway and the checks of a route description.
#include <gtest/gtest.h>

#include "service/tunnel/gateway_choice.h"

namespace {

using tunnel::GatewayCandidate;
using tunnel::PhysicalGateway;

uint32_t ip(const char* text) {
    uint32_t address = 0;
    EXPECT_TRUE(tunnel::parseIpv4(text, address)) << text;
    return address;
}

TEST(Ipv4Text, AcceptsDottedDecimalOnly) {
    for (const char* good : {"0.0.0.0", "255.255.255.255", "198.18.1.1", "1.1.1.1", "10.0.0.255"}) {
        uint32_t address = 0;
        EXPECT_TRUE(tunnel::parseIpv4(good, address)) << good;
        EXPECT_EQ(tunnel::formatIpv4(address), good);
    }
    EXPECT_EQ(ip("192.168.123.1"), 0xC0A87B01u);
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.256", "01.2.3.4", "1.2.3.04", " 1.2.3.4",
                            "1.2.3.4 ", "1..2.3", "1.2.3.", ".1.2.3", "0x1.2.3.4", "+1.2.3.4", "1.2.3.-4",
                            "1234.1.1.1", "node.example.com", "a.b.c.d", "::1", "1.2.3.4/32"}) {
        uint32_t address = 7;
        EXPECT_FALSE(tunnel::parseIpv4(bad, address)) << bad;
        EXPECT_EQ(address, 7u) << "left alone on failure: " << bad;
    }
    uint32_t address = 0;
    EXPECT_FALSE(tunnel::parseIpv4(std::string("1.2.3.4\0", 8), address)) << "embedded NUL";
}

TEST(ExcludedAdapterNames, AnyEntryAsSubstringInAnyCase) {
    for (const char* name : {"VMware Network Adapter VMnet8", "Npcap Loopback Adapter", "wintun", "WinTun Userspace",
                             "xray-tun", "VirtualBox Host-Only Network", "Hyper-V Virtual Ethernet Adapter",
                             "vEthernet (Default Switch)", "VETHERNET", "my-xRaY", "hyper-v"}) {
        EXPECT_TRUE(tunnel::isExcludedAdapterName(name)) << name;
    }
    for (const char* name : {"Ethernet", "Ethernet 2", "Wi-Fi", "eth0", "wlo1", "enp0s31f6", "lo", "veth0",
                             "Hyper V", "win tun", ""}) {
        EXPECT_FALSE(tunnel::isExcludedAdapterName(name)) << name;
    }
}

struct Choice {
    bool found = false;
    PhysicalGateway gateway;
    std::string error;
};

Choice choose(const std::vector<GatewayCandidate>& rows) {
    Choice choice;
    choice.found = tunnel::choosePhysicalGateway(rows, choice.gateway, choice.error);
    return choice;
}

TEST(PhysicalGatewayChoice, LowestRouteMetricWinsFirstListedOnTies) {
    Choice choice = choose({{"Ethernet", 0, ip("192.168.1.1"), 35}, {"Wi-Fi", 0, ip("10.0.0.1"), 25}});
    ASSERT_TRUE(choice.found) << choice.error;
    EXPECT_EQ(choice.gateway.interfaceAlias, "Wi-Fi");
    EXPECT_EQ(choice.gateway.nextHop, "10.0.0.1");

    choice = choose({{"Wi-Fi", 0, ip("10.0.0.1"), 25}, {"Ethernet", 0, ip("192.168.1.1"), 35}});
    EXPECT_EQ(choice.gateway.interfaceAlias, "Wi-Fi");

    choice = choose({{"Ethernet", 0, ip("192.168.1.1"), 25}, {"Wi-Fi", 0, ip("10.0.0.1"), 25},
                     {"Ethernet 3", 0, ip("172.16.0.1"), 25}});
    EXPECT_EQ(choice.gateway.interfaceAlias, "Ethernet");
    EXPECT_EQ(choice.gateway.nextHop, "192.168.1.1");
}

TEST(PhysicalGatewayChoice, SkipsOnLinkSpecificUnnamedAndVirtualRows) {
    const std::vector<GatewayCandidate> rows{
        {"Ethernet", 0, 0, 1},                     // on-link default route
        {"Ethernet", 1, ip("192.168.1.1"), 1},     // a split route, not a default route
        {"", 0, ip("192.168.9.1"), 1},             // the adapter's name could not be read
        {"wintun", 0, ip("192.168.123.1"), 1},     // a tunnel still up
        {"vEthernet (WSL)", 0, ip("172.20.0.1"), 2},
        {"Wi-Fi", 0, ip("10.0.0.1"), 4000},
    };
    const Choice choice = choose(rows);
    ASSERT_TRUE(choice.found) << choice.error;
    EXPECT_EQ(choice.gateway.interfaceAlias, "Wi-Fi");
    EXPECT_EQ(choice.gateway.nextHop, "10.0.0.1");
}

TEST(PhysicalGatewayChoice, NoneLeftIsReportedAndTheRecordUntouched) {
    for (const std::vector<GatewayCandidate>& rows :
         {std::vector<GatewayCandidate>{},
          std::vector<GatewayCandidate>{{"Hyper-V Virtual Ethernet Adapter", 0, ip("172.20.0.1"), 1},
                                        {"WinTun", 0, ip("192.168.123.1"), 5},
                                        {"Ethernet", 0, 0, 1}}}) {
        PhysicalGateway gateway{"kept", "kept"};
        std::string error;
        EXPECT_FALSE(tunnel::choosePhysicalGateway(rows, gateway, error));
        EXPECT_EQ(error, "no physical default gateway");
        EXPECT_EQ(gateway.interfaceAlias, "kept");
    }
}

TEST(RouteDescriptionCheck, AddressesAreDottedDecimal) {
    tunnel::RouteAddresses addresses;
    std::string error;
    ASSERT_TRUE(tunnel::parseRouteAddresses({"Ethernet", "203.0.113.9", 32, "192.168.1.1", 1}, true, addresses, error));
    EXPECT_EQ(addresses.destination, ip("203.0.113.9"));
    EXPECT_EQ(addresses.nextHop, ip("192.168.1.1"));
    EXPECT_TRUE(addresses.hasNextHop);

    EXPECT_FALSE(tunnel::parseRouteAddresses({"Ethernet", "node.example.com", 32, "192.168.1.1", 1}, true, addresses,
                                             error));
    EXPECT_EQ(error, "invalid IPv4 route node.example.com via 192.168.1.1");
    EXPECT_FALSE(tunnel::parseRouteAddresses({"Ethernet", "203.0.113.9", 32, "gateway.lan", 1}, false, addresses, error));
    EXPECT_EQ(error, "invalid IPv4 route 203.0.113.9 via gateway.lan");
}

TEST(RouteDescriptionCheck, AnEmptyNextHopMeansThroughTheInterfaceWhereAllowed) {
    tunnel::RouteAddresses addresses;
    std::string error;
    ASSERT_TRUE(tunnel::parseRouteAddresses({"wintun", "0.0.0.0", 1, "", 5}, false, addresses, error));
    EXPECT_FALSE(addresses.hasNextHop);
    EXPECT_FALSE(tunnel::parseRouteAddresses({"wintun", "0.0.0.0", 1, "", 5}, true, addresses, error));
    EXPECT_EQ(error, "invalid IPv4 route 0.0.0.0 via ");
}

}  // namespace
