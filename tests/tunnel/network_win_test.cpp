// The Windows network operations: the netsh command lines and their texts (through a
// recording runner), and the IP Helper look-ups on the adapters wine shows. Nothing here
// changes a route: under wine that would reach the machine's own table.
#include <windows.h>

#include <chrono>
#include <iostream>

#include <gtest/gtest.h>

#include "service/tunnel/network.h"
#include "tests/support/recording_runner.h"
#include "vpn/text_win.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string systemDirectory() {
    wchar_t directory[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    return vpn::narrow(std::wstring(directory, length < MAX_PATH ? length : 0));
}

class NetworkOpsWin : public ::testing::Test {
protected:
    // Never found through the search path, which starts in the current directory.
    const std::string netsh_ = systemDirectory() + "\\netsh.exe";
    orvik_test::RecordingRunner runner_;
    std::unique_ptr<tunnel::NetworkOps> ops_ = tunnel::makeNetworkOps(runner_);
};

TEST_F(NetworkOpsWin, TunAddressIsSetWithNetsh) {
    std::string error;
    ASSERT_TRUE(ops_->setTunAddress("Wintun Userspace", "192.168.123.1", error)) << error;
    ASSERT_EQ(runner_.commands.size(), 1u);
    EXPECT_EQ(runner_.commands[0].line(),
              netsh_ + " interface ipv4 set address name=\"Wintun Userspace\" source=static addr=192.168.123.1 "
                       "mask=255.255.255.0");
    EXPECT_NE(GetFileAttributesW(vpn::widen(runner_.commands[0].program).c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(runner_.commands[0].timeoutMs, 4000);

    runner_.succeed = false;
    runner_.failureText = "command exit 1: netsh ...";
    EXPECT_FALSE(ops_->setTunAddress("wintun", "192.168.123.1", error));
    EXPECT_EQ(error, "failed to assign TUN address: command exit 1: netsh ...");
}

TEST_F(NetworkOpsWin, TunAddressMustBeIpv4Text) {
    std::string error;
    EXPECT_FALSE(ops_->setTunAddress("wintun", "192.168.123.1 mask=0.0.0.0", error));
    EXPECT_EQ(error, "failed to assign TUN address: invalid IPv4 address 192.168.123.1 mask=0.0.0.0");
    EXPECT_TRUE(runner_.commands.empty());
}

TEST_F(NetworkOpsWin, DnsCommandsAndTheirTimeOut) {
    runner_.succeed = false;  // failures are ignored
    ops_->setTunDns("wintun");
    ops_->resetAdapterDns("Wi-Fi 2");
    ASSERT_EQ(runner_.commands.size(), 2u);
    EXPECT_EQ(runner_.commands[0].line(),
              netsh_ + " interface ipv4 set dnsservers name=\"wintun\" static address=1.1.1.1 register=none validate=no");
    EXPECT_EQ(runner_.commands[1].line(), netsh_ + " interface ipv4 set dnsservers name=\"Wi-Fi 2\" source=dhcp");
    EXPECT_EQ(runner_.commands[0].timeoutMs, 2500);
    EXPECT_EQ(runner_.commands[1].timeoutMs, 2500);
}

TEST_F(NetworkOpsWin, NothingToCleanUpOrRestore) {
    ops_->removeStaleRoutes();
    ops_->restoreDns();
    EXPECT_TRUE(runner_.commands.empty());
}

TEST_F(NetworkOpsWin, AdapterLookupsOnTheVisibleAdapters) {
    std::string alias;
    Clock::time_point start = Clock::now();
    EXPECT_FALSE(ops_->waitForTunAdapter("orvik-no-such-adapter", alias, 300));
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    EXPECT_GE(waited, 300);
    EXPECT_LT(waited, 1500);
    start = Clock::now();
    EXPECT_FALSE(ops_->waitForTunAdapter("lo", alias, 0)) << "the time-out is checked before the first look";
    EXPECT_FALSE(ops_->waitForIpv4Address("orvik-no-such-adapter", 0));
    EXPECT_TRUE(ops_->adapterDnsServers("orvik-no-such-adapter").empty());
    EXPECT_TRUE(ops_->waitForIpv4Address("lo", 2000)) << "lo has 127.0.0.1";
    EXPECT_FALSE(ops_->routeExists("orvik-no-such-adapter", "0.0.0.0", 0));
    EXPECT_FALSE(ops_->routeExists("lo", "node.example.com", 32));
}

TEST_F(NetworkOpsWin, GatewayIsFoundOrReportedInItsWords) {
    tunnel::PhysicalGateway gateway;
    std::string error;
    if (ops_->findPhysicalGateway(gateway, error)) {
        std::cout << "gateway seen: " << gateway.interfaceAlias << " via " << gateway.nextHop << "\n";
        EXPECT_FALSE(gateway.interfaceAlias.empty());
        EXPECT_NE(gateway.nextHop, "0.0.0.0");
        EXPECT_TRUE(ops_->routeExists(gateway.interfaceAlias, "0.0.0.0", 0));
    } else {
        EXPECT_EQ(error, "no physical default gateway");
    }
}

}  // namespace
