// The fake panel answers in the real panel's shapes, which the client's tests rely on:
// envelopes, status codes, the subscription's format by user agent, checkout without envelope.
#include <string>

#include <gtest/gtest.h>

#include "tests/support/fake_panel.h"
#include "vpn/base64.h"
#include "vpn/http.h"

namespace {

using orvik_test::FakePanel;
using orvik_test::FakePanelState;
using orvik_test::Json;

struct Answer {
    bool ok = false;
    std::string error;
    Json body;
    std::string raw;
};

Answer ask(const FakePanel& panel, const std::string& method, const std::string& target,
           const std::string& token = {}, const std::string& body = {}, const std::string& agent = {}) {
    Answer answer;
    answer.ok = vpn::httpRequest(method, panel.apiBase() + target, token, body, "application/json", answer.raw,
                                 answer.error, agent);
    answer.body = Json::parse(answer.raw, nullptr, false);
    return answer;
}

TEST(FakePanelTest, EnvelopesAndRefusalsLookLikeThePanels) {
    FakePanel panel;
    const Answer anonymous = ask(panel, "GET", "/api/v1/user/getSubscribe");
    EXPECT_EQ(anonymous.error, "面板 HTTP 403");
    EXPECT_EQ(anonymous.raw, R"({"status":"fail","message":"未登录或登陆已过期","data":null,"error":null})");

    const std::string session = panel.openSession(FakePanel::kEmail);
    const Answer plans = ask(panel, "GET", "/api/v1/user/plan/fetch", session);
    ASSERT_TRUE(plans.ok) << plans.error;
    EXPECT_EQ(plans.body["status"], "success");
    EXPECT_EQ(plans.body["message"], "操作成功");
    EXPECT_TRUE(plans.body["error"].is_null());
    EXPECT_TRUE(plans.body["data"][0]["quarter_price"].is_null());

    const Answer invalid = ask(panel, "POST", "/api/v1/passport/auth/login", {}, R"({"email":"x"})");
    EXPECT_EQ(invalid.error, "面板 HTTP 422");
    EXPECT_EQ(invalid.body["errors"]["email"][0], "邮箱格式不正确");

    const Answer servers = ask(panel, "GET", "/api/v1/user/server/fetch", session);
    ASSERT_TRUE(servers.ok) << servers.error;
    EXPECT_FALSE(servers.body.contains("status"));
    EXPECT_FALSE(servers.body["data"][0].contains("host"));
}

TEST(FakePanelTest, SubscriptionFormatFollowsTheUserAgentAndTheAccount) {
    FakePanel panel;
    const std::string target = "/api/v1/client/subscribe?token=9b1f2c3d4e5f60718293a4b5c6d7e8f9";
    const Answer general = ask(panel, "GET", target, {}, {}, "v2rayN/6.45");
    ASSERT_TRUE(general.ok) << general.error;
    std::string links;
    ASSERT_TRUE(vpn::base64Decode(general.raw, links));
    EXPECT_EQ(links.rfind("vless://3f1c0b9e-6a52-4d1e-9b7a-2c5e8f0a1d44@203.0.113.10:443?mode=multi&security=reality", 0), 0u);
    EXPECT_NE(links.find("#Tokyo+A\r\nvless://"), std::string::npos);
    EXPECT_NE(links.find("@[2001:db8::1]:8443?"), std::string::npos);

    const Answer clash = ask(panel, "GET", target, {}, {}, "clash.meta");
    EXPECT_EQ(clash.raw.rfind("mixed-port:", 0), 0u);

    panel.edit([](FakePanelState& state) { state.users.front().expiredAt = 1; });
    const Answer expired = ask(panel, "GET", target, {}, {}, "v2rayN/6.45");
    EXPECT_EQ(expired.error, "面板 HTTP 403");
    EXPECT_TRUE(expired.raw.empty());
}

TEST(FakePanelTest, CheckoutHasNoEnvelope) {
    FakePanel panel;
    const std::string session = panel.openSession(FakePanel::kEmail);
    const Answer saved = ask(panel, "POST", "/api/v1/user/order/save", session, R"({"plan_id":1,"period":"month_price"})");
    ASSERT_TRUE(saved.ok) << saved.error;
    const std::string tradeNo = saved.body["data"].get<std::string>();
    const Answer checkout = ask(panel, "POST", "/api/v1/user/order/checkout", session,
                                R"({"trade_no":")" + tradeNo + R"(","method":1})");
    ASSERT_TRUE(checkout.ok) << checkout.error;
    EXPECT_EQ(checkout.body.size(), 2u);
    EXPECT_EQ(checkout.body["type"], 1);
    EXPECT_TRUE(checkout.body["data"].is_string());
}

}  // namespace
