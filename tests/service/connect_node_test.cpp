// The "connect" op's preparation: node list, node choice, the node's address as IPv4, the
// gateway, the Xray configuration and the tunnel start, over the local account files and the
// fake machine (no process is started and no route touched).
#include "tests/service/service_fixture.h"
#include "tests/support/fake_panel.h"
#include "tests/support/process_probe.h"

namespace {

// What a connect starts from, and its outcome: the error text (empty: the tunnel runs) and
// the node address the host route and Xray were given.
struct Case {
    const char* name = {};
    std::string address = "198.18.2.2";  // of the account's one node, "lab"
    std::string requested = {};
    std::string error = {};
    std::string upstream = {};
    bool signedIn = true;
    bool configBlocked = false;  // a folder where the Xray configuration goes
};

class Connect : public service_test::LocalConnect, public ::testing::TestWithParam<Case> {};

TEST_P(Connect, StartsTheTunnelForTheChosenNodeOrFailsBeforeAnythingStarts) {
    const Case& row = GetParam();
    writeAccount(row.address, row.signedIn);
    if (row.configBlocked) runtime.write(std::string(service::kXrayConfigName) + "/x", "");
    std::string error;
    EXPECT_EQ(service::connectNode(system, row.requested, {}, {}, error), row.error.empty());
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

// The account's own rules (expiry and the like) belong to the control plane's tests.
INSTANTIATE_TEST_SUITE_P(
    Table, Connect,
    ::testing::Values(
        Case{.name = "NamedNode", .requested = "lab", .upstream = "198.18.2.2"},
        Case{.name = "HostNameResolvedOnce", .address = "node.example", .upstream = "198.18.7.7"},
        Case{.name = "NodeNoLongerListed", .requested = "Tokyo", .error = "所选节点已不在节点列表中：Tokyo"},
        Case{.name = "NotSignedIn", .error = "not logged in", .signedIn = false},
        Case{.name = "Unresolvable", .address = "nowhere.invalid",
             .error = "cannot resolve node address nowhere.invalid: no such host"},
        Case{.name = "Ipv6", .address = "2001:db8::1", .error = "node address is not IPv4: 2001:db8::1"},
        Case{.name = "ConfigUnwritable", .error = "cannot write generated xray config", .configBlocked = true}),
    [](const ::testing::TestParamInfo<Case>& row) { return row.param.name; });

}  // namespace

// Two users of the machine (known by name only, so both read this process's session file).
const service::Caller kOwner{false, 0, 0, "uid 1000", false}, kOther{false, 0, 0, "uid 1001", false};

// How the tunnel is lost, and whether the kill switch is on: the firewall comes before the
// tunnel, a switch never lifts it, and after a loss it stays exactly while the kill switch is
// on, also for the next service, until the user who set it (no other) disconnects.
struct Loss {
    const char* name = {};
    bool killSwitch = false;
    std::function<void(service_test::LocalConnect&)> lose;
};

class TunnelLoss : public service_test::LocalConnect, public ::testing::TestWithParam<Loss> {};

TEST_P(TunnelLoss, TheFirewallStaysExactlyWhileTheKillSwitchHoldsIt) {
    const Loss& row = GetParam();
    writeAccount("198.18.2.2");
    std::string error;
    ASSERT_TRUE(engine.connect("lab", {row.killSwitch, false}, kOwner, error)) << error;
    EXPECT_LT(machine.first("firewall on"), machine.first("launch")) << "the firewall comes first";
    EXPECT_FALSE(machine.firewallPolicy.allowLan);
    ASSERT_TRUE(engine.connect("lab", {row.killSwitch, false}, kOwner, error)) << error;
    EXPECT_EQ(machine.first("firewall off"), machine.events.size()) << "a switch keeps blocking";

    row.lose(*this);
    EXPECT_FALSE(engine.running());
    EXPECT_EQ(machine.firewallUp, row.killSwitch);
    EXPECT_EQ(engine.blocked(), row.killSwitch);
    tunnel::LeakGuard next{machine, runtime.file("kill-switch.json"), [](const std::string&) {}};
    next.reconcile(true);
    EXPECT_EQ(next.blocking(), row.killSwitch) << "the next service";
    EXPECT_EQ(next.blockOwner(), row.killSwitch ? std::optional<std::string>("uid 1000") : std::nullopt);
    EXPECT_EQ(engine.disconnect(kOther, error), !row.killSwitch) << "another user lifted the block";
    EXPECT_EQ(machine.firewallUp, row.killSwitch);
    ASSERT_TRUE(engine.disconnect(kOwner, error)) << error;
    EXPECT_FALSE(machine.firewallUp);
    EXPECT_FALSE(engine.blocked());
    EXPECT_FALSE(runtime.exists(service::kXrayConfigName)) << "the user's credentials outlived the tunnel";
    EXPECT_FALSE(runtime.exists("kill-switch.json"));
}

// Xray dies and cannot be started again: the supervisor gives the tunnel up after its tries.
const auto kToolDies = [](service_test::LocalConnect& c) {
    c.machine.failingLaunches.insert("xray");
    c.machine.exit("xray");
    for (int i = 0; i < 500 && c.engine.state().phase != "failed"; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_NE(c.engine.state().reason.find("CreateProcess failed"), std::string::npos) << c.engine.state().reason;
};
const auto kSwitchFails = [](service_test::LocalConnect& c) {
    c.machine.failingRoute = "0.0.0.0";
    std::string error;
    EXPECT_FALSE(c.engine.connect("lab", {c.machine.firewallPolicy.killSwitch, false}, kOwner, error));
};
const auto kServiceEnds = [](service_test::LocalConnect& c) { c.engine.stop(); };

INSTANTIATE_TEST_SUITE_P(Table, TunnelLoss,
                         ::testing::Values(Loss{"ToolDies", false, kToolDies}, Loss{"ToolDiesKillSwitch", true, kToolDies},
                                           Loss{"SwitchFails", false, kSwitchFails},
                                           Loss{"SwitchFailsKillSwitch", true, kSwitchFails},
                                           Loss{"ServiceEnds", false, kServiceEnds},
                                           Loss{"ServiceEndsKillSwitch", true, kServiceEnds}),
                         [](const ::testing::TestParamInfo<Loss>& row) { return row.param.name; });

// A panel that never answers holds up nobody else: while a connect waits for it, another
// user's disconnect is carried out and leaves that fetch alone; the connecting user's
// disconnect ends it at once, and a fetch gives up by itself at its limit.
class SlowPanel : public service_test::LocalConnect, public ::testing::Test {
protected:
    void SetUp() override {
        panel.on("GET", orvik_test::panel::kGetSubscribe, orvik_test::HttpReply{.neverAnswer = true});
        runtime.write("panel.json", "{\"apiBase\":\"" + panel.apiBase() + "/\"}");
        runtime.write(orvik_test::sessionFile(), std::string("{\"email\":\"") + orvik_test::FakePanel::kEmail +
                                                     "\",\"auth_data\":\"" + orvik_test::FakePanel::kSession + "\"}\n");
    }
    bool asked() const { return !panel.requestsTo(orvik_test::panel::kGetSubscribe).empty(); }
    orvik_test::FakePanel panel;
};

TEST_F(SlowPanel, AWaitingConnectHoldsUpNoOneAndEndsOnItsUsersDisconnectOrAtItsLimit) {
    using namespace std::chrono_literals;
    std::string error;
    auto pending = std::async(std::launch::async, [this] {
        std::string text;
        engine.connect("", {}, kOwner, text);
        return text;
    });
    ASSERT_TRUE(orvik_test::waitUntil([this] { return asked(); }));
    EXPECT_TRUE(engine.disconnect(kOther, error)) << error;
    EXPECT_EQ(pending.wait_for(300ms), std::future_status::timeout) << "another user's disconnect ended the fetch";
    EXPECT_TRUE(engine.disconnect(kOwner, error)) << error;
    // Under wine a cancelled WinHTTP wait ends only at its own time-out (see the transport's test).
    ASSERT_EQ(pending.wait_for(orvik_test::underWine() ? 13s : 3s), std::future_status::ready);
    EXPECT_EQ(pending.get(), service::kConnectCancelledText);

    service::TunnelEngine limited{system, 300};
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(limited.connect("", {}, kOwner, error));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s) << error;
    EXPECT_EQ(machine.first("launch"), machine.events.size());
}
