// The Linux network operations against real kernels: each test builds a "machine" namespace
// with veth uplinks to a "router" namespace (198.18.0.0/15 only) and runs the operations
// inside the machine namespace.
#include <sched.h>
#include <sys/mount.h>

#include <chrono>
#include <functional>
#include <iostream>
#include <thread>

#include <gtest/gtest.h>

#include "service/tunnel/gateway_choice.h"
#include "service/tunnel/netlink_linux.h"
#include "service/tunnel/network.h"
#include "tests/support/netns_linux.h"
#include "tests/support/recording_runner.h"
#include "tests/support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
using tunnel::PhysicalGateway;
using tunnel::RouteSpec;

long msSince(Clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class NetworkOpsLinux : public ::testing::Test {
protected:
    void SetUp() override {
        orvik_test::skipUnlessRoot();
        if (IsSkipped()) return;
        machine_ = lab_.addNamespace();
        router_ = lab_.addNamespace();
        ASSERT_FALSE(machine_.empty());
        ASSERT_FALSE(router_.empty());
    }

    // An uplink "name" from the machine to the router on 198.18.<subnet>.0/24: the machine
    // has .2, the router .1.
    void addUplink(const std::string& name, int subnet) {
        const std::string base = "198.18." + std::to_string(subnet) + ".";
        ASSERT_TRUE(lab_.addVeth(machine_, name, router_, "r" + std::to_string(subnet)));
        ASSERT_TRUE(lab_.addAddress(machine_, name, base + "2/24"));
        ASSERT_TRUE(lab_.addAddress(router_, "r" + std::to_string(subnet), base + "1/24"));
    }

    void ipRoute(const std::vector<std::string>& args) { ASSERT_TRUE(lab_.addRoute(machine_, args)); }

    std::string routesShown() { return lab_.ipText(machine_, {"route", "show"}); }

    // Runs `body` in the machine namespace with operations whose DNS stays in a temporary file.
    void inMachine(const std::function<void(tunnel::NetworkOps&)>& body) {
        tunnel::NetworkOptions options;
        options.dnsBackend = tunnel::DnsBackend::file;
        options.resolvConfPath = dir_.file("resolv.conf");
        options.dnsStatePath = dir_.file("state/dns-state");
        lab_.run(machine_, [&] {
            auto ops = tunnel::makeNetworkOps(runner_, options);
            body(*ops);
        });
    }

    PhysicalGateway gatewayOrFail(std::string* errorOut = nullptr) {
        PhysicalGateway gateway;
        inMachine([&](tunnel::NetworkOps& ops) {
            std::string error;
            const bool found = ops.findPhysicalGateway(gateway, error);
            if (errorOut) *errorOut = error;
            if (!errorOut) {
                EXPECT_TRUE(found) << error;
            }
        });
        return gateway;
    }

    orvik_test::NetnsLab lab_;
    orvik_test::TempDir dir_;
    orvik_test::RecordingRunner runner_;
    std::string machine_;
    std::string router_;
};

TEST_F(NetworkOpsLinux, GatewayIsTheVethUplinksDefaultRoute) {
    addUplink("uplink0", 1);
    ipRoute({"default", "via", "198.18.1.1", "dev", "uplink0"});
    const PhysicalGateway gateway = gatewayOrFail();
    EXPECT_EQ(gateway.interfaceAlias, "uplink0");
    EXPECT_EQ(gateway.nextHop, "198.18.1.1");
}

TEST_F(NetworkOpsLinux, LowestMetricWinsAndTheFirstListedOnEqualMetrics) {
    addUplink("uplinkA", 1);
    addUplink("uplinkB", 2);
    ipRoute({"default", "via", "198.18.1.1", "dev", "uplinkA", "metric", "35"});
    ipRoute({"default", "via", "198.18.2.1", "dev", "uplinkB", "metric", "25"});
    EXPECT_EQ(gatewayOrFail().interfaceAlias, "uplinkB");

    addUplink("uplinkC", 3);
    ASSERT_TRUE(lab_.ip(machine_, {"route", "append", "default", "via", "198.18.3.1", "dev", "uplinkC", "metric", "25"}));
    EXPECT_EQ(gatewayOrFail().interfaceAlias, "uplinkB") << routesShown();
}

TEST_F(NetworkOpsLinux, MultipathNextHopsAreCandidatesInOrder) {
    addUplink("vEthernet0", 1);
    addUplink("uplinkB", 2);
    ipRoute({"default", "nexthop", "via", "198.18.1.1", "dev", "vEthernet0", "nexthop", "via", "198.18.2.1", "dev",
             "uplinkB"});
    const PhysicalGateway gateway = gatewayOrFail();
    EXPECT_EQ(gateway.interfaceAlias, "uplinkB") << routesShown();
    EXPECT_EQ(gateway.nextHop, "198.18.2.1");
}

TEST_F(NetworkOpsLinux, OnLinkDefaultRouteIsNeverChosen) {
    addUplink("uplink0", 1);
    addUplink("uplink1", 2);
    ipRoute({"default", "dev", "uplink0", "metric", "1"});
    std::string error;
    gatewayOrFail(&error);
    EXPECT_EQ(error, "no physical default gateway");

    ipRoute({"default", "via", "198.18.2.1", "dev", "uplink1", "metric", "50"});
    EXPECT_EQ(gatewayOrFail().interfaceAlias, "uplink1");
}

TEST_F(NetworkOpsLinux, VirtualAndLoopbackAdaptersNeverCarryThePhysicalGateway) {
    const std::vector<std::string> virtualNames{"vEthernet0", "wintun-x", "Hyper-V1", "xray0",
                                                "VMware1",    "vboxVirtualBox", "Loopback0"};
    for (size_t i = 0; i < virtualNames.size(); ++i) {
        addUplink(virtualNames[i], static_cast<int>(i) + 1);
        ipRoute({"default", "via", "198.18." + std::to_string(i + 1) + ".1", "dev", virtualNames[i], "metric",
                 std::to_string(10 + i)});
    }
    ipRoute({"default", "via", "198.18.99.1", "dev", "lo", "metric", "1", "onlink"});
    std::string error;
    gatewayOrFail(&error);
    EXPECT_EQ(error, "no physical default gateway") << routesShown();

    addUplink("wlo1", 50);  // contains "lo" but is a real adapter
    ipRoute({"default", "via", "198.18.50.1", "dev", "wlo1", "metric", "900"});
    EXPECT_EQ(gatewayOrFail().interfaceAlias, "wlo1");
}

TEST_F(NetworkOpsLinux, HostRouteIsAddedOnceCheckedAndDeleted) {
    addUplink("uplink0", 1);
    ipRoute({"default", "via", "198.18.1.1", "dev", "uplink0"});
    const RouteSpec host{"uplink0", "198.18.200.7", 32, "198.18.1.1", 1};
    inMachine([&](tunnel::NetworkOps& ops) {
        std::string error;
        EXPECT_FALSE(ops.routeExists("uplink0", "198.18.200.7", 32));
        ASSERT_TRUE(ops.addRoute(host, error)) << error;
        EXPECT_TRUE(ops.addRoute(host, error)) << "adding an existing route succeeds: " << error;
        EXPECT_TRUE(ops.routeExists("uplink0", "198.18.200.7", 32));
        EXPECT_FALSE(ops.routeExists("uplink0", "198.18.200.7", 31));
        EXPECT_FALSE(ops.routeExists("lo", "198.18.200.7", 32));
        tunnel::netlink::Route used;
        uint32_t destination = 0;
        ASSERT_TRUE(tunnel::parseIpv4("198.18.200.7", destination));
        ASSERT_TRUE(tunnel::netlink::lookupRoute(destination, used, error)) << error;
        ASSERT_FALSE(used.nextHops.empty());
        EXPECT_EQ(tunnel::formatIpv4(used.nextHops.front().gateway), "198.18.1.1");
        EXPECT_EQ(used.protocol, tunnel::netlink::kTunnelRouteProtocol);
    });
    EXPECT_NE(routesShown().find("198.18.200.7 via 198.18.1.1 dev uplink0 proto 167 metric 1"), std::string::npos)
        << routesShown();
    inMachine([&](tunnel::NetworkOps& ops) {
        ops.deleteRoute(host);
        EXPECT_FALSE(ops.routeExists("uplink0", "198.18.200.7", 32));
        ops.deleteRoute(host);  // gone already: nothing happens
    });
}

TEST_F(NetworkOpsLinux, BadRouteDescriptionsAreRefusedWithTheirText) {
    addUplink("uplink0", 1);
    inMachine([&](tunnel::NetworkOps& ops) {
        std::string error;
        EXPECT_FALSE(ops.addRoute({"uplink0", "node.example.com", 32, "198.18.1.1", 1}, error));
        EXPECT_EQ(error, "invalid IPv4 route node.example.com via 198.18.1.1");
        EXPECT_FALSE(ops.addRoute({"uplink0", "198.18.200.7", 32, "198.18.1", 1}, error));
        EXPECT_EQ(error, "invalid IPv4 route 198.18.200.7 via 198.18.1");
        EXPECT_FALSE(ops.addRoute({"nosuch0", "198.18.200.7", 32, "198.18.1.1", 1}, error));
        EXPECT_EQ(error, "unknown interface nosuch0");
        EXPECT_FALSE(ops.addRoute({"uplink0", "198.18.200.7", 32, "198.18.77.1", 1}, error));
        EXPECT_EQ(error.rfind("RTM_NEWROUTE failed ", 0), 0u) << error;  // gateway not reachable
        EXPECT_NE(error.find(" for 198.18.200.7"), std::string::npos) << error;
        EXPECT_FALSE(ops.routeExists("uplink0", "not-an-address", 32));
    });
}

TEST_F(NetworkOpsLinux, TunGetsAddressLinkUpAndSplitRoutes) {
    addUplink("uplink0", 1);
    ipRoute({"default", "via", "198.18.1.1", "dev", "uplink0"});
    inMachine([&](tunnel::NetworkOps& ops) {
        orvik_test::TunDevice tun("wintun");
        ASSERT_TRUE(tun.ok()) << tun.error();
        std::string error;
        const RouteSpec lower{"wintun", "0.0.0.0", 1, "198.18.123.1", 5};
        EXPECT_FALSE(ops.addRoute(lower, error)) << "a TUN that is down takes no routes";
        EXPECT_FALSE(ops.waitForIpv4Address("wintun", 50));

        ASSERT_TRUE(ops.setTunAddress("wintun", "198.18.123.1", error)) << error;
        EXPECT_TRUE(ops.setTunAddress("wintun", "198.18.123.1", error)) << "setting it again: " << error;
        EXPECT_TRUE(ops.waitForIpv4Address("wintun", 4000));
        ASSERT_TRUE(ops.addRoute(lower, error)) << error;
        ASSERT_TRUE(ops.addRoute({"wintun", "128.0.0.0", 1, "198.18.123.1", 5}, error)) << error;
        ASSERT_TRUE(ops.addRoute({"uplink0", "198.18.200.7", 32, "198.18.1.1", 1}, error)) << error;
        EXPECT_TRUE(ops.routeExists("wintun", "0.0.0.0", 1));
        EXPECT_TRUE(ops.routeExists("wintun", "128.0.0.0", 1));

        // Everything goes into the TUN except the node, which leaves through the uplink.
        for (const char* address : {"198.18.250.1", "8.8.8.8", "200.1.2.3"}) {
            tunnel::netlink::Route used;
            uint32_t destination = 0;
            ASSERT_TRUE(tunnel::parseIpv4(address, destination));
            ASSERT_TRUE(tunnel::netlink::lookupRoute(destination, used, error)) << error;
            ASSERT_FALSE(used.nextHops.empty());
            EXPECT_EQ(used.nextHops.front().gateway, 0u) << address;
        }
        PhysicalGateway gateway;
        EXPECT_TRUE(ops.findPhysicalGateway(gateway, error)) << "the /1 routes are not default routes";
        EXPECT_EQ(gateway.interfaceAlias, "uplink0");

        EXPECT_NE(routesShown().find("128.0.0.0/1 dev wintun proto 167 scope link metric 5"), std::string::npos)
            << routesShown();
        ops.deleteRoute(lower);
        EXPECT_FALSE(ops.routeExists("wintun", "0.0.0.0", 1));
        EXPECT_TRUE(ops.routeExists("wintun", "128.0.0.0", 1));
    });
}

TEST_F(NetworkOpsLinux, TunAddressTexts) {
    inMachine([&](tunnel::NetworkOps& ops) {
        std::string error;
        EXPECT_FALSE(ops.setTunAddress("wintun", "198.18.123.1", error));
        EXPECT_EQ(error, "failed to assign TUN address: unknown interface wintun");
        orvik_test::TunDevice tun("wintun");
        ASSERT_TRUE(tun.ok()) << tun.error();
        EXPECT_FALSE(ops.setTunAddress("wintun", "198.18.123", error));
        EXPECT_EQ(error, "failed to assign TUN address: invalid IPv4 address 198.18.123");
    });
}

TEST_F(NetworkOpsLinux, TunAddressReplacesAnyEarlierOne) {
    inMachine([&](tunnel::NetworkOps& ops) {
        orvik_test::TunDevice tun("wintun");
        ASSERT_TRUE(tun.ok()) << tun.error();
        ASSERT_TRUE(lab_.ip(machine_, {"address", "add", "198.18.9.9/16", "dev", "wintun"}));
        ASSERT_TRUE(lab_.ip(machine_, {"address", "add", "198.18.123.1/30", "dev", "wintun"}));
        std::string error;
        ASSERT_TRUE(ops.setTunAddress("wintun", "198.18.123.1", error)) << error;
        std::string shown;
        lab_.ip(machine_, {"-4", "-o", "address", "show", "dev", "wintun"}, &shown);
        EXPECT_EQ(shown.find("198.18.9.9"), std::string::npos) << shown;
        EXPECT_NE(shown.find("198.18.123.1/24"), std::string::npos) << shown;
        EXPECT_EQ(shown.find("/30"), std::string::npos) << shown;
    });
}

TEST_F(NetworkOpsLinux, TunCreatedDuringTheWaitIsNoticed) {
    inMachine([&](tunnel::NetworkOps& ops) {
        Clock::time_point created;
        std::unique_ptr<orvik_test::TunDevice> tun;
        std::thread creator([&] {  // inherits the namespace of this thread
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            created = Clock::now();
            tun = std::make_unique<orvik_test::TunDevice>("WinTun7");
        });
        std::string alias;
        const Clock::time_point start = Clock::now();
        const bool found = ops.waitForTunAdapter("wintun", alias, 15000);
        const Clock::time_point noticed = Clock::now();
        creator.join();
        ASSERT_TRUE(tun && tun->ok()) << (tun ? tun->error() : "");
        EXPECT_TRUE(found);
        EXPECT_EQ(alias, "WinTun7");
        const auto latency = std::chrono::duration_cast<std::chrono::microseconds>(noticed - created).count();
        std::cout << "TUN noticed " << latency << " us after it was created (wait began "
                  << msSince(start) << " ms earlier)\n";
        EXPECT_LT(latency, 200000) << "link events should wake the wait at once";
    });
}

TEST_F(NetworkOpsLinux, WaitForTunEndsInTimeWhenNoneAppears) {
    inMachine([&](tunnel::NetworkOps& ops) {
        std::string alias;
        Clock::time_point start = Clock::now();
        EXPECT_FALSE(ops.waitForTunAdapter("wintun", alias, 300));
        EXPECT_GE(msSince(start), 300);
        EXPECT_LT(msSince(start), 800);
        start = Clock::now();
        EXPECT_FALSE(ops.waitForTunAdapter("wintun", alias, 0));
        EXPECT_LT(msSince(start), 50);
    });
}

TEST_F(NetworkOpsLinux, PersistentTunWithoutAHolderIsTakenOnlyOnceHeld) {
    inMachine([&](tunnel::NetworkOps& ops) {
        {
            orvik_test::TunDevice left("wintun", true);  // stays after close, without carrier
            ASSERT_TRUE(left.ok()) << left.error();
        }
        std::string alias;
        EXPECT_FALSE(ops.waitForTunAdapter("wintun", alias, 300));
        orvik_test::TunDevice held("wintun");
        ASSERT_TRUE(held.ok()) << held.error();
        EXPECT_TRUE(ops.waitForTunAdapter("wintun", alias, 2000));
        EXPECT_EQ(alias, "wintun");
    });
}

TEST_F(NetworkOpsLinux, StaleRoutesOfOursAreRemovedAndOthersKept) {
    addUplink("uplink0", 1);
    ipRoute({"default", "via", "198.18.1.1", "dev", "uplink0"});
    ipRoute({"198.18.60.0/24", "via", "198.18.1.1", "dev", "uplink0"});                           // the admin's
    ipRoute({"198.18.61.0/24", "via", "198.18.1.1", "dev", "uplink0", "proto", "167", "metric", "9"});  // a crash's
    inMachine([&](tunnel::NetworkOps& ops) {
        std::string error;
        ASSERT_TRUE(ops.addRoute({"uplink0", "198.18.200.7", 32, "198.18.1.1", 1}, error)) << error;
        ops.removeStaleRoutes();
        EXPECT_FALSE(ops.routeExists("uplink0", "198.18.200.7", 32));
        EXPECT_FALSE(ops.routeExists("uplink0", "198.18.61.0", 24));
        EXPECT_TRUE(ops.routeExists("uplink0", "198.18.60.0", 24));
        EXPECT_TRUE(ops.routeExists("uplink0", "0.0.0.0", 0));
    });
}

TEST_F(NetworkOpsLinux, RouteChangeCost) {
    addUplink("uplink0", 1);
    ipRoute({"default", "via", "198.18.1.1", "dev", "uplink0"});
    inMachine([&](tunnel::NetworkOps& ops) {
        constexpr int kRounds = 200;
        std::vector<RouteSpec> routes;
        for (int i = 0; i < kRounds; ++i) routes.push_back({"uplink0", "198.18.200." + std::to_string(i), 32, "198.18.1.1", 1});
        std::string error;
        auto perRound = [&](const std::function<void(const RouteSpec&)>& step) {
            const Clock::time_point start = Clock::now();
            for (const RouteSpec& route : routes) step(route);
            return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count() / kRounds;
        };
        const auto add = perRound([&](const RouteSpec& route) { ASSERT_TRUE(ops.addRoute(route, error)) << error; });
        const auto exists = perRound([&](const RouteSpec& route) { EXPECT_TRUE(ops.routeExists("uplink0", route.destination, 32)); });
        const auto remove = perRound([&](const RouteSpec& route) { ops.deleteRoute(route); });
        PhysicalGateway gateway;
        const auto find = perRound([&](const RouteSpec&) { EXPECT_TRUE(ops.findPhysicalGateway(gateway, error)); });
        std::cout << "per call, us: addRoute " << add << ", routeExists " << exists << ", deleteRoute " << remove
                  << ", findPhysicalGateway " << find << "\n";
    });
}

TEST_F(NetworkOpsLinux, DnsFileThatIsABindMountIsEditedInPlaceAndRestored) {
    dir_.write("real-resolv.conf", "nameserver 198.18.0.53\nsearch lan\n");
    dir_.write("resolv.conf", "");
    const std::string real = dir_.file("real-resolv.conf");
    const std::string target = dir_.file("resolv.conf");
    const std::string state = dir_.file("state/dns-state");
    const int status = lab_.runInChild(machine_, [&] {
        // A mount namespace of the child's own: the bind mount never reaches the machine.
        ASSERT_EQ(::unshare(CLONE_NEWNS), 0);
        ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
        ASSERT_EQ(::mount(real.c_str(), target.c_str(), nullptr, MS_BIND, nullptr), 0);
        orvik_test::RecordingRunner runner;
        auto ops = tunnel::makeNetworkOps(runner, {tunnel::DnsBackend::file, target, state});
        ops->setTunDns("wintun");
        EXPECT_EQ(ops->adapterDnsServers("uplink0"), std::vector<std::string>{"1.1.1.1"});
        ops->restoreDns();
        EXPECT_EQ(ops->adapterDnsServers("uplink0"), std::vector<std::string>{"198.18.0.53"});
        EXPECT_TRUE(runner.commands.empty());
    });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(dir_.read("real-resolv.conf"), "nameserver 198.18.0.53\nsearch lan\n");
}

TEST_F(NetworkOpsLinux, DnsLeftByACrashedSessionIsRestoredAtTheNextStart) {
    const std::string original = "# from DHCP\nnameserver 198.18.0.53\nnameserver 198.18.0.54\noptions edns0\n";
    dir_.write("resolv.conf", original);
    const int status = lab_.runInChild(machine_, [&] {
        orvik_test::RecordingRunner runner;
        auto ops = tunnel::makeNetworkOps(runner, {tunnel::DnsBackend::file, dir_.file("resolv.conf"),
                                                   dir_.file("state/dns-state")});
        ops->setTunDns("wintun");
        ::_exit(0);  // dies without restoring
    });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_NE(dir_.read("resolv.conf"), original);
    inMachine([&](tunnel::NetworkOps& ops) {
        // What the next start sees and does: only our server left, so it is reset.
        EXPECT_EQ(ops.adapterDnsServers("uplink0"), std::vector<std::string>{"1.1.1.1"});
        ops.resetAdapterDns("uplink0");
        EXPECT_EQ(dir_.read("resolv.conf"), original);
        EXPECT_FALSE(dir_.exists("state/dns-state"));
    });
}

}  // namespace
