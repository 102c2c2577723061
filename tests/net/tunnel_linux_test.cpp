// The whole tunnel on real kernels: the real process runner, network operations and tool
// locator, the Xray and tun2socks doubles copied into a temporary runtime directory, inside a
// "machine" namespace whose uplink leads to a "router" namespace holding the node address.
// Start kills every xray / tun2socks* process on the machine, so this group runs serially.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "service/tunnel/network.h"
#include "service/tunnel/process_runner.h"
#include "service/tunnel/tunnel.h"
#include "service/tunnel/tunnel_tools.h"
#include "service/tunnel/xray_config.h"
#include "tests/support/doubles/double_switches.h"
#include "tests/support/environment.h"
#include "tests/support/netns_linux.h"
#include "tests/support/process_probe.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tunnel_runtime_linux.h"

namespace {

namespace fs = std::filesystem;
using orvik_test::TunnelRuntime;

const char* const kNode = "198.18.50.1";
const char* const kOtherNode = "198.18.51.1";
const char* const kTunAddress = "198.19.123.1";
const char* const kElsewhere = "198.18.99.9";
const std::string kOriginalResolvConf = "nameserver 198.18.0.53\nsearch lan\n";

// The platform's own seams; DNS goes to the runtime directory's resolv.conf.
struct RealTunnel {
    explicit RealTunnel(const TunnelRuntime& runtime)
        : runner(tunnel::makeProcessRunner()),
          network(tunnel::makeNetworkOps(
              *runner, {tunnel::DnsBackend::file, runtime.resolvConfPath(), runtime.dnsStatePath()})),
          tools(tunnel::makeToolLocator(true)),
          tunnel({*runner, *network, *tools,
                  [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }}) {}
    std::unique_ptr<tunnel::ProcessRunner> runner;
    std::unique_ptr<tunnel::NetworkOps> network;
    std::unique_ptr<tunnel::ToolLocator> tools;
    tunnel::Tunnel tunnel;
};

// The "nameserver" entries of a resolv.conf text.
std::vector<std::string> nameservers(const std::string& resolvConf) {
    std::vector<std::string> servers;
    std::istringstream lines(resolvConf);
    std::string keyword;
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string server;
        if (words >> keyword >> server && keyword == "nameserver") servers.push_back(server);
    }
    return servers;
}

class TunnelLinux : public ::testing::Test {
protected:
    void SetUp() override {
        orvik_test::skipUnlessRoot();
        if (IsSkipped()) return;
        ASSERT_TRUE(lab_.addMachineBehindRouter(machine_, router_, {kNode, kOtherNode}));
        ASSERT_TRUE(runtime_.installTools()) << runtime_.error();
        std::string error;
        ASSERT_TRUE(tunnel::writeXrayConfig(labNode(), {"uplink0", "198.18.1.1"}, runtime_.configPath(), error))
            << error;
        runtime_.writeFile(runtime_.resolvConfPath(), kOriginalResolvConf);
    }

    static vpn::NodeRecord labNode() {
        vpn::NodeRecord node;
        node.name = "lab";
        node.address = kNode;
        node.port = 443;
        node.uuid = "3b8a4f5e-1c2d-4e6f-8a9b-0c1d2e3f4a5b";
        node.serverName = "www.example.com";
        node.publicKey = "Z84J2IelR9ch3k8VtlVhhs5ycBUlXA7wHBWcBrjqnAw";
        node.shortId = "6ba85179e30d4fc2";
        return node;
    }

    tunnel::StartParams params(const std::string& node = kNode) const {
        return {runtime_.xrayDirectory(), runtime_.tun2socksDirectory(), runtime_.configPath(), node, kTunAddress};
    }

    // Runs `body` in the machine namespace with a tunnel over the real seams.
    void inMachine(const std::function<void(tunnel::Tunnel&)>& body) {
        lab_.run(machine_, [&] {
            RealTunnel real(runtime_);
            body(real.tunnel);
        });
    }

    static bool start(tunnel::Tunnel& tunnel, const tunnel::StartParams& p, std::string& error) {
        std::lock_guard<std::mutex> lock(tunnel.mutex());
        return tunnel.start(p, error);
    }
    static void stop(tunnel::Tunnel& tunnel) {
        std::lock_guard<std::mutex> lock(tunnel.mutex());
        tunnel.stop();
    }
    static bool running(tunnel::Tunnel& tunnel) {
        std::lock_guard<std::mutex> lock(tunnel.mutex());
        return tunnel.isRunning();
    }

    std::string routes() { return lab_.ipText(machine_, {"route", "show"}); }
    // The kernel's choice for `address`: "via ... dev ..." as `ip route get` prints it.
    std::string routeFor(const std::string& address) { return lab_.ipText(machine_, {"route", "get", address}); }
    bool linkExists(const std::string& name) {
        return orvik_test::runProgram({"ip", "-n", machine_, "link", "show", "dev", name});
    }
    std::string tunAddresses() {
        std::string text;
        orvik_test::runProgram({"ip", "-n", machine_, "-4", "addr", "show", "dev", "wintun"}, &text);
        return text;
    }

    void expectUp(const std::string& node) {
        const std::string table = routes();
        EXPECT_NE(table.find(node + " via 198.18.1.1 dev uplink0 proto 167 metric 1"), std::string::npos) << table;
        EXPECT_NE(table.find("0.0.0.0/1 dev wintun proto 167 scope link metric 5"), std::string::npos) << table;
        EXPECT_NE(table.find("128.0.0.0/1 dev wintun proto 167 scope link metric 5"), std::string::npos) << table;
        EXPECT_NE(routeFor(node).find("via 198.18.1.1 dev uplink0"), std::string::npos) << routeFor(node);
        EXPECT_NE(routeFor(kElsewhere).find("dev wintun"), std::string::npos) << routeFor(kElsewhere);
        EXPECT_NE(tunAddresses().find(std::string("inet ") + kTunAddress + "/24"), std::string::npos) << tunAddresses();
        EXPECT_EQ(nameservers(runtime_.readFile(runtime_.resolvConfPath())), std::vector<std::string>{"1.1.1.1"});
        EXPECT_EQ(runtime_.runningTools().size(), 2u);
    }

    // Nothing of a session is left: no route of ours, no TUN, no tool process, DNS as before.
    void expectNothingLeft() {
        EXPECT_TRUE(runtime_.waitToolsGone(2000)) << "tool processes still running";
        const std::string table = routes();
        EXPECT_EQ(table.find("proto 167"), std::string::npos) << table;
        EXPECT_EQ(table.find("/1 "), std::string::npos) << table;
        EXPECT_FALSE(linkExists("wintun"));
        EXPECT_EQ(runtime_.readFile(runtime_.resolvConfPath()), kOriginalResolvConf);
        EXPECT_NE(routeFor(kElsewhere).find("via 198.18.1.1 dev uplink0"), std::string::npos);
    }

    orvik_test::NetnsLab lab_;
    TunnelRuntime runtime_{ORVIK_XRAY_DOUBLE, ORVIK_TUN2SOCKS_DOUBLE};
    std::string machine_;
    std::string router_;
};

TEST_F(TunnelLinux, StartBringsTheTunnelUpAndStopLeavesNothing) {
    inMachine([&](tunnel::Tunnel& tunnel) {
        std::string error;
        ASSERT_TRUE(start(tunnel, params(), error)) << error;
        EXPECT_TRUE(running(tunnel));
        expectUp(kNode);
        stop(tunnel);
        EXPECT_FALSE(running(tunnel));
        expectNothingLeft();
        stop(tunnel);  // a second stop changes nothing
        expectNothingLeft();
    });
}

TEST_F(TunnelLinux, ConnectWhileUpReplacesTheSession) {
    inMachine([&](tunnel::Tunnel& tunnel) {
        std::string error;
        ASSERT_TRUE(start(tunnel, params(kNode), error)) << error;
        const std::vector<long> first = runtime_.runningTools();
        ASSERT_TRUE(start(tunnel, params(kOtherNode), error)) << error;
        for (long pid : first) EXPECT_TRUE(orvik_test::waitProcessGone(pid, 1000)) << pid;
        expectUp(kOtherNode);
        EXPECT_EQ(routes().find(std::string(kNode) + " via"), std::string::npos) << routes();
        stop(tunnel);
        expectNothingLeft();
    });
}

TEST_F(TunnelLinux, DeathOfAToolMakesTheTunnelNotRunning) {
    inMachine([&](tunnel::Tunnel& tunnel) {
        std::string error;
        ASSERT_TRUE(start(tunnel, params(), error)) << error;
        const std::vector<long> tools = runtime_.runningTools(runtime_.xrayDirectory());
        ASSERT_EQ(tools.size(), 1u);
        ::kill(static_cast<pid_t>(tools.front()), SIGKILL);
        EXPECT_TRUE(orvik_test::waitProcessGone(tools.front(), 1000));
        EXPECT_FALSE(running(tunnel));
        stop(tunnel);
        expectNothingLeft();
    });
}

// Each failure of a start comes with its text and leaves nothing behind.
TEST_F(TunnelLinux, MissingToolsFailBeforeAnythingStarts) {
    inMachine([&](tunnel::Tunnel& tunnel) {
        std::string error;
        fs::remove(runtime_.xrayExecutable());
        EXPECT_FALSE(start(tunnel, params(), error));
        EXPECT_EQ(error, "xray not found");
        expectNothingLeft();

        ASSERT_TRUE(runtime_.installTools());
        fs::remove(runtime_.tun2socksExecutable());
        EXPECT_FALSE(start(tunnel, params(), error));
        EXPECT_EQ(error, "tun2socks executable not found");
        expectNothingLeft();

        ASSERT_TRUE(runtime_.installTools());
        fs::remove(runtime_.configPath());
        EXPECT_FALSE(start(tunnel, params(), error));
        EXPECT_EQ(error, "config not found");
        expectNothingLeft();
    });
}

TEST_F(TunnelLinux, ConfigurationRejectedByXray) {
    runtime_.writeFile(runtime_.configPath(), "{\"log\": {}}\n");
    inMachine([&](tunnel::Tunnel& tunnel) {
        std::string error;
        EXPECT_FALSE(start(tunnel, params(), error));
        EXPECT_EQ(error, "xray exited immediately");
        expectNothingLeft();
    });
}

TEST_F(TunnelLinux, AdapterNeverAppears) {
    orvik_test::ScopedEnvironment noAdapter(orvik_double::kTun2socksNoAdapter, std::string("1"));
    inMachine([&](tunnel::Tunnel& tunnel) {
        std::string error;
        const auto began = std::chrono::steady_clock::now();
        EXPECT_FALSE(start(tunnel, params(), error));
        EXPECT_EQ(error, "wintun adapter not created");
        EXPECT_GE(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(15000));
        expectNothingLeft();
    });
}

// tun2socks ends at once, and an adapter of the right name turns up later from elsewhere:
// the adapter wait succeeds, the check after it finds tun2socks gone.
TEST_F(TunnelLinux, Tun2socksExitsEarly) {
    orvik_test::ScopedEnvironment exits(orvik_double::kTun2socksExitAtOnce, std::string("1"));
    inMachine([&](tunnel::Tunnel& tunnel) {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        std::thread other([&] {  // created from the machine namespace's thread, so it is in there too
            std::this_thread::sleep_for(std::chrono::milliseconds(1800));  // after tun2socks was launched
            orvik_test::TunDevice tun("wintun");
            EXPECT_TRUE(tun.ok()) << tun.error();
            std::unique_lock<std::mutex> lock(mutex);
            done.wait(lock, [&] { return finished; });
        });
        std::string error;
        EXPECT_FALSE(start(tunnel, params(), error));
        EXPECT_EQ(error, "tun2socks exited early");
        {
            std::lock_guard<std::mutex> lock(mutex);
            finished = true;
        }
        done.notify_all();
        other.join();
        expectNothingLeft();
    });
}

TEST_F(TunnelLinux, StrayToolsAreKilledByStart) {
    std::vector<long> strays;
    lab_.run(machine_, [&] { strays = runtime_.startStrays({"xray", "tun2socks", "TUN2SOCKS-old"}); });
    ASSERT_EQ(strays.size(), 3u);
    inMachine([&](tunnel::Tunnel& tunnel) {
        std::string error;
        ASSERT_TRUE(start(tunnel, params(), error)) << error;
        for (long pid : strays) EXPECT_TRUE(orvik_test::waitProcessGone(pid, 1000)) << pid;
        expectUp(kNode);
    });
    expectNothingLeft();
}

// A service killed outright: its children die with it, and the next start removes the host
// route the dead session left behind (here towards another node than the new one).
TEST_F(TunnelLinux, KilledHolderTakesItsToolsAlongAndStaleRoutesAreCleaned) {
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    std::thread holder([&] {
        lab_.runInChild(machine_, [&] {
            ::close(report[0]);
            RealTunnel real(runtime_);
            std::string error;
            const bool up = start(real.tunnel, params(kNode), error);
            EXPECT_TRUE(up) << error;
            const long self = ::getpid();
            if (::write(report[1], &self, sizeof self) != sizeof self) return;
            for (;;) ::pause();
        });
    });
    long holderPid = -1;  // the write end stays open here: the fork may not have happened yet
    pollfd wait{report[0], POLLIN, 0};
    if (::poll(&wait, 1, 20000) == 1 && ::read(report[0], &holderPid, sizeof holderPid) == sizeof holderPid) {
        const std::vector<long> tools = runtime_.runningTools();
        EXPECT_EQ(tools.size(), 2u);
        ::kill(static_cast<pid_t>(holderPid), SIGKILL);
        for (long pid : tools) EXPECT_TRUE(orvik_test::waitProcessGone(pid, 500)) << pid;
    } else {
        ADD_FAILURE() << "the holder never brought the tunnel up";
    }
    holder.join();
    ::close(report[0]);
    ::close(report[1]);
    EXPECT_NE(routes().find(std::string(kNode) + " via 198.18.1.1 dev uplink0 proto 167"), std::string::npos)
        << "the dead session's host route should still be there: " << routes();

    inMachine([&](tunnel::Tunnel& tunnel) {
        std::string error;
        ASSERT_TRUE(start(tunnel, params(kOtherNode), error)) << error;
        EXPECT_EQ(routes().find(std::string(kNode) + " via"), std::string::npos) << routes();
        expectUp(kOtherNode);
    });
    expectNothingLeft();
}

}  // namespace
