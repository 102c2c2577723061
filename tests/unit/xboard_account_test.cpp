// The account fetch against the fake panel over HTTP: membership, expiry forms, nodes from
// the subscription and from the server list, and replies a broken panel might send.
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/xboard_fixture.h"

namespace {

using orvik_test::FakePanel;
using orvik_test::FakePanelState;
using orvik_test::FakeServer;
using orvik_test::HttpReply;
using orvik_test::Json;

constexpr const char* kGetSubscribe = "/api/v1/user/getSubscribe";
constexpr const char* kSubscription = "/api/v1/client/subscribe";
constexpr const char* kServerList = "/api/v1/user/server/fetch";
constexpr int64_t kEndOf2099 = 4102444799;  // 2099-12-31 23:59:59 UTC

class XboardAccountTest : public orvik_test::XboardTest {
protected:
    void setMember(const std::function<void(orvik_test::FakeUser&)>& change) {
        panel.edit([&](FakePanelState& state) { change(*state.user(FakePanel::kEmail)); });
    }

    std::string memberUuid() {
        return panel.read<std::string>([](const FakePanelState& state) { return state.users.front().uuid; });
    }

    // Fetches with a signed-in client, counting only the fetch's own requests.
    bool fetch(vpn::AccountRecord& account, std::string& error, const std::string& apiBase = {}) {
        auto cp = signedIn();
        if (!apiBase.empty()) cp = std::make_unique<vpn::XboardControlPlane>(apiBase, sessionPath(), "");
        panel.clearRequests();
        return cp->fetchAccount(account, error);
    }

    static std::vector<std::string> names(const vpn::AccountRecord& account) {
        std::vector<std::string> list;
        for (const auto& node : account.nodes) list.push_back(node.name);
        return list;
    }
};

TEST_F(XboardAccountTest, MemberGetsNodesFromTheSubscription) {
    setMember([](orvik_test::FakeUser& user) { user.expiredAt = kEndOf2099; });
    vpn::AccountRecord account;
    std::string error;
    ASSERT_TRUE(fetch(account, error)) << error;

    EXPECT_TRUE(account.signedIn);
    EXPECT_TRUE(account.hasPlan);
    EXPECT_FALSE(account.expired);
    EXPECT_EQ(account.deviceLimit, 3);
    EXPECT_EQ(account.usedDevices, 0);
    EXPECT_EQ(account.email, FakePanel::kEmail);
    EXPECT_EQ(account.expiresAt, "2099-12-31");
    ASSERT_EQ(account.nodes.size(), 2u);
    const vpn::NodeRecord& tokyo = account.nodes[0];
    EXPECT_EQ(tokyo.name, "Tokyo A");  // sent as Tokyo+A
    EXPECT_EQ(tokyo.address, "203.0.113.10");
    EXPECT_EQ(tokyo.port, 443);
    EXPECT_EQ(tokyo.uuid, memberUuid());
    EXPECT_EQ(tokyo.flow, "xtls-rprx-vision");
    EXPECT_EQ(tokyo.serverName, "www.microsoft.com");
    EXPECT_EQ(tokyo.fingerprint, "chrome");
    EXPECT_EQ(tokyo.publicKey, "hE2bQ7uM0xJ3vN9pK4sL8wR1tY6zC5aD2fG0hJ3kL6m");
    EXPECT_EQ(tokyo.shortId, "6ba85179e30d4fc2");
    EXPECT_EQ(account.nodes[1].address, "2001:db8::1");
    EXPECT_EQ(account.nodes[1].port, 8443);

    const auto requests = panel.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].target, kGetSubscribe);
    EXPECT_EQ(requests[0].header("authorization"), requests[0].header("auth_data"));
    EXPECT_EQ(requests[0].header("authorization").rfind("Bearer ", 0), 0u);
    EXPECT_EQ(requests[1].target, std::string(kSubscription) + "?token=9b1f2c3d4e5f60718293a4b5c6d7e8f9");
    EXPECT_EQ(requests[1].header("user-agent"), "v2rayN/6.45");
    EXPECT_FALSE(requests[1].hasHeader("authorization"));
    EXPECT_FALSE(requests[1].hasHeader("auth_data"));
}

TEST_F(XboardAccountTest, AccountWithoutPlanIsSignedInWithoutNodes) {
    setMember([](orvik_test::FakeUser& user) {
        user.planId = nullptr;
        user.expiredAt = nullptr;
        user.deviceLimit = nullptr;
    });
    vpn::AccountRecord account;
    std::string error;
    ASSERT_TRUE(fetch(account, error)) << error;
    EXPECT_TRUE(account.signedIn);
    EXPECT_FALSE(account.hasPlan);
    EXPECT_FALSE(account.expired);
    EXPECT_TRUE(account.expiresAt.empty());
    EXPECT_TRUE(account.nodes.empty());
    EXPECT_EQ(panel.paths(), std::vector<std::string>{std::string("GET ") + kGetSubscribe});
}

TEST_F(XboardAccountTest, ExpiryFormsOfPanelVariants) {
    struct Case {
        Json expiredAt;
        const char* date;
        bool expired;
    };
    const Case cases[] = {
        {Json(1704067199), "2023-12-31", true},
        {Json(kEndOf2099 * 1000 + 999), "2099-12-31", false},  // milliseconds
        {Json("2099-12-31"), "2099-12-31", false},              // ends 23:59:59 UTC that day
        {Json("2020-02-29"), "2020-02-29", true},
        {Json(nullptr), "", false},
        {Json(0), "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expiredAt.dump());
        setMember([&](orvik_test::FakeUser& user) { user.expiredAt = c.expiredAt; });
        vpn::AccountRecord account;
        std::string error;
        ASSERT_TRUE(fetch(account, error)) << error;
        EXPECT_EQ(account.expiresAt, c.date);
        EXPECT_EQ(account.expired, c.expired);
        // An expired plan asks for no subscription; a running one gets its nodes.
        EXPECT_EQ(account.nodes.size(), c.expired ? 0u : 2u);
        EXPECT_EQ(panel.requestsTo(kSubscription).size(), c.expired ? 0u : 1u);
    }
}

TEST_F(XboardAccountTest, InformationalEntriesAndOtherProtocolsAreNotNodes) {
    panel.edit([](FakePanelState& state) {
        state.switches.pseudoNodes = true;
        state.servers.push_back({3, "shadowsocks", "SS Hong Kong", "198.51.100.7", 8388});
        state.servers.push_back({4, "vmess", "VMess Seoul", "198.51.100.8", 10086});
    });
    vpn::AccountRecord account;
    std::string error;
    ASSERT_TRUE(fetch(account, error)) << error;
    EXPECT_EQ(names(account), (std::vector<std::string>{"Tokyo A", "Singapore"}));
    EXPECT_TRUE(panel.requestsTo(kServerList).empty());
}

TEST_F(XboardAccountTest, DeviceLimitFallsBackToThePlansAndStaysInRange) {
    setMember([](orvik_test::FakeUser& user) { user.deviceLimit = nullptr; });
    panel.edit([](FakePanelState& state) { state.plan(1)->deviceLimit = 5; });
    vpn::AccountRecord account;
    std::string error;
    ASSERT_TRUE(fetch(account, error)) << error;
    EXPECT_EQ(account.deviceLimit, 5);

    setMember([](orvik_test::FakeUser& user) { user.deviceLimit = std::numeric_limits<int64_t>::max(); });
    ASSERT_TRUE(fetch(account, error)) << error;
    EXPECT_EQ(account.deviceLimit, std::numeric_limits<int32_t>::max());
}

TEST_F(XboardAccountTest, ServerListStandsInWhenTheSubscriptionIsOff) {
    panel.edit([](FakePanelState& state) {
        state.switches.subscriptionDisabled = true;
        state.switches.serverListWithConnectionDetails = true;
        state.servers.push_back({3, "shadowsocks", "SS Hong Kong", "198.51.100.7", 8388, "k", "s", "x.example"});
        state.servers.push_back({4, "", "Untyped", "198.51.100.9", 2053, "untyped-key", "0a", "y.example"});
        state.servers.push_back({5, "VLESS", "Upper", "198.51.100.10", 2083, "upper-key", "0b", "z.example"});
    });
    vpn::AccountRecord account;
    std::string error;
    ASSERT_TRUE(fetch(account, error)) << error;
    EXPECT_EQ(names(account), (std::vector<std::string>{"Tokyo A", "Singapore", "Untyped", "Upper"}));
    const vpn::NodeRecord& singapore = account.nodes[1];
    EXPECT_EQ(singapore.port, 8443);  // the server's own port, not the REALITY target's
    EXPECT_EQ(singapore.publicKey, "Qm9vc3RlZEtleUZvclNpbmdhcG9yZU5vZGVYWFhYWFg");
    EXPECT_EQ(singapore.serverName, "www.apple.com");
    EXPECT_EQ(singapore.shortId, "a1");
    EXPECT_EQ(singapore.uuid, memberUuid());

    const auto listed = panel.requestsTo(kServerList);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_FALSE(listed[0].header("authorization").empty());
}

TEST_F(XboardAccountTest, ServerListWithoutConnectionDetailsIsExplained) {
    panel.edit([](FakePanelState& state) { state.switches.subscriptionDisabled = true; });
    vpn::AccountRecord account;
    std::string error;
    EXPECT_FALSE(fetch(account, error));
    EXPECT_EQ(error, "面板节点缺少地址，订阅里也没有可解析的 VLESS Reality");

    panel.edit([](FakePanelState& state) {
        state.switches.subscriptionDisabled = false;
        for (FakeServer& server : state.servers) server.show = false;
    });
    error.clear();
    EXPECT_FALSE(fetch(account, error));
    EXPECT_EQ(error, "面板未下发可用节点，请确认节点已显示且套餐权限组一致");
}

TEST_F(XboardAccountTest, ExpiredSessionIsThePanels403) {
    auto cp = signedIn();
    panel.edit([](FakePanelState& state) { state.sessions.clear(); });
    vpn::AccountRecord account;
    std::string error;
    EXPECT_FALSE(cp->fetchAccount(account, error));
    EXPECT_EQ(error, "面板 HTTP 403");
    EXPECT_FALSE(cp->token().empty());  // the owner decides what to do with the session

    vpn::XboardControlPlane signedOut(panel.apiBase(), dir.file("none.json"), "");
    panel.clearRequests();
    EXPECT_FALSE(signedOut.fetchAccount(account, error));
    EXPECT_EQ(error, "请先登录");
    EXPECT_TRUE(panel.requests().empty());
}

TEST_F(XboardAccountTest, AddressesAreBuiltOnTheBaseWithoutItsTrailingSlash) {
    vpn::AccountRecord account;
    std::string error;
    ASSERT_TRUE(fetch(account, error, panel.apiBase() + "/")) << error;
    EXPECT_EQ(panel.paths(), (std::vector<std::string>{
                                 std::string("GET ") + kGetSubscribe,
                                 std::string("GET ") + kSubscription + "?token=9b1f2c3d4e5f60718293a4b5c6d7e8f9"}));
}

TEST_F(XboardAccountTest, SubscriptionTokenIsEncodedInTheAddress) {
    panel.edit([](FakePanelState& state) { state.users.front().subscriptionToken = "a+b&c d"; });
    vpn::AccountRecord account;
    std::string error;
    ASSERT_TRUE(fetch(account, error)) << error;
    EXPECT_EQ(account.nodes.size(), 2u);
    EXPECT_EQ(panel.requestsTo(kSubscription).at(0).query, "token=a%2Bb%26c%20d");
}

TEST_F(XboardAccountTest, PanelsOwnSubscriptionAddressServesWhenThereIsNoToken) {
    const auto replyWith = [&](const std::string& url) {
        Json data = Json::object();
        data["plan_id"] = 1;
        data["token"] = "";
        data["uuid"] = memberUuid();
        data["subscribe_url"] = url;
        Json body = Json::object();
        body["data"] = data;
        return HttpReply{200, body.dump(), {}, false, -1};
    };
    panel.overrideNext(kGetSubscribe, replyWith(panel.apiBase() + "/s/9b1f2c3d4e5f60718293a4b5c6d7e8f9"));
    vpn::AccountRecord account;
    std::string error;
    ASSERT_TRUE(fetch(account, error)) << error;
    EXPECT_EQ(account.nodes.size(), 2u);
    const auto fetched = panel.requestsTo("/s/9b1f2c3d4e5f60718293a4b5c6d7e8f9");
    ASSERT_EQ(fetched.size(), 1u);
    EXPECT_EQ(fetched[0].header("user-agent"), "v2rayN/6.45");

    // Only web addresses are fetched; anything else goes straight to the server list.
    panel.overrideNext(kGetSubscribe, replyWith("file:///etc/passwd"));
    EXPECT_FALSE(fetch(account, error));
    EXPECT_EQ(panel.paths(), (std::vector<std::string>{std::string("GET ") + kGetSubscribe,
                                                       std::string("GET ") + kServerList}));
}

TEST_F(XboardAccountTest, BrokenAccountRepliesAreErrorsNotEmptyAccounts) {
    const std::string bodies[] = {
        "<html><body>502 Bad Gateway</body></html>",
        R"({"status":"success","data":{"plan_id":1,"uuid":"3f1c)",
        std::string(200000, '[') + std::string(200000, ']'),
    };
    for (const std::string& body : bodies) {
        SCOPED_TRACE(body.substr(0, 40));
        panel.overrideNext(kGetSubscribe, HttpReply{200, body, {}, false, -1});
        vpn::AccountRecord account;
        std::string error;
        EXPECT_FALSE(fetch(account, error));
        EXPECT_FALSE(error.empty());
    }
}

TEST_F(XboardAccountTest, DeeplyNestedReplyDoesNotExhaustTheStack) {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    panel.overrideNext(kGetSubscribe,
                       HttpReply{200, R"({"data":{"extra":)" + deep + R"(,"plan_id":null,"email":"deep@example.com"}})",
                                 {}, false, -1});
    vpn::AccountRecord account;
    std::string error;
    fetch(account, error);
    EXPECT_FALSE(account.hasPlan);
    EXPECT_TRUE(account.nodes.empty());
}

TEST_F(XboardAccountTest, BrokenSubscriptionsLeadToTheServerList) {
    const std::string bodies[] = {
        "%%% not base64 %%%",
        std::string(8 << 20, 'A'),  // valid Base64 of 6 MB of zero bytes
        "vless://" + std::string(1 << 20, 'x') + "@h:1?pbk=k",
        "dmxlc3M6Ly9hQGI6NDQzP3Bia=",  // cut short
    };
    for (const std::string& body : bodies) {
        SCOPED_TRACE(body.substr(0, 40));
        panel.overrideNext(kSubscription, HttpReply{200, body, {}, false, -1});
        vpn::AccountRecord account;
        std::string error;
        fetch(account, error);
        EXPECT_EQ(panel.requestsTo(kServerList).size(), account.nodes.empty() ? 1u : 0u);
    }
}

TEST_F(XboardAccountTest, OutOfRangePortsDoNotOverflow) {
    const std::string links = "vless://u@198.51.100.1:70000?pbk=k#Wide\r\n"
                              "vless://u@198.51.100.2:99999999999999999999?pbk=k#Huge\r\n"
                              "vless://u@198.51.100.3:443?pbk=k#Fine\r\n";
    panel.overrideNext(kSubscription, HttpReply{200, links, {}, false, -1});
    vpn::AccountRecord account;
    std::string error;
    ASSERT_TRUE(fetch(account, error)) << error;
    for (const auto& node : account.nodes) EXPECT_GE(node.port, 1) << node.name;
    ASSERT_FALSE(account.nodes.empty());
    EXPECT_EQ(account.nodes.back().name, "Fine");
}

}  // namespace
