// The Windows network operations: netsh command lines (through a recording runner), IP Helper
// look-ups and route rows on the adapters wine shows. Nothing here changes a route: under wine
// that would reach the machine's own table.
#include <gtest/gtest.h>

#include <tuple>

#include "service/tunnel/network.h"
#include "service/tunnel/route_row_win.h"  // with winsock2.h before windows.h
#include "tests/support/fake_machine.h"
#include "tests/support/service_process.h"
#include "vpn/text_win.h"

namespace {

class NetworkOpsWin : public ::testing::Test {
protected:
    orvik_test::FakeMachine runner_;
    std::unique_ptr<tunnel::NetworkOps> ops_ = tunnel::makeNetworkOps(runner_);
};

// netsh by its full path: the search path starts in the current directory.
TEST_F(NetworkOpsWin, NetshCommandLinesAndTheirFailures) {
    std::string error;
    ASSERT_TRUE(ops_->setTunAddress("Wintun Userspace", "192.168.123.1", error)) << error;
    runner_.succeed = false;  // DNS failures are ignored
    ops_->setTunDns("wintun");
    ops_->resetAdapterDns("Wi-Fi 2");
    ASSERT_EQ(runner_.commands.size(), 3u);
    const std::string netsh = runner_.commands[0].program;
    EXPECT_TRUE(netsh.ends_with("\\netsh.exe") && netsh.find(':') == 1) << netsh;
    EXPECT_NE(GetFileAttributesW(vpn::widen(netsh).c_str()), INVALID_FILE_ATTRIBUTES);
    const std::string v4 = netsh + " interface ipv4 set ";
    EXPECT_EQ(runner_.lines(),
              (std::vector<std::string>{
                  v4 + "address name=\"Wintun Userspace\" source=static addr=192.168.123.1 mask=255.255.255.0",
                  v4 + "dnsservers name=\"wintun\" static address=1.1.1.1 register=none validate=no",
                  v4 + "dnsservers name=\"Wi-Fi 2\" source=dhcp"}));
    EXPECT_EQ(std::pair(runner_.commands[0].timeoutMs, runner_.commands[1].timeoutMs), std::pair(4000, 2500));

    runner_.failureText = "command exit 1: netsh ...";
    EXPECT_FALSE(ops_->setTunAddress("wintun", "192.168.123.1", error));
    EXPECT_EQ(error, "failed to assign TUN address: command exit 1: netsh ...");
    EXPECT_FALSE(ops_->setTunAddress("wintun", "192.168.123.1 mask=0.0.0.0", error));
    EXPECT_EQ(error, "failed to assign TUN address: invalid IPv4 address 192.168.123.1 mask=0.0.0.0");
    EXPECT_EQ(runner_.commands.size(), 4u) << "no netsh for an address that is no address";
}

TEST_F(NetworkOpsWin, AdapterLookupsOnTheVisibleAdapters) {
    std::string alias, error;
    EXPECT_FALSE(ops_->waitForTunAdapter("lo", alias, 0)) << "the time-out is checked before the first look";
    EXPECT_TRUE(ops_->waitForIpv4Address("lo", 2000)) << "lo has 127.0.0.1";
    EXPECT_FALSE(ops_->routeExists("lo", "node.lan", 32));
    // Wine shows the host's table, read only: its default gateway is found and its route
    // seen, or the refusal is in the service's words.
    tunnel::PhysicalGateway gateway;
    if (ops_->findPhysicalGateway(gateway, error)) {
        EXPECT_TRUE(ops_->routeExists(gateway.interfaceAlias, "0.0.0.0", 0)) << gateway.interfaceAlias;
    } else {
        EXPECT_EQ(error, "no physical default gateway");
    }
}

uint32_t hostOrder(const SOCKADDR_INET& address) { return ntohl(address.Ipv4.sin_addr.s_addr); }

// The row as buildRouteRow makes it; wine lacks InitializeIpForwardEntry, so there the test
// starts from a zeroed row and checks what is filled in after it.
bool build(const tunnel::RouteSpec& route, MIB_IPFORWARD_ROW2& row, std::string& error) {
    if (!orvik_test::underWine()) return tunnel::buildRouteRow(route, row, error);
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
    EXPECT_EQ(std::tuple(row.InterfaceLuid.Value, row.InterfaceIndex, row.Metric, static_cast<int>(row.Protocol)),
              std::tuple(luid.Value, index, 5u, static_cast<int>(MIB_IPPROTO_NETMGMT)));
    EXPECT_EQ(std::tuple(row.DestinationPrefix.Prefix.si_family, hostOrder(row.DestinationPrefix.Prefix),
                         row.DestinationPrefix.PrefixLength, row.NextHop.si_family, hostOrder(row.NextHop)),
              std::tuple(AF_INET, 0x80000000u, 1, AF_INET, 0xC0A87B01u));
    EXPECT_EQ(std::tuple(row.ValidLifetime, row.PreferredLifetime), std::tuple(0xFFFFFFFFu, 0xFFFFFFFFu));

    EXPECT_FALSE(build({"Orvik No Such Adapter", "203.0.113.9", 32, "198.18.1.1", 1}, row, error));
    EXPECT_EQ(error, "unknown interface Orvik No Such Adapter");
    // The address rules are the route description's; a route row needs a next hop.
    EXPECT_FALSE(build({"lo", "203.0.113.9", 32, "", 1}, row, error));
    EXPECT_EQ(error, "invalid IPv4 route 203.0.113.9 via ");
}

}  // namespace
