// The tunnel's start and stop on the fake machine: what a start leaves running and installed,
// what a stop or a failed start leaves behind, and the orders that matter.
#include <gtest/gtest.h>

#include <functional>

#include "service/tunnel/tunnel.h"
#include "tests/support/fake_machine.h"
#include "vpn/system.h"

namespace {

using orvik_test::FakeMachine;

const std::string kHost = "eth0 198.18.7.7/32 via 198.18.0.1 metric 1";
const std::string kLower = "wintun 0.0.0.0/1 via 192.168.123.1 metric 5";
const std::string kUpper = "wintun 128.0.0.0/1 via 192.168.123.1 metric 5";
const char* const kTun2socks = "tun2socks-linux-amd64";
const char* const kXrayFile = "/rt/xray/xray";
const char* const kTun2socksFile = "/rt/tun2socks/tun2socks-linux-amd64";

class TunnelSequence : public ::testing::Test {
protected:
    FakeMachine machine;
    tunnel::Tunnel tunnel{{machine, machine, machine, [](int) {}}};
    tunnel::StartParams params{"/rt/xray", "/rt/tun2socks", "/rt/session.json.xray.json", "198.18.7.7", ""};

    template <typename Call>
    auto locked(Call call) {
        std::lock_guard<std::mutex> lock(tunnel.mutex());
        return call();
    }
    bool start(std::string& error) { return locked([&] { return tunnel.start(params, error); }); }
    void stop() { locked([&] { tunnel.stop(); }); }
    bool running() { return locked([&] { return tunnel.isRunning(); }); }
    void startOk() {
        std::string error;
        ASSERT_TRUE(start(error)) << error;
    }
    // Nothing of a session is left, and it went in the order that frees the adapter first and
    // gives the machine its own DNS back last.
    void expectNothingLeft() {
        EXPECT_FALSE(running());
        EXPECT_EQ(machine.openJobs, 0);
        for (const auto& process : machine.processes) EXPECT_FALSE(process->alive) << process->name;
        EXPECT_TRUE(machine.routes.empty());
        EXPECT_FALSE(machine.tunDns);
        const size_t end = machine.events.size(), teardown = machine.last("route+") < end ? machine.last("route+") : 0;
        const size_t routeGone = machine.first("route-", teardown);
        EXPECT_TRUE(routeGone == end || machine.last("stop") < routeGone) << "routes went before the processes";
        EXPECT_TRUE(machine.first("dns set") == end || machine.events.back() == "dns restored");
    }
};

// Running needs both processes; a stop, or the owner's end, leaves nothing.
TEST_F(TunnelSequence, StartRemovesStraysFirstThenBringsEveryPartUpUntilStopped) {
    stop();
    EXPECT_TRUE(machine.events.empty()) << "nothing to stop";
    machine.addStray(kXrayFile);
    machine.addStray(kTun2socksFile);
    const auto copy = machine.addStray("/home/user/xray"), usersRun = machine.addStray(kXrayFile, false);
    machine.routes.insert("eth0 198.18.9.9/32 via 198.18.0.1 metric 1");  // left by a crashed service
    startOk();
    EXPECT_TRUE(running());
    EXPECT_EQ(machine.routes, (std::set<std::string>{kHost, kLower, kUpper}));
    EXPECT_EQ(machine.tunAddress, "192.168.123.1");
    EXPECT_TRUE(machine.tunDns);
    EXPECT_EQ(machine.openJobs, 1);
    EXPECT_TRUE(copy->alive && usersRun->alive) << "not ours to end";
    copy->alive = usersRun->alive = false;  // out of the way of the checks below
    EXPECT_LT(machine.last("kill"), machine.first("launch"));
    EXPECT_LT(machine.first("route- eth0 198.18.9.9"), machine.first("launch"));
    EXPECT_EQ(machine.events[machine.first("launch")], "launch xray run -c \"/rt/session.json.xray.json\"");
    EXPECT_EQ(machine.events[machine.last("launch")],
              "launch tun2socks-linux-amd64 --loglevel info --device wintun --proxy socks5://127.0.0.1:10808 "
              "--interface \"eth0\"");
    EXPECT_LT(machine.first("route+ " + kHost), machine.first("route+ wintun")) << "the node must stay reachable";
    for (const char* name : {"xray", kTun2socks}) {
        const auto process = machine.find(name);
        ASSERT_TRUE(process) << name;
        process->alive = false;
        EXPECT_FALSE(running()) << name;
        process->alive = true;
    }
    stop();
    expectNothingLeft();
    const size_t events = machine.events.size();
    stop();
    EXPECT_EQ(machine.events.size(), events) << "a second stop";
    {
        tunnel::Tunnel local{{machine, machine, machine, [](int) {}}};
        std::string error;
        std::lock_guard<std::mutex> lock(local.mutex());
        ASSERT_TRUE(local.start(params, error)) << error;
    }
    expectNothingLeft();
}

// A switch replaces the session (here with the default node address and tun2socks that takes
// no interface); one that fails keeps nothing of either, the old node's route least of all.
TEST_F(TunnelSequence, ASwitchReplacesTheSessionAndAFailedOneLeavesNothing) {
    startOk();
    const auto oldXray = machine.find("xray");
    params = {"/rt/xray", "/rt/tun2socks", "/rt/session.json.xray.json", "", "198.18.200.1"};
    machine.tun2socksTakesInterface = false;
    startOk();
    EXPECT_FALSE(oldXray->alive);
    EXPECT_EQ(machine.openJobs, 1);
    EXPECT_EQ(machine.routes, (std::set<std::string>{"eth0 203.0.113.10/32 via 198.18.0.1 metric 1",
                                                     "wintun 0.0.0.0/1 via 198.18.200.1 metric 5",
                                                     "wintun 128.0.0.0/1 via 198.18.200.1 metric 5"}));
    EXPECT_EQ(machine.tunAddress, "198.18.200.1");
    EXPECT_EQ(machine.events[machine.last("launch")].find("--interface"), std::string::npos);

    machine.failingRoute = "128.0.0.0";
    params.upstreamAddress = "198.18.7.7";
    machine.events.clear();
    std::string error;
    EXPECT_FALSE(start(error));
    expectNothingLeft();
    machine.failingRoute.clear();
    startOk();  // startable again
}

TEST_F(TunnelSequence, ThePhysicalAdaptersDnsIsResetOnlyWhenTheTunnelsServerIsItsOnlyOne) {
    const std::pair<std::vector<std::string>, bool> cases[] = {
        {{"1.1.1.1"}, true}, {{}, false}, {{"8.8.8.8", "1.1.1.1"}, false}, {{"1.1.1.10"}, false}};
    for (const auto& [servers, reset] : cases) {
        SCOPED_TRACE(servers.empty() ? "none" : servers.front());
        machine.physicalDns = servers;
        machine.events.clear();
        startOk();
        EXPECT_EQ(machine.first("dns reset eth0") < machine.events.size(), reset);
        stop();
    }
}

// Every failed start says why and leaves nothing behind; strays are removed once the tools
// they would be runs of are known.
struct Failure {
    const char* name;
    std::function<void(FakeMachine&, tunnel::StartParams&)> arrange;
    std::string error;
    bool launches;
};

const char* const kRequired = "xray dir, tun2socks dir and config are required";
const Failure kFailures[] = {
    {"NoXrayDir", [](auto&, auto& p) { p.xrayDirectory.clear(); }, kRequired, false},
    {"NoConfigPath", [](auto&, auto& p) { p.configPath.clear(); }, kRequired, false},
    {"ToolMissing", [](auto& m, auto&) { m.locateError = "tun2socks exe not found"; }, "tun2socks exe not found", false},
    {"NoGateway", [](auto& m, auto&) { m.gatewayError = "no default gateway"; }, "no default gateway", false},
    {"NoJob", [](auto& m, auto&) { m.jobError = "no job"; }, "no job", false},
    {"XrayLaunch", [](auto& m, auto&) { m.failingLaunches.insert("xray"); }, "CreateProcess failed for /rt/xray/xray err=2",
     false},
    {"XrayExitsAtOnce", [](auto& m, auto&) { m.exitingAtOnce.insert("xray"); }, "xray exited immediately", true},
    {"Tun2socksLaunch", [](auto& m, auto&) { m.failingLaunches.insert(kTun2socks); },
     "CreateProcess failed for /rt/tun2socks/tun2socks-linux-amd64 err=2", true},
    {"NoAdapter", [](auto& m, auto&) { m.adapterAppears = false; }, "wintun adapter not created", true},
    {"Tun2socksExitsEarly", [](auto& m, auto&) { m.exitingAtOnce.insert(kTun2socks); }, "tun2socks exited early", true},
    {"TunAddressRefused", [](auto& m, auto&) { m.addressError = "no address"; }, "no address", true},
    {"NoTunAddress", [](auto& m, auto&) { m.addressAppears = false; }, "TUN adapter has no IPv4 address", true},
    {"HostRoute", [](auto& m, auto&) { m.failingRoute = "198.18.7.7"; }, "route refused: 198.18.7.7", true},
    {"LowerSplitRoute", [](auto& m, auto&) { m.failingRoute = "0.0.0.0"; }, "route refused: 0.0.0.0", true},
    {"SplitRouteMissing", [](auto& m, auto&) { m.lostRoute = "128.0.0.0"; },
     "split default routes were not installed on TUN", true},
};

TEST_F(TunnelSequence, EveryFailedStartSaysWhyAndLeavesNothing) {
    const tunnel::StartParams defaults = params;
    for (const Failure& row : kFailures) {
        SCOPED_TRACE(row.name);
        machine = FakeMachine();  // the same tunnel: a failed start leaves it startable
        params = defaults;
        machine.addStray(kXrayFile);
        row.arrange(machine, params);
        std::string error;
        EXPECT_FALSE(start(error));
        EXPECT_EQ(error, row.error);
        EXPECT_EQ(machine.first("launch") < machine.events.size(), row.launches);
        const bool located = row.error != kRequired && row.name != std::string("ToolMissing");
        EXPECT_NE(machine.processes.front()->alive, located) << "the stray";
        machine.processes.front()->alive = false;
        expectNothingLeft();
    }
}

}  // namespace
