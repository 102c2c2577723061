// The whole tunnel on a real kernel: the real process runner, network operations and tool
// locator, with the Xray and tun2socks doubles, inside the machine of a RouterLab.
#include <signal.h>

#include <filesystem>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "service/tunnel/tunnel.h"
#include "service/tunnel/xray_config.h"
#include "tests/support/netns_linux.h"
#include "tests/support/process_probe.h"

namespace {

namespace fs = std::filesystem;

const char* const kNode = "198.18.50.1";
const char* const kOtherNode = "198.18.51.1";
const char* const kTunAddress = "198.19.123.1";

class TunnelLinux : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = orvik_test::whyNoNetworkLab(); !why.empty()) GTEST_SKIP() << why;
        ASSERT_EQ(lab.error(), "");
        ASSERT_TRUE(lab.installTools(ORVIK_XRAY_DOUBLE, ORVIK_TUN2SOCKS_DOUBLE));
        vpn::NodeRecord node{.name = "lab", .address = kNode, .port = 443, .uuid = "3b8a4f5e-1c2d-4e6f-8a9b-0c1d2e3f4a5b",
                             .serverName = "www.example.com", .publicKey = "Z84J2IelR9ch3k8VtlVhhs5ycBUlXA7wHBWcBrjqnAw",
                             .shortId = "6ba85179e30d4fc2"};
        std::string error;
        ASSERT_TRUE(tunnel::writeXrayConfig(node, {"uplink0", "198.18.1.1"}, 0, lab.configPath(), error)) << error;
    }

    // Runs `body` in the machine with a tunnel over the platform's own seams; DNS goes to the
    // lab's resolv.conf.
    void inMachine(const std::function<void(tunnel::Tunnel&)>& body) {
        ASSERT_TRUE(lab.inMachine([&] {
            auto runner = tunnel::makeProcessRunner();
            auto network = tunnel::makeNetworkOps(
                *runner, {tunnel::DnsBackend::file, lab.resolvConfPath(), lab.dnsStatePath()});
            auto tools = tunnel::makeToolLocator(true);
            tunnel::Tunnel tunnel({*runner, *network, *tools,
                                   [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }});
            body(tunnel);
        })) << lab.error();
    }

    tunnel::StartParams params(const std::string& node = kNode) const {
        return {lab.xrayDirectory(), lab.tun2socksDirectory(), lab.configPath(), node, kTunAddress};
    }

    orvik_test::RouterLab lab{{kNode, kOtherNode}};
};

bool start(tunnel::Tunnel& tunnel, const tunnel::StartParams& params, std::string& error) {
    std::lock_guard<std::mutex> lock(tunnel.mutex());
    return tunnel.start(params, error);
}
void stop(tunnel::Tunnel& tunnel) {
    std::lock_guard<std::mutex> lock(tunnel.mutex());
    tunnel.stop();
}
bool running(tunnel::Tunnel& tunnel) {
    std::lock_guard<std::mutex> lock(tunnel.mutex());
    return tunnel.isRunning();
}

TEST_F(TunnelLinux, StartSwitchAndStopLeaveNothingAndADeadToolIsNoticed) {
    inMachine([&](tunnel::Tunnel& tunnel) {
        std::string error;
        ASSERT_TRUE(start(tunnel, params(kNode), error)) << error;
        EXPECT_TRUE(running(tunnel));
        EXPECT_EQ(lab.notUp(kNode, kTunAddress), "");
        const std::vector<long> first = lab.runningTools();
        ASSERT_TRUE(start(tunnel, params(kOtherNode), error)) << error;
        for (long pid : first) EXPECT_TRUE(orvik_test::waitProcessGone(pid, 10000)) << pid;
        EXPECT_EQ(lab.notUp(kOtherNode, kTunAddress), "");
        EXPECT_EQ(lab.ip({"route", "show", kNode}), "") << "the old node's host route stayed";

        const std::vector<long> tools = lab.runningTools();
        ASSERT_FALSE(tools.empty());
        ::kill(static_cast<pid_t>(tools.front()), SIGKILL);
        EXPECT_TRUE(orvik_test::waitProcessGone(tools.front(), 10000));
        EXPECT_FALSE(running(tunnel));
        stop(tunnel);
        EXPECT_EQ(lab.leftOver(), "");
        stop(tunnel);  // a second stop changes nothing
        EXPECT_EQ(lab.leftOver(), "");
    });
}

// A start that fails on the real machine says why and leaves nothing behind (every failing
// step is in the sequence tests; here a missing tool and one that exits at once).
struct FailedStart {
    const char* name;
    std::function<void(const orvik_test::RouterLab&)> breakIt;
    const char* error;
};
void PrintTo(const FailedStart& row, std::ostream* out) { *out << row.name; }

class TunnelLinuxFailure : public TunnelLinux, public ::testing::WithParamInterface<FailedStart> {};

TEST_P(TunnelLinuxFailure, LeavesNothingBehind) {
    GetParam().breakIt(lab);
    inMachine([&](tunnel::Tunnel& tunnel) {
        std::string error;
        EXPECT_FALSE(start(tunnel, params(), error));
        EXPECT_EQ(error, GetParam().error);
        EXPECT_EQ(lab.leftOver(), "");
    });
}

INSTANTIATE_TEST_SUITE_P(
    Steps, TunnelLinuxFailure,
    ::testing::Values(
        FailedStart{"NoXray", [](const auto& lab) { fs::remove(lab.xrayExecutable()); }, "xray not found"},
        FailedStart{"ConfigRejectedByXray",
                    [](const auto& lab) { lab.write("session.json.xray.json", "{\"log\": {}}\n"); },
                    "xray exited immediately"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(TunnelLinux, StrayToolsAreKilledByStart) {
    std::vector<long> strays;
    ASSERT_TRUE(lab.inMachine([&] { strays = lab.startStrays(); }));
    for (long pid : strays) ASSERT_GT(pid, 0);
    inMachine([&](tunnel::Tunnel& tunnel) {
        std::string error;
        ASSERT_TRUE(start(tunnel, params(), error)) << error;
        for (long pid : strays) EXPECT_TRUE(orvik_test::waitProcessGone(pid, 10000)) << pid;
        EXPECT_EQ(lab.notUp(kNode, kTunAddress), "");
    });
    EXPECT_EQ(lab.leftOver(), "");
}

}  // namespace
