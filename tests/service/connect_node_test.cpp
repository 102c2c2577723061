// The "connect" op's preparation: node list, node choice, the node's address as IPv4, the
// gateway, the Xray configuration and the tunnel start, over a fake account back end and the
// fake machine (no process is started and no route touched).
#include <gtest/gtest.h>

#include "service/connect_node.h"
#include "tests/support/fake_machine.h"
#include "tests/support/temp_dir.h"
#include "vpn/system.h"

namespace {

struct FakePlane : vpn::ControlPlane {
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
                         std::string&) override { return false; }
    bool fetchPlans(std::vector<vpn::PlanOffer>&, std::string&) override { return false; }
    bool buyPlan(int32_t, const std::string&, vpn::CheckoutResult&, std::string&) override { return false; }
    bool checkOrder(const std::string&, bool&, std::string&) override { return false; }
    bool claimDevice(const std::string&, int32_t&, int32_t&, std::string&) override { return false; }
};

vpn::NodeRecord node(const std::string& name, const std::string& address) {
    return {.name = name, .address = address, .port = 443, .uuid = "3b8a4f5e-1c2d-4e6f-8a9b-0c1d2e3f4a5b",
            .serverName = "www.example.com", .publicKey = "Z84J2IelR9ch3k8VtlVhhs5ycBUlXA7wHBWcBrjqnAw", .shortId = ""};
}

// What a connect starts from, and its outcome: the error text (empty: the tunnel runs) and
// the node address the host route and Xray were given.
struct Case {
    const char* name = {};
    std::vector<vpn::NodeRecord> nodes = {};
    std::string requested = {};
    std::string error = {};
    std::string upstream = {};
    bool fetchOk = true;
    std::string fetchError = {};
    std::string gatewayError = {};
    bool runtimeMissing = false;
};

class Connect : public ::testing::TestWithParam<Case> {
protected:
    orvik_test::TempDir dir_;
    FakePlane plane_;
    orvik_test::FakeMachine machine_;
    tunnel::Tunnel tunnel_{{machine_, machine_, machine_, [](int) {}}};
    service::ConnectSystem system_{dir_.path(),
                                   [this](const std::string&, const std::string&) {
                                       return std::unique_ptr<vpn::ControlPlane>(std::make_unique<FakePlane>(plane_));
                                   },
                                   [](const std::string& host, std::string& address, std::string& error) {
                                       if (host == "node.example") address = "198.18.7.7";
                                       else error = "no such host";
                                       return host == "node.example";
                                   },
                                   machine_, tunnel_};
};

TEST_P(Connect, StartsTheTunnelForTheChosenNodeOrFailsBeforeAnythingStarts) {
    const Case& row = GetParam();
    plane_.nodes = row.nodes;
    plane_.fetchOk = row.fetchOk;
    plane_.fetchError = row.fetchError;
    machine_.gatewayError = row.gatewayError;
    if (row.runtimeMissing) system_.runtimeDirectory = dir_.file("missing");
    std::string error;
    EXPECT_EQ(service::connectNode(system_, row.requested, {}, error), row.error.empty());
    EXPECT_EQ(error, row.error);
    if (!row.error.empty()) {
        EXPECT_EQ(machine_.first("launch"), machine_.events.size()) << "nothing started";
        return;
    }
    EXPECT_TRUE(machine_.routeExists("eth0", row.upstream, 32)) << "the host route to the node";
    const std::string config = dir_.read(service::kXrayConfigName);
    EXPECT_NE(config.find("\"" + row.upstream + "\""), std::string::npos) << "Xray goes where the host route leads";
    EXPECT_EQ(config.find("node.example"), std::string::npos);
    EXPECT_NE(machine_.events[machine_.first("launch xray")].find(dir_.file(service::kXrayConfigName)), std::string::npos);
}

const std::vector<vpn::NodeRecord> kTwo = {node("东京 1", "198.18.1.1"), node("大阪", "198.18.2.2")};

INSTANTIATE_TEST_SUITE_P(
    Table, Connect,
    ::testing::Values(
        Case{.name = "NamedNode", .nodes = kTwo, .requested = "大阪", .upstream = "198.18.2.2"},
        Case{.name = "HostNameResolvedOnce", .nodes = {node("n", "node.example")}, .upstream = "198.18.7.7"},
        Case{.name = "NodeNoLongerListed", .nodes = kTwo, .requested = "Tokyo", .error = "所选节点已不在节点列表中：Tokyo"},
        Case{.name = "AccountRefused", .nodes = kTwo, .error = "account expired", .fetchOk = false,
             .fetchError = "account expired"},
        Case{.name = "NotSignedIn", .nodes = kTwo, .error = "请先在Velora登录", .fetchOk = false},
        Case{.name = "NoNodes", .error = "没有可用节点"},
        Case{.name = "Unresolvable", .nodes = {node("n", "nowhere.invalid")},
             .error = "cannot resolve node address nowhere.invalid: no such host"},
        Case{.name = "Ipv6", .nodes = {node("n", "2001:db8::1")}, .error = "node address is not IPv4: 2001:db8::1"},
        Case{.name = "NoGateway", .nodes = kTwo, .error = "no gateway", .gatewayError = "no gateway"},
        Case{.name = "ConfigUnwritable", .nodes = kTwo, .error = "cannot write generated xray config",
             .runtimeMissing = true}),
    [](const ::testing::TestParamInfo<Case>& row) { return row.param.name; });

TEST(ChooseNode, ExactThenByRouteIdAndNeverAnother) {
    const std::vector<vpn::NodeRecord> nodes = {
        node("A", "1"), node("B", "2"), node("B", "3"), node(" C\t", "4"), node("\xE3\x80\x80香港\xC2\xA0", "5"),
        node("D", "6"), node(" D ", "7"), node("Tokyo\xE2\x80\x83", "9")};
    const auto chosen = [&](const std::string& name) {
        const vpn::NodeRecord* found = service::chooseNode(nodes, name);
        return found ? found->address : std::string("none");
    };
    EXPECT_EQ(chosen("B"), "3") << "the last of several";
    EXPECT_EQ(chosen(" C\t"), "4");
    // The client sends route ids: names trimmed of white space, also of wide spaces.
    EXPECT_EQ(chosen("C"), "4");
    EXPECT_EQ(chosen("香港"), "5");
    EXPECT_EQ(chosen("Tokyo"), "9") << "an em space is white space too";
    EXPECT_EQ(chosen("D"), "6") << "an exact name comes first";
    EXPECT_EQ(chosen(""), "1") << "no node named: the first";
    for (const char* missing : {"b", "nowhere", " "}) EXPECT_EQ(chosen(missing), "none") << missing;
}

TEST(Ipv4Literal, AcceptsOnlyFourDecimalOctetsAndAnEmptyAddressStaysEmpty) {
    std::string ipv4 = "stale", error;
    EXPECT_TRUE(service::upstreamIpv4("", nullptr, ipv4, error));
    EXPECT_EQ(ipv4, "");
    for (const char* good : {"0.0.0.0", "198.18.0.1", "255.255.255.255"}) EXPECT_TRUE(service::isIpv4Literal(good)) << good;
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4 ", " 1.2.3.4", "01.2.3.4", "1..3.4",
                            "1.2.3.", "a.b.c.d", "1.2.3.1234", "0x1.2.3.4", "::1"})
        EXPECT_FALSE(service::isIpv4Literal(bad)) << bad;
}

}  // namespace
