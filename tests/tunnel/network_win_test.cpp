// The Windows network operations: the netsh command lines and their texts (through a
// recording runner), and the IP Helper look-ups on the adapters wine shows. Nothing here
// changes a route: under wine that would reach the machine's own table.
#include <windows.h>

#include <gtest/gtest.h>

#include "service/tunnel/network.h"
#include "tests/support/fake_machine.h"
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
    EXPECT_EQ(runner_.lines(), (std::vector<std::string>{
        netsh + " interface ipv4 set address name=\"Wintun Userspace\" source=static addr=192.168.123.1 mask=255.255.255.0",
        netsh + " interface ipv4 set dnsservers name=\"wintun\" static address=1.1.1.1 register=none validate=no",
        netsh + " interface ipv4 set dnsservers name=\"Wi-Fi 2\" source=dhcp"}));
    EXPECT_EQ(runner_.commands[0].timeoutMs, 4000);
    EXPECT_EQ(runner_.commands[1].timeoutMs, 2500);

    runner_.failureText = "command exit 1: netsh ...";
    EXPECT_FALSE(ops_->setTunAddress("wintun", "192.168.123.1", error));
    EXPECT_EQ(error, "failed to assign TUN address: command exit 1: netsh ...");
    EXPECT_FALSE(ops_->setTunAddress("wintun", "192.168.123.1 mask=0.0.0.0", error));
    EXPECT_EQ(error, "failed to assign TUN address: invalid IPv4 address 192.168.123.1 mask=0.0.0.0");
    EXPECT_EQ(runner_.commands.size(), 4u) << "no netsh for an address that is no address";
}

TEST_F(NetworkOpsWin, AdapterLookupsOnTheVisibleAdapters) {
    std::string alias;
    EXPECT_FALSE(ops_->waitForTunAdapter("orvik-no-such-adapter", alias, 100));
    EXPECT_FALSE(ops_->waitForTunAdapter("lo", alias, 0)) << "the time-out is checked before the first look";
    EXPECT_FALSE(ops_->waitForIpv4Address("orvik-no-such-adapter", 0));
    EXPECT_TRUE(ops_->adapterDnsServers("orvik-no-such-adapter").empty());
    EXPECT_TRUE(ops_->waitForIpv4Address("lo", 2000)) << "lo has 127.0.0.1";
    EXPECT_FALSE(ops_->routeExists("orvik-no-such-adapter", "0.0.0.0", 0));
    EXPECT_FALSE(ops_->routeExists("lo", "node.example.com", 32));
    // Wine shows the host's table, read only: its default gateway is found and its route
    // seen, or the refusal is in the service's words.
    tunnel::PhysicalGateway gateway;
    std::string error;
    if (ops_->findPhysicalGateway(gateway, error)) {
        EXPECT_TRUE(ops_->routeExists(gateway.interfaceAlias, "0.0.0.0", 0)) << gateway.interfaceAlias;
    } else {
        EXPECT_EQ(error, "no physical default gateway");
    }
}

}  // namespace
