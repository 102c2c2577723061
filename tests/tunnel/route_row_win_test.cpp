// The IP Helper route row built from a route description, on the adapters wine shows
// (the machine's own: lo, eth0...).
#include <gtest/gtest.h>

#include "service/tunnel/route_row_win.h"

namespace {

uint32_t hostOrder(const SOCKADDR_INET& address) { return ntohl(address.Ipv4.sin_addr.s_addr); }

bool underWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

// The row as buildRouteRow makes it; wine lacks InitializeIpForwardEntry, so there the test
// starts from a zeroed row and checks what is filled in after it.
bool build(const tunnel::RouteSpec& route, MIB_IPFORWARD_ROW2& row, std::string& error) {
    if (!underWine()) return tunnel::buildRouteRow(route, row, error);
    row = MIB_IPFORWARD_ROW2{};
    return tunnel::fillRouteRow(route, row, error);
}

TEST(RouteRowWin, CarriesInterfaceAddressesMetricProtocolAndLifetimesOrNamesWhatIsWrong) {
    NET_LUID luid{};
    ASSERT_EQ(ConvertInterfaceAliasToLuid(L"lo", &luid), static_cast<DWORD>(NO_ERROR)) << "wine shows the host's lo";
    NET_IFINDEX index = 0;
    ASSERT_EQ(ConvertInterfaceLuidToIndex(&luid, &index), static_cast<DWORD>(NO_ERROR));
    MIB_IPFORWARD_ROW2 row;
    std::string error;
    ASSERT_TRUE(build({"lo", "128.0.0.0", 1, "192.168.123.1", 5}, row, error)) << error;
    EXPECT_EQ(row.InterfaceLuid.Value, luid.Value);
    EXPECT_EQ(row.InterfaceIndex, index);
    EXPECT_EQ(row.DestinationPrefix.Prefix.si_family, AF_INET);
    EXPECT_EQ(hostOrder(row.DestinationPrefix.Prefix), 0x80000000u);
    EXPECT_EQ(row.DestinationPrefix.PrefixLength, 1);
    EXPECT_EQ(row.NextHop.si_family, AF_INET);
    EXPECT_EQ(hostOrder(row.NextHop), 0xC0A87B01u);
    EXPECT_EQ(row.Metric, 5u);
    EXPECT_EQ(static_cast<int>(row.Protocol), MIB_IPPROTO_NETMGMT);
    EXPECT_EQ(row.ValidLifetime, 0xFFFFFFFFu);
    EXPECT_EQ(row.PreferredLifetime, 0xFFFFFFFFu);

    const std::pair<tunnel::RouteSpec, const char*> refused[] = {
        {{"Orvik No Such Adapter", "node.example.com", 32, "198.18.1.1", 1}, "unknown interface Orvik No Such Adapter"},
        {{"lo", "node.example.com", 32, "198.18.1.1", 1}, "invalid IPv4 route node.example.com via 198.18.1.1"},
        {{"lo", "203.0.113.9", 32, "", 1}, "invalid IPv4 route 203.0.113.9 via "},
    };
    for (const auto& [route, text] : refused) {
        EXPECT_FALSE(build(route, row, error));
        EXPECT_EQ(error, text);
    }
}

}  // namespace
