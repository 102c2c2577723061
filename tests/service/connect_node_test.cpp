// The "connect" op's preparation: node list, node choice, the node's address as IPv4, the
// gateway, the Xray configuration and the tunnel start, over fakes of the account back end
// and the machine (no process is started and no route touched).
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "service/connect_node.h"
#include "service/tunnel/tunnel.h"
#include "tests/support/recording_runner.h"
#include "tests/support/temp_dir.h"
#include "vpn/system.h"

namespace {

class FakePlane : public vpn::ControlPlane {
public:
    bool fetchOk = true;
    std::string fetchError;
    std::vector<vpn::NodeRecord> nodes;

    bool fetchAccount(vpn::AccountRecord& account, std::string& error) override {
        account.nodes = nodes;
        error = fetchError;
        return fetchOk;
    }
    bool login(const std::string&, const std::string&, std::string&) override { return false; }
    void logout() override {}
    bool fetchRegisterOptions(vpn::RegisterOptions&, std::string&) override { return false; }
    bool sendRegisterEmail(const std::string&, std::string&) override { return false; }
    bool registerAccount(const std::string&, const std::string&, const std::string&, const std::string&,
                         std::string&) override {
        return false;
    }
    bool fetchPlans(std::vector<vpn::PlanOffer>&, std::string&) override { return false; }
    bool buyPlan(int32_t, const std::string&, vpn::CheckoutResult&, std::string&) override { return false; }
    bool checkOrder(const std::string&, bool&, std::string&) override { return false; }
    bool claimDevice(const std::string&, int32_t&, int32_t&, std::string&) override { return false; }
};

struct AliveChild : tunnel::ChildProcess {
    bool isRunning() override { return true; }
    void terminate(int) override {}
};

struct FakeJob : tunnel::Job {
    std::vector<std::string>& launched;
    explicit FakeJob(std::vector<std::string>& record) : launched(record) {}
    std::unique_ptr<tunnel::ChildProcess> launch(const std::string& executable, const tunnel::CommandArgs&,
                                                 const std::string& directory, std::string&) override {
        launched.push_back(executable + " in " + directory);
        return std::make_unique<AliveChild>();
    }
    void close() override {}
};

struct JobRunner : orvik_test::RecordingRunner {
    std::vector<std::string> launched;
    std::unique_ptr<tunnel::Job> createJob(std::string&) override { return std::make_unique<FakeJob>(launched); }
};

class FakeNetwork : public tunnel::NetworkOps {
public:
    std::string gatewayError;
    std::vector<std::string> routes;

    bool findPhysicalGateway(tunnel::PhysicalGateway& gateway, std::string& error) override {
        if (!gatewayError.empty()) {
            error = gatewayError;
            return false;
        }
        gateway = {"eth0", "10.1.0.1"};
        return true;
    }
    bool addRoute(const tunnel::RouteSpec& route, std::string&) override {
        routes.push_back(route.destination + "/" + std::to_string(route.prefixLength) + " " + route.interfaceAlias);
        return true;
    }
    void deleteRoute(const tunnel::RouteSpec&) override {}
    bool routeExists(const std::string&, const std::string&, uint8_t) override { return true; }
    void removeStaleRoutes() override {}
    bool waitForTunAdapter(const std::string&, std::string& alias, int) override {
        alias = "wintun";
        return true;
    }
    bool waitForIpv4Address(const std::string&, int) override { return true; }
    std::vector<std::string> adapterDnsServers(const std::string&) override { return {}; }
    bool setTunAddress(const std::string&, const std::string&, std::string&) override { return true; }
    void setTunDns(const std::string&) override {}
    void resetAdapterDns(const std::string&) override {}
    void restoreDns() override {}
};

struct FakeLocator : tunnel::ToolLocator {
    std::vector<std::string> calls;
    bool locate(const std::string& xray, const std::string& tun2socks, const std::string& config,
                tunnel::TunnelTools& tools, std::string&) override {
        calls.push_back(xray + "|" + tun2socks + "|" + config);
        tools = {"xray-exe", "tun2socks-exe"};
        return true;
    }
};

vpn::NodeRecord node(const std::string& name, const std::string& address) {
    vpn::NodeRecord record;
    record.name = name;
    record.address = address;
    record.port = 443;
    record.uuid = "3b8a4f5e-1c2d-4e6f-8a9b-0c1d2e3f4a5b";
    record.serverName = "www.example.com";
    record.publicKey = "Z84J2IelR9ch3k8VtlVhhs5ycBUlXA7wHBWcBrjqnAw";
    return record;
}

class Connect : public ::testing::Test {
protected:
    Connect()
        : tunnel_({runner_, network_, locator_, [](int) {}}),
          system_{dir_.path(),
                  [this](const std::string& runtime, const std::string&) {
                      planDirectories_.push_back(runtime);
                      auto fresh = std::make_unique<FakePlane>(plane_);
                      return std::unique_ptr<vpn::ControlPlane>(std::move(fresh));
                  },
                  [this](const std::string& host, std::string& address, std::string& error) {
                      resolved_.push_back(host);
                      if (host == "node.example") address = "198.18.7.7";
                      else error = "no such host";
                      return host == "node.example";
                  },
                  network_, tunnel_} {}

    bool connect(const std::string& name, std::string& error) { return service::connectNode(system_, name, {}, error); }
    std::string config() const { return dir_.read(service::kXrayConfigName); }
    // The upstream address the tunnel received: its host route.
    std::string hostRoute() const { return network_.routes.empty() ? "" : network_.routes.front(); }

    orvik_test::TempDir dir_;
    FakePlane plane_;
    JobRunner runner_;
    FakeNetwork network_;
    FakeLocator locator_;
    tunnel::Tunnel tunnel_;
    std::vector<std::string> planDirectories_;
    std::vector<std::string> resolved_;
    service::ConnectSystem system_;
};

TEST_F(Connect, StartsTheTunnelForTheNamedNode) {
    plane_.nodes = {node("东京 1", "198.18.1.1"), node("大阪", "198.18.2.2")};
    std::string error;
    ASSERT_TRUE(connect("大阪", error)) << error;
    EXPECT_EQ(planDirectories_, std::vector<std::string>{dir_.path()}) << "a fresh control plane per connect";
    EXPECT_EQ(hostRoute(), "198.18.2.2/32 eth0");
    EXPECT_NE(config().find("\"198.18.2.2\""), std::string::npos);
    const std::string runtime = dir_.path();
    EXPECT_EQ(locator_.calls, std::vector<std::string>{vpn::joinPath(runtime, "xray") + "|" +
                                                       vpn::joinPath(runtime, "tun2socks") + "|" +
                                                       vpn::joinPath(runtime, service::kXrayConfigName)});
    EXPECT_TRUE(resolved_.empty());
    std::lock_guard<std::mutex> lock(tunnel_.mutex());
    EXPECT_TRUE(tunnel_.isRunning());
}

TEST_F(Connect, NodeChoiceIsExactThenByRouteIdAndNeverAnother) {
    const std::vector<vpn::NodeRecord> nodes = {node("A", "198.18.0.1"), node("B", "198.18.0.2"),
                                                node("B", "198.18.0.3"), node(" C\t", "198.18.0.4"),
                                                node("\xE3\x80\x80香港\xC2\xA0", "198.18.0.5"), node("D", "198.18.0.6"),
                                                node(" D ", "198.18.0.7"), node("Osaka", "198.18.0.8"),
                                                node("Tokyo\xE2\x80\x83", "198.18.0.9")};
    const auto chosen = [&](const std::string& name) {
        const vpn::NodeRecord* found = service::chooseNode(nodes, name);
        return found ? found->address : std::string("none");
    };
    EXPECT_EQ(chosen("B"), "198.18.0.3") << "the last of several";
    EXPECT_EQ(chosen(" C\t"), "198.18.0.4");
    // The client sends route ids: names trimmed of white space, also of wide spaces.
    EXPECT_EQ(chosen("C"), "198.18.0.4");
    EXPECT_EQ(chosen("香港"), "198.18.0.5");
    EXPECT_EQ(chosen("Tokyo"), "198.18.0.9") << "an em space is white space too";
    EXPECT_EQ(chosen("D"), "198.18.0.6") << "an exact name comes first";
    EXPECT_EQ(chosen(""), "198.18.0.1") << "no node named: the first";
    EXPECT_EQ(chosen("b"), "none");
    EXPECT_EQ(chosen("nowhere"), "none");
    EXPECT_EQ(chosen(" "), "none");
}

TEST_F(Connect, ANodeNoLongerListedFailsWithoutTouchingTheTunnel) {
    plane_.nodes = {node("Osaka", "198.18.1.1")};
    std::string error;
    EXPECT_FALSE(connect("Tokyo", error));
    EXPECT_EQ(error, "所选节点已不在节点列表中：Tokyo");
    EXPECT_FALSE(dir_.exists(service::kXrayConfigName));
    EXPECT_TRUE(locator_.calls.empty());
}

TEST_F(Connect, AccountFailuresCarryTheBackEndsTextOrTheSignInHint) {
    plane_.fetchOk = false;
    plane_.fetchError = "account expired";
    std::string error;
    EXPECT_FALSE(connect("", error));
    EXPECT_EQ(error, "account expired");
    plane_.fetchError.clear();
    error.clear();
    EXPECT_FALSE(connect("", error));
    EXPECT_EQ(error, "请先在Velora登录");
    plane_.fetchOk = true;
    EXPECT_FALSE(connect("", error));
    EXPECT_EQ(error, "没有可用节点");
    EXPECT_FALSE(dir_.exists(service::kXrayConfigName));
    EXPECT_TRUE(locator_.calls.empty());
}

TEST_F(Connect, AHostNameIsResolvedOnceAndUsedForRouteAndXray) {
    plane_.nodes = {node("n", "node.example")};
    std::string error;
    ASSERT_TRUE(connect("", error)) << error;
    EXPECT_EQ(resolved_, std::vector<std::string>{"node.example"});
    EXPECT_EQ(hostRoute(), "198.18.7.7/32 eth0");
    EXPECT_NE(config().find("\"198.18.7.7\""), std::string::npos);
    EXPECT_EQ(config().find("node.example"), std::string::npos);
}

TEST_F(Connect, AnAddressThatIsNoIpv4FailsBeforeAnythingStarts) {
    std::string error;
    plane_.nodes = {node("n", "nowhere.invalid")};
    EXPECT_FALSE(connect("", error));
    EXPECT_EQ(error, "cannot resolve node address nowhere.invalid: no such host");
    plane_.nodes = {node("n", "2001:db8::1")};
    EXPECT_FALSE(connect("", error));
    EXPECT_EQ(error, "node address is not IPv4: 2001:db8::1");
    EXPECT_TRUE(locator_.calls.empty());
    EXPECT_TRUE(runner_.launched.empty());
}

TEST_F(Connect, GatewayAndConfigurationFailuresEndTheOp) {
    plane_.nodes = {node("n", "198.18.1.1")};
    network_.gatewayError = "no physical default gateway";
    std::string error;
    EXPECT_FALSE(connect("", error));
    EXPECT_EQ(error, "no physical default gateway");
    EXPECT_FALSE(dir_.exists(service::kXrayConfigName));

    network_.gatewayError.clear();
    system_.runtimeDirectory = dir_.file("missing");
    EXPECT_FALSE(connect("", error));
    EXPECT_EQ(error, "cannot write generated xray config");
    EXPECT_TRUE(runner_.launched.empty());
}

TEST_F(Connect, AnEmptyAddressLeavesTheTunnelItsDefault) {
    std::string ipv4 = "stale", error;
    EXPECT_TRUE(service::upstreamIpv4("", nullptr, ipv4, error));
    EXPECT_EQ(ipv4, "");
}

TEST(Ipv4Literal, AcceptsOnlyFourDecimalOctets) {
    for (const char* good : {"0.0.0.0", "198.18.0.1", "255.255.255.255", "1.2.3.4"})
        EXPECT_TRUE(service::isIpv4Literal(good)) << good;
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4 ", " 1.2.3.4", "01.2.3.4", "1..3.4",
                            "1.2.3.", "a.b.c.d", "1.2.3.1234", "0x1.2.3.4", "::1"})
        EXPECT_FALSE(service::isIpv4Literal(bad)) << bad;
}

}  // namespace
