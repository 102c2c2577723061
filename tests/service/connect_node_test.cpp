// The "connect" op's preparation: node list, node choice, the node's address as IPv4, the
// gateway, the Xray configuration and the tunnel start, over the local account files and the
// fake machine (no process is started and no route touched).
#include "tests/service/service_fixture.h"
#include "tests/support/session_file.h"

namespace {

// What a connect starts from, and its outcome: the error text (empty: the tunnel runs) and
// the node address the host route and Xray were given.
struct Case {
    const char* name = {};
    std::string address = {};  // of the account's one node, "lab"
    std::string requested = {};
    std::string error = {};
    std::string upstream = {};
    std::string expireAt = "2099-12-31";
    bool signedIn = true;
    std::string gatewayError = {};
    bool configBlocked = false;  // a folder where the Xray configuration goes
};

class Connect : public service_test::LocalConnect, public ::testing::TestWithParam<Case> {};

TEST_P(Connect, StartsTheTunnelForTheChosenNodeOrFailsBeforeAnythingStarts) {
    const Case& row = GetParam();
    runtime.write("account.json", service_test::localAccount(row.address, row.expireAt));
    if (row.signedIn) runtime.write(orvik_test::sessionFile(), service_test::kSession);
    if (row.configBlocked) runtime.write(std::string(service::kXrayConfigName) + "/x", "");
    machine.gatewayError = row.gatewayError;
    std::string error;
    EXPECT_EQ(service::connectNode(system, row.requested, {}, error), row.error.empty());
    EXPECT_EQ(error, row.error);
    if (!row.error.empty()) {
        EXPECT_EQ(machine.first("launch"), machine.events.size()) << "nothing started";
        return;
    }
    EXPECT_TRUE(machine.routeExists("eth0", row.upstream, 32)) << "the host route to the node";
    const std::string config = runtime.read(service::kXrayConfigName);
    EXPECT_NE(config.find("\"" + row.upstream + "\""), std::string::npos) << "Xray goes where the host route leads";
    EXPECT_EQ(config.find("node.example"), std::string::npos);
    EXPECT_NE(machine.events[machine.first("launch xray")].find(runtime.file(service::kXrayConfigName)),
              std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Connect,
    ::testing::Values(
        Case{.name = "NamedNode", .address = "198.18.2.2", .requested = "lab", .upstream = "198.18.2.2"},
        Case{.name = "HostNameResolvedOnce", .address = "node.example", .upstream = "198.18.7.7"},
        Case{.name = "NodeNoLongerListed", .address = "198.18.2.2", .requested = "Tokyo",
             .error = "所选节点已不在节点列表中：Tokyo"},
        Case{.name = "AccountExpired", .address = "198.18.2.2", .error = "account expired", .expireAt = "2000-01-01"},
        Case{.name = "NotSignedIn", .address = "198.18.2.2", .error = "not logged in", .signedIn = false},
        Case{.name = "Unresolvable", .address = "nowhere.invalid",
             .error = "cannot resolve node address nowhere.invalid: no such host"},
        Case{.name = "Ipv6", .address = "2001:db8::1", .error = "node address is not IPv4: 2001:db8::1"},
        Case{.name = "NoGateway", .address = "198.18.2.2", .error = "no gateway", .gatewayError = "no gateway"},
        Case{.name = "ConfigUnwritable", .address = "198.18.2.2", .error = "cannot write generated xray config",
             .configBlocked = true}),
    [](const ::testing::TestParamInfo<Case>& row) { return row.param.name; });

TEST(ChooseNode, ExactThenByRouteIdAndNeverAnother) {
    std::vector<vpn::NodeRecord> nodes;
    for (const char* name : {"A", "B", "B", " C\t", "\xE3\x80\x80香港\xC2\xA0", "D", " D ", "Tokyo\xE2\x80\x83"}) {
        nodes.emplace_back().name = name;
        nodes.back().address = std::to_string(nodes.size() - 1);
    }
    const auto chosen = [&](const std::string& name) {
        const vpn::NodeRecord* found = service::chooseNode(nodes, name);
        return found ? found->address : std::string("none");
    };
    EXPECT_EQ(chosen("B"), "2") << "the last of several";
    EXPECT_EQ(chosen(" C\t"), "3");
    // The client sends route ids: names trimmed of white space, also of wide spaces.
    EXPECT_EQ(chosen("C"), "3");
    EXPECT_EQ(chosen("香港"), "4");
    EXPECT_EQ(chosen("Tokyo"), "7") << "an em space is white space too";
    EXPECT_EQ(chosen("D"), "5") << "an exact name comes first";
    EXPECT_EQ(chosen(""), "0") << "no node named: the first";
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
