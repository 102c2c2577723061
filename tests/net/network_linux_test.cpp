// The Linux network operations on a real kernel, run inside the machine of a RouterLab.
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "service/tunnel/gateway_choice.h"
#include "service/tunnel/netlink_linux.h"
#include "service/tunnel/network.h"
#include "tests/support/fake_machine.h"
#include "tests/support/netns_linux.h"

namespace {

using Clock = std::chrono::steady_clock;
using Args = std::vector<std::string>;

// A TUN interface held open by this thread's namespace for the object's lifetime.
struct Tun {
    explicit Tun(const std::string& name, bool persistent = false) {
        ifreq request{};
        std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
        request.ifr_flags = IFF_TUN | IFF_NO_PI;
        ok = ::ioctl(fd, TUNSETIFF, &request) == 0 && (!persistent || ::ioctl(fd, TUNSETPERSIST, 1) == 0);
    }
    ~Tun() { ::close(fd); }
    int fd = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    bool ok = false;
};

class NetworkOpsLinux : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = orvik_test::whyNoNetworkLab(); !why.empty()) GTEST_SKIP() << why;
        ASSERT_EQ(lab.error(), "");
    }
    // `ip -n machine ARGS` must succeed.
    void ip(const Args& args) { ASSERT_TRUE(orvik_test::runProgram(withMachine(args))) << testing::PrintToString(args); }
    Args withMachine(Args args) const {
        args.insert(args.begin(), {"ip", "-n", lab.machine()});
        return args;
    }
    void inMachine(const std::function<void(tunnel::NetworkOps&)>& body,
                   const std::string& resolvConf = {}, bool privateFiles = false) {
        ASSERT_TRUE(lab.inMachine([&] {
            auto ops = tunnel::makeNetworkOps(machine, {tunnel::DnsBackend::file,
                                                        resolvConf.empty() ? lab.resolvConfPath() : resolvConf,
                                                        lab.dnsStatePath()});
            body(*ops);
        }, privateFiles)) << lab.error();
    }
    std::string routeVia(const std::string& address) {
        tunnel::netlink::Route used;
        uint32_t destination = 0;
        std::string error;
        if (!tunnel::parseIpv4(address, destination) || !tunnel::netlink::lookupRoute(destination, used, error) ||
            used.nextHops.empty())
            return "no route: " + error;
        return tunnel::formatIpv4(used.nextHops.front().gateway) + " proto " + std::to_string(used.protocol);
    }

    orvik_test::RouterLab lab{{}};
    orvik_test::FakeMachine machine;  // runs no command: DNS goes to a file here
};

// Default routes over extra links of the machine (a veth with both ends inside), replacing the
// lab's own: which one carries the physical gateway as the kernel lists them. The names that
// are never chosen are the portable rule's; here only the kernel's own "lo" is told apart.
struct GatewayCase {
    const char* name;
    std::vector<Args> routes;
    const char* chosen;
};
void PrintTo(const GatewayCase& row, std::ostream* out) { *out << row.name; }

class PhysicalGateway : public NetworkOpsLinux, public ::testing::WithParamInterface<GatewayCase> {};

TEST_P(PhysicalGateway, IsReadFromTheKernelsTable) {
    ip({"route", "del", "default"});
    int subnet = 2;
    for (const char* link : {"uplinkA", "uplinkB", "wlo1"}) {
        ip({"link", "add", link, "type", "veth", "peer", "name", "p" + std::to_string(subnet)});
        ip({"link", "set", link, "up"});
        ip({"address", "add", "198.18." + std::to_string(subnet++) + ".2/24", "dev", link});
    }
    for (const Args& route : GetParam().routes) ip(route);
    inMachine([&](tunnel::NetworkOps& ops) {
        tunnel::PhysicalGateway gateway;
        std::string error;
        const bool found = ops.findPhysicalGateway(gateway, error);
        EXPECT_EQ(found ? gateway.interfaceAlias : error, GetParam().chosen) << lab.ip({"route"});
    });
}

const char* const kNone = "no physical default gateway";
INSTANTIATE_TEST_SUITE_P(
    Tables, PhysicalGateway,
    ::testing::Values(
        GatewayCase{"LowestMetric",
                    {{"route", "add", "default", "via", "198.18.2.1", "metric", "35"},
                     {"route", "add", "default", "via", "198.18.3.1", "metric", "25"}},
                    "uplinkB"},
        GatewayCase{"FirstListedOnEqualMetrics",
                    {{"route", "add", "default", "via", "198.18.3.1", "metric", "25"},
                     {"route", "append", "default", "via", "198.18.2.1", "metric", "25"}},
                    "uplinkB"},
        GatewayCase{"MultipathNextHopsInOrder",
                    {{"route", "add", "default", "nexthop", "via", "198.18.3.1", "nexthop", "via", "198.18.2.1"}},
                    "uplinkB"},
        GatewayCase{"OnLinkNeverChosen", {{"route", "add", "default", "dev", "uplinkA"}}, kNone},
        GatewayCase{"NamesHoldingLoAreReal", {{"route", "add", "default", "via", "198.18.4.1"}}, "wlo1"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(NetworkOpsLinux, HostRouteIsOursCheckedAndDeleted) {
    const tunnel::RouteSpec host{"uplink0", "198.18.200.7", 32, "198.18.1.1", 1};
    inMachine([&](tunnel::NetworkOps& ops) {
        std::string error;
        EXPECT_FALSE(ops.routeExists("uplink0", "198.18.200.7", 32));
        ASSERT_TRUE(ops.addRoute(host, error)) << error;
        EXPECT_TRUE(ops.addRoute(host, error)) << "adding an existing route succeeds: " << error;
        EXPECT_TRUE(ops.routeExists("uplink0", "198.18.200.7", 32));
        EXPECT_FALSE(ops.routeExists("uplink0", "198.18.200.7", 31));
        EXPECT_FALSE(ops.routeExists("lo", "198.18.200.7", 32));
        EXPECT_EQ(routeVia("198.18.200.7"), "198.18.1.1 proto 167");
        ops.deleteRoute(host);
        EXPECT_FALSE(ops.routeExists("uplink0", "198.18.200.7", 32));
        ops.deleteRoute(host);  // gone already: nothing happens

        EXPECT_FALSE(ops.addRoute({"nosuch0", "198.18.200.7", 32, "198.18.1.1", 1}, error));
        EXPECT_EQ(error, "unknown interface nosuch0");
        EXPECT_FALSE(ops.addRoute({"uplink0", "198.18.200.7", 32, "198.18.77.1", 1}, error));  // unreachable hop
        EXPECT_EQ(error.rfind("RTM_NEWROUTE failed ", 0), 0u) << error;
    });
}

// An administrator's own route to the node alike outlives ours: beside it, or in its place.
TEST_F(NetworkOpsLinux, AnAdministratorsHostRouteAlikeIsNeverDeleted) {
    const tunnel::RouteSpec host{"uplink0", "198.18.200.7", 32, "198.18.1.1", 1};
    for (const std::string metric : {"50", "1"}) {
        ip({"route", "add", "198.18.200.7/32", "via", "198.18.1.1", "dev", "uplink0", "metric", metric});
        inMachine([&](tunnel::NetworkOps& ops) {
            std::string error;
            EXPECT_TRUE(ops.addRoute(host, error)) << error;
            for (int i = 0; i < 2; ++i) ops.deleteRoute(host);  // and the next session's clean-up before its own
        });
        EXPECT_EQ(lab.ip({"route", "show", "198.18.200.7/32"}), "198.18.200.7 via 198.18.1.1 dev uplink0 metric " + metric + " \n");
        ip({"route", "del", "198.18.200.7/32", "metric", metric});
    }
}

TEST_F(NetworkOpsLinux, TunGetsItsAddressLinkUpAndTheSplitRoutes) {
    inMachine([&](tunnel::NetworkOps& ops) {
        std::string error;
        EXPECT_FALSE(ops.setTunAddress("wintun", "198.18.123.1", error));
        EXPECT_EQ(error, "failed to assign TUN address: unknown interface wintun");
        Tun tun("wintun");
        ASSERT_TRUE(tun.ok);
        const tunnel::RouteSpec lower{"wintun", "0.0.0.0", 1, "198.18.123.1", 5};
        EXPECT_FALSE(ops.addRoute(lower, error)) << "a TUN that is down takes no routes";
        EXPECT_FALSE(ops.waitForIpv4Address("wintun", 50));
        ASSERT_EQ(orvik_test::runProgram(withMachine({"address", "add", "198.18.9.9/16", "dev", "wintun"})), true);
        ASSERT_TRUE(ops.setTunAddress("wintun", "198.18.123.1", error)) << error;
        EXPECT_TRUE(ops.setTunAddress("wintun", "198.18.123.1", error)) << "setting it again: " << error;
        EXPECT_TRUE(ops.waitForIpv4Address("wintun", 4000));
        const std::string addresses = lab.ip({"-4", "-o", "address", "show", "dev", "wintun"});
        EXPECT_EQ(addresses.find("198.18.9.9"), std::string::npos) << "an earlier address stays: " << addresses;
        ASSERT_TRUE(ops.addRoute(lower, error)) << error;
        ASSERT_TRUE(ops.addRoute({"wintun", "128.0.0.0", 1, "198.18.123.1", 5}, error)) << error;
        EXPECT_TRUE(ops.routeExists("wintun", "128.0.0.0", 1));
        for (const char* address : {"198.18.250.1", "8.8.8.8", "200.1.2.3"})
            EXPECT_EQ(routeVia(address), "0.0.0.0 proto 167") << address;
        tunnel::PhysicalGateway gateway;
        EXPECT_TRUE(ops.findPhysicalGateway(gateway, error)) << "the /1 routes are no default routes";
        EXPECT_EQ(gateway.interfaceAlias, "uplink0");
    });
}

TEST_F(NetworkOpsLinux, TunWaitTakesOnlyAHeldAdapterAndEndsInTime) {
    inMachine([&](tunnel::NetworkOps& ops) {
        std::string alias;
        const auto began = Clock::now();
        EXPECT_FALSE(ops.waitForTunAdapter("wintun", alias, 300));
        EXPECT_GE(Clock::now() - began, std::chrono::milliseconds(300));
        EXPECT_LT(Clock::now() - began, std::chrono::milliseconds(2300));
        { Tun left("wintun", true); }  // stays without a holder, without carrier
        EXPECT_FALSE(ops.waitForTunAdapter("wintun", alias, 300));
        std::unique_ptr<Tun> held;
        std::thread creator([&] {  // in this thread's namespace, while the wait runs
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            held = std::make_unique<Tun>("WinTun7");
        });
        EXPECT_TRUE(ops.waitForTunAdapter("wintun", alias, 15000));
        creator.join();
        EXPECT_EQ(alias, "WinTun7");
    });
}

TEST_F(NetworkOpsLinux, StaleRoutesOfOursAreRemovedAndOthersKept) {
    ip({"route", "add", "198.18.60.0/24", "via", "198.18.1.1"});                                // the admin's
    ip({"route", "add", "198.18.61.0/24", "via", "198.18.1.1", "proto", "167", "metric", "9"});  // a crash's
    inMachine([&](tunnel::NetworkOps& ops) {
        ops.removeStaleRoutes();
        EXPECT_FALSE(ops.routeExists("uplink0", "198.18.61.0", 24));
        EXPECT_TRUE(ops.routeExists("uplink0", "198.18.60.0", 24));
        EXPECT_TRUE(ops.routeExists("uplink0", "0.0.0.0", 0));
    });
}

// /etc/resolv.conf bind-mounted (as in containers): rename onto it fails, so it is edited in place.
TEST_F(NetworkOpsLinux, DnsFileThatIsABindMountIsEditedInPlaceAndRestored) {
    lab.write("resolv.conf", orvik_test::RouterLab::kResolvConf);
    inMachine([&](tunnel::NetworkOps& ops) {
        ops.setTunDns("wintun");
        EXPECT_EQ(ops.adapterDnsServers("uplink0"), std::vector<std::string>{"1.1.1.1"});
        ops.restoreDns();
        EXPECT_EQ(ops.adapterDnsServers("uplink0"), std::vector<std::string>{"198.18.0.53"});
    }, "/etc/resolv.conf", true);
    EXPECT_EQ(lab.read("resolv.conf"), orvik_test::RouterLab::kResolvConf);
    EXPECT_TRUE(machine.commands.empty());
}

}  // namespace
