// The account fetch against the scripted panel: membership from getSubscribe, nodes from the
// subscription and from the server list, and replies a broken or different panel sends.
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/base64_encode.h"
#include "tests/support/xboard_fixture.h"

namespace {

using namespace orvik_test::panel;
using orvik_test::FakePanel;
using orvik_test::HttpReply;
using orvik_test::Json;

constexpr int64_t kEndOf2099 = 4102444799;  // 2099-12-31 23:59:59 UTC

class XboardAccountTest : public orvik_test::XboardTest {
protected:
    bool fetch(vpn::AccountRecord& account, std::string& error) { return signedIn()->fetchAccount(account, error); }
    void answerAccount(const Json& data) { panel.on("GET", kGetSubscribe, success(data)); }
    static std::vector<std::string> names(const vpn::AccountRecord& account) {
        std::vector<std::string> list;
        for (const auto& node : account.nodes) list.push_back(node.name);
        return list;
    }
};

TEST_F(XboardAccountTest, MemberGetsNodesFromTheSubscription) {
    answerAccount(member(kEndOf2099));
    vpn::AccountRecord account;
    std::string error;
    ASSERT_TRUE(fetch(account, error)) << error;
    EXPECT_TRUE(account.signedIn && account.hasPlan && !account.expired);
    EXPECT_EQ(account.deviceLimit, 3);
    EXPECT_EQ(account.email, FakePanel::kEmail);
    EXPECT_EQ(account.expiresAt, "2099-12-31");
    ASSERT_EQ(names(account), (std::vector<std::string>{"Tokyo A", "Singapore"}));  // sent as Tokyo+A
    const vpn::NodeRecord& tokyo = account.nodes[0];
    EXPECT_EQ(tokyo.address + ":" + std::to_string(tokyo.port) + " " + tokyo.uuid + " " + tokyo.publicKey,
              std::string("203.0.113.10:443 ") + kUuid + " hE2bQ7uM0xJ3vN9pK4sL8wR1tY6zC5aD2fG0hJ3kL6m");
    EXPECT_EQ(account.nodes[1].address + ":" + std::to_string(account.nodes[1].port), "2001:db8::1:8443");

    const auto requests = panel.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].header("authorization"), FakePanel::kSession);
    EXPECT_EQ(requests[0].header("auth_data"), FakePanel::kSession);
    EXPECT_EQ(requests[1].target, std::string(kSubscription) + "?token=" + kToken);
    EXPECT_EQ(requests[1].header("user-agent"), "v2rayN/6.45");  // asks for the general format
    EXPECT_FALSE(requests[1].hasHeader("authorization"));
}

TEST_F(XboardAccountTest, MembershipOfPanelVariants) {
    Json planWithFive = member(nullptr)["plan"];
    planWithFive["device_limit"] = 5;
    struct Case {
        Json changes;  // members of getSubscribe's data replaced
        const char* date;
        bool hasPlan, expired;
        int32_t deviceLimit;
    };
    const Case cases[] = {
        {{{"expired_at", 1704067199}}, "2023-12-31", true, true, 3},
        {{{"expired_at", kEndOf2099 * 1000 + 999}}, "2099-12-31", true, false, 3},  // milliseconds
        {{{"expired_at", "2099-12-31"}}, "2099-12-31", true, false, 3},            // ends 23:59:59 UTC
        {{{"expired_at", nullptr}}, "", true, false, 3},
        {{{"plan_id", nullptr}, {"expired_at", nullptr}, {"device_limit", nullptr}, {"plan", nullptr}}, "", false, false, 0},
        {{{"device_limit", nullptr}, {"plan", planWithFive}}, "", true, false, 5},
        {{{"device_limit", std::numeric_limits<int64_t>::max()}}, "", true, false, std::numeric_limits<int32_t>::max()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.changes.dump());
        Json data = member(nullptr);
        data.update(c.changes);
        answerAccount(data);
        vpn::AccountRecord account;
        std::string error;
        ASSERT_TRUE(fetch(account, error)) << error;
        EXPECT_EQ(account.expiresAt, c.date);
        EXPECT_EQ(account.hasPlan, c.hasPlan);
        EXPECT_EQ(account.expired, c.expired);
        EXPECT_EQ(account.deviceLimit, c.deviceLimit);
        // Without a running plan no subscription is asked for.
        const bool running = c.hasPlan && !c.expired;
        EXPECT_EQ(account.nodes.size(), running ? 2u : 0u);
        EXPECT_EQ(panel.requests().size(), running ? 2u : 1u);
    }
}

TEST_F(XboardAccountTest, ServerListStandsInWhenTheSubscriptionGivesNothing) {
    const auto item = [](const char* type, const char* name, const char* host, int port) {
        Json reality = {{"server_name", "www.apple.com"}, {"server_port", 443}, {"public_key", "key"}, {"short_id", "a1"}};
        return Json{{"id", 1}, {"type", type}, {"name", name}, {"host", host}, {"server_port", port},
                    {"protocol_settings", {{"flow", "xtls-rprx-vision"}, {"reality_settings", reality}}}};
    };
    panel.on("GET", kSubscription, HttpReply{404, "", {}});
    panel.on("GET", kServerList, plain(200, {{"data", {item("vless", "Tokyo", "203.0.113.10", 8443),
                                                       item("shadowsocks", "SS", "198.51.100.7", 8388),
                                                       item("", "Untyped", "198.51.100.9", 2053),
                                                       item("VLESS", "Upper", "198.51.100.10", 2083)}}}));
    vpn::AccountRecord account;
    std::string error;
    ASSERT_TRUE(fetch(account, error)) << error;
    EXPECT_EQ(names(account), (std::vector<std::string>{"Tokyo", "Untyped", "Upper"}));
    const vpn::NodeRecord& tokyo = account.nodes[0];  // the server's own port, not the REALITY target's
    EXPECT_EQ(std::to_string(tokyo.port) + " " + tokyo.publicKey + " " + tokyo.serverName + " " + tokyo.shortId + " " + tokyo.uuid,
              std::string("8443 key www.apple.com a1 ") + kUuid);
    EXPECT_EQ(panel.requestsTo(kServerList).at(0).header("authorization"), FakePanel::kSession);

    // The real panel's list carries no addresses; an empty list is the plan's server group.
    const std::pair<Json, const char*> refusals[] = {
        {Json{{"data", {{{"id", 1}, {"type", "vless"}, {"name", "Tokyo"}}}}}, "面板节点缺少地址，订阅里也没有可解析的 VLESS Reality"},
        {Json{{"data", Json::array()}}, "面板未下发可用节点，请确认节点已显示且套餐权限组一致"},
    };
    for (const auto& [list, text] : refusals) {
        panel.on("GET", kServerList, plain(200, list));
        EXPECT_FALSE(fetch(account, error));
        EXPECT_EQ(error, text);
    }
}

// The session outlives a 403: its owner decides what to do with it. Signed out, nothing is asked.
TEST_F(XboardAccountTest, ExpiredSessionIsThePanels403AndSignedOutAsksNothing) {
    panel.queue("GET", kGetSubscribe, fail(403, "未登录或登陆已过期"));
    auto cp = signedIn();
    vpn::AccountRecord account;
    std::string error;
    EXPECT_FALSE(cp->fetchAccount(account, error) || cp->token().empty());
    EXPECT_EQ(error, "面板 HTTP 403");
    cp->logout();
    panel.clearRequests();
    EXPECT_FALSE(cp->fetchAccount(account, error));
    EXPECT_EQ(error, "请先登录");
    EXPECT_TRUE(panel.requests().empty());
}

TEST_F(XboardAccountTest, SubscriptionAddressFromTheTokenOrElseThePanelsOwn) {
    Json data = member(nullptr);
    data["token"] = "a+b&c d";
    answerAccount(data);
    vpn::AccountRecord account;
    std::string error;
    ASSERT_TRUE(fetch(account, error)) << error;
    EXPECT_EQ(panel.requestsTo(kSubscription).at(0).query, "token=a%2Bb%26c%20d");

    // Without a token the panel's subscribe_url serves, but only a web address is fetched.
    data["token"] = "";
    for (const std::string& url : {panel.origin() + "/s/abc", std::string("file:///etc/passwd")}) {
        SCOPED_TRACE(url);
        data["subscribe_url"] = url;
        answerAccount(data);
        panel.on("GET", "/s/abc", subscription({vlessLink("Own", "203.0.113.10", 443)}));
        const bool web = url.rfind("http", 0) == 0;
        EXPECT_EQ(fetch(account, error), web);
        EXPECT_EQ(panel.paths(), (std::vector<std::string>{std::string("GET ") + kGetSubscribe,
                                                           web ? "GET /s/abc" : std::string("GET ") + kServerList}));
        EXPECT_EQ(panel.requests().at(1).header("user-agent"), web ? "v2rayN/6.45" : "Orvik/0.1");
    }
}

TEST_F(XboardAccountTest, BrokenAccountRepliesAreErrorsNotEmptyAccounts) {
    for (const std::string& body : {std::string("<html><body>502 Bad Gateway</body></html>"),
                                    std::string(R"({"status":"success","data":{"plan_id":1,"uuid":"3f1c)"),
                                    std::string(200000, '[') + std::string(200000, ']')}) {
        SCOPED_TRACE(body.substr(0, 40));
        panel.queue("GET", kGetSubscribe, HttpReply{200, body, {}});
        vpn::AccountRecord account;
        std::string error;
        EXPECT_FALSE(fetch(account, error));
        EXPECT_FALSE(error.empty());
    }
    // Deep nesting inside a valid reply costs no stack.
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    panel.queue("GET", kGetSubscribe, HttpReply{200, R"({"data":{"extra":)" + deep + R"(,"plan_id":null}})", {}});
    vpn::AccountRecord account;
    std::string error;
    fetch(account, error);
    EXPECT_FALSE(account.hasPlan);
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
        panel.queue("GET", kSubscription, HttpReply{200, body, {}});
        vpn::AccountRecord account;
        std::string error;
        fetch(account, error);
        EXPECT_EQ(panel.requestsTo(kServerList).size(), account.nodes.empty() ? 1u : 0u);
    }
}

}  // namespace
