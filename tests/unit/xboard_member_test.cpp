// The member's side of the scripted panel: signing in and registering (bodies on the wire,
// where panel variants put the token, the texts of refusals), the session file, and the
// account fetch with membership, nodes from the subscription or the server list, and the
// replies a broken or different panel sends.
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/xboard_fixture.h"

namespace {

using namespace orvik_test::panel;
using orvik_test::FakePanel;
using orvik_test::HttpReply;
using orvik_test::Json;

std::string sessionFileOf(const std::string& email, const std::string& token) {
    return Json{{"email", email}, {"auth_data", token}}.dump() + "\n";
}

constexpr int64_t kEndOf2099 = 4102444799;  // 2099-12-31 23:59:59 UTC

class XboardMemberTest : public orvik_test::XboardTest {
protected:
    // The account a signed-in client fetches; `error` keeps the fetch's error text.
    vpn::AccountRecord fetched(bool succeeds = true) {
        vpn::AccountRecord account;
        error.clear();
        EXPECT_EQ(signedIn()->fetchAccount(account, error), succeeds) << error;
        return account;
    }
    void answerAccount(const Json& data) { panel.on("GET", kGetSubscribe, success(data)); }
    static std::vector<std::string> names(const vpn::AccountRecord& account) {
        std::vector<std::string> list;
        for (const auto& node : account.nodes) list.push_back(node.name);
        return list;
    }
};

// Where panel variants put the token, and the panel's words when it refuses both the JSON and
// the form attempt; a refusal drops the session. A panel that refuses the JSON body gets the
// same sign-in as a form, and the session is kept, not the reply's "token" (the subscription's).
TEST_F(XboardMemberTest, LoginReplies) {
    const struct {
        HttpReply reply;
        std::string token, error;  // error empty: signed in
        size_t attempts = 1;
    } cases[] = {
        {plain(200, {{"token", "top-level"}}), "top-level", ""},
        {plain(200, {{"data", {{"token", "in-data"}}}, {"auth_data", "top-auth"}}), "in-data", ""},
        {plain(200, {{"data", {{"is_admin", false}}}, {"token", "top"}}), "top", ""},
        {plain(200, {{"data", {{"token", "sub"}, {"auth_data", "Bearer x\"y\\z"}}}}), "Bearer x\"y\\z", ""},
        {fail(422, "The email field is required."), FakePanel::kSession, "", 2},  // the form is answered
        {fail(429, "密码错误次数过多，请 60 分钟后再试"), "", "密码错误次数过多，请 60 分钟后再试", 2},
        {HttpReply{500, "", {}}, "", "面板 HTTP 500", 2},
        {plain(200, {{"data", {{"is_admin", false}}}}), "", "登录失败，请检查邮箱密码或面板地址", 2},
    };
    const std::string email = "qu\"ote\\@example.com";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply.body);
        auto cp = signedIn();
        panel.queue("POST", kLogin, c.reply, c.error.empty() ? 1 : 2);
        error.clear();
        EXPECT_EQ(cp->login(email, "q\"u\\o te+&=%1\t", error), c.error.empty());
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(cp->token(), c.token);
        const auto requests = panel.requestsTo(kLogin);
        ASSERT_EQ(requests.size(), c.attempts);
        EXPECT_EQ(requests[0].header("content-type") + " " + requests[0].body,
                  R"(application/json {"email":"qu\"ote\\@example.com","password":"q\"u\\o te+&=%1\t"})");
        EXPECT_EQ(requests.back().header("content-type") + " " + requests.back().body,
                  c.attempts == 1 ? requests[0].header("content-type") + " " + requests[0].body
                                  : "application/x-www-form-urlencoded "
                                    "email=qu%22ote%5C@example.com&password=q%22u%5Co%20te%2B%26%3D%251%09");
        EXPECT_FALSE(requests[0].hasHeader("authorization") || requests.back().hasHeader("authorization"));
        if (c.error.empty()) {  // valid JSON
            EXPECT_EQ(dir.read("session.json"), sessionFileOf(email, c.token));
        }
    }
    // Signed in, but the session cannot be kept.
    vpn::XboardControlPlane unwritable(panel.apiBase(), dir.file("missing/session.json"), "");
    EXPECT_FALSE(unwritable.login(FakePanel::kEmail, FakePanel::kPassword, error));
    EXPECT_EQ(error, "无法保存登录状态");
    EXPECT_FALSE(dir.exists("missing"));
}

TEST_F(XboardMemberTest, SessionFileIsRestoredDamagedIgnoredAndDeletedOnLogout) {
    dir.write("session.json", R"({"email":"qu\"ote@example.com","auth_data":"Bearer a\\b\"c"})");
    auto cp = client();
    EXPECT_EQ(cp->token() + " " + cp->email(), "Bearer a\\b\"c qu\"ote@example.com");
    cp->logout();
    EXPECT_EQ(cp->token() + cp->email(), "");
    EXPECT_FALSE(dir.exists("session.json"));
    dir.write("session.json", R"({"email":"a@b.c","auth_data":)");
    EXPECT_EQ(client()->token(), "");
}

TEST_F(XboardMemberTest, RegistrationBodiesAndRefusals) {
    const std::string body = R"({"email":"new@example.com","password":"new-password-1")";
    const HttpReply signedInReply = success({{"auth_data", FakePanel::kSession}});
    const struct {
        const char *invite, *code;
        HttpReply reply;
        const char* error;  // empty: signed in
        std::string body;
    } cases[] = {
        {"", "", signedInReply, "", body + "}"},
        {"INVITE1", "123456", signedInReply, "", body + R"(,"invite_code":"INVITE1","email_code":"123456"})"},
        {"", "1", fail(422, "必须使用邀请码才可以注册"), "必须使用邀请码才可以注册", body + R"(,"email_code":"1"})"},
        {"", "", HttpReply{502, "", {}}, "面板 HTTP 502", body + "}"},
        {"", "", HttpReply{200, "{}", {}}, "注册失败", body + "}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        auto cp = signedIn();
        panel.queue("POST", kRegister, c.reply);
        error.clear();
        const bool ok = cp->registerAccount("new@example.com", "new-password-1", c.invite, c.code, error);
        EXPECT_EQ(ok, !*c.error);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(panel.requestsTo(kRegister).back().body, c.body);
        EXPECT_FALSE(panel.requestsTo(kRegister).back().hasHeader("authorization"));
        EXPECT_EQ(cp->token(), ok ? FakePanel::kSession : "");
        EXPECT_EQ(dir.read("session.json") == sessionFileOf("new@example.com", FakePanel::kSession), ok);
    }
    auto cp = client();
    ASSERT_TRUE(cp->sendRegisterEmail("new@example.com", error)) << error;
    EXPECT_EQ(panel.requestsTo(kEmailCode).back().body, R"({"email":"new@example.com"})");
    panel.queue("POST", kEmailCode, fail(400, "验证码已发送，请过一会再请求"));
    EXPECT_FALSE(cp->sendRegisterEmail("new@example.com", error));
    EXPECT_EQ(error, "验证码已发送，请过一会再请求");
}

TEST_F(XboardMemberTest, MembershipOfPanelVariants) {
    Json planWithFive = member(nullptr)["plan"];
    planWithFive["device_limit"] = 5;
    const Json noPlan = {{"plan_id", nullptr}, {"expired_at", nullptr}, {"device_limit", nullptr},
                         {"plan", nullptr}};
    constexpr int32_t kMaxInt = std::numeric_limits<int32_t>::max();
    struct Case {
        Json changes;  // members of getSubscribe's data replaced
        const char* date;
        bool hasPlan, expired;
        int32_t deviceLimit;
    };
    const Case cases[] = {
        {{{"expired_at", kEndOf2099}}, "2099-12-31", true, false, 3},
        {{{"expired_at", 1704067199}}, "2023-12-31", true, true, 3},
        {{{"expired_at", "2099-12-31"}}, "2099-12-31", true, false, 3},  // a panel's date text
        {{{"expired_at", nullptr}}, "", true, false, 3},
        {noPlan, "", false, false, 0},
        {{{"device_limit", nullptr}, {"plan", planWithFive}}, "", true, false, 5},
        {{{"device_limit", std::numeric_limits<int64_t>::max()}}, "", true, false, kMaxInt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.changes.dump());
        Json data = member(nullptr);
        data.update(c.changes);
        answerAccount(data);
        const vpn::AccountRecord account = fetched();
        EXPECT_EQ(account.expiresAt, c.date);
        EXPECT_EQ(account.hasPlan, c.hasPlan);
        EXPECT_EQ(account.expired, c.expired);
        EXPECT_EQ(account.deviceLimit, c.deviceLimit);
        EXPECT_TRUE(account.signedIn && account.email == FakePanel::kEmail);
        // Without a running plan no subscription is asked for.
        const bool running = c.hasPlan && !c.expired;
        const std::vector<std::string> nodes{"Tokyo A", "Singapore"};  // sent as Tokyo+A
        EXPECT_EQ(names(account), running ? nodes : std::vector<std::string>{});
        const auto requests = panel.requests();
        ASSERT_EQ(requests.size(), running ? 2u : 1u);
        EXPECT_EQ(requests[0].header("authorization"), FakePanel::kSession);
        if (!running) continue;
        EXPECT_EQ(requests[1].target, std::string(kSubscription) + "?token=" + kToken);
        EXPECT_EQ(requests[1].header("user-agent"), "v2rayN/6.45");  // asks for the general format
        EXPECT_FALSE(requests[1].hasHeader("authorization"));
    }
}

TEST_F(XboardMemberTest, ServerListStandsInWhenTheSubscriptionGivesNothing) {
    const auto item = [](const char* type, const char* name, const char* host, int port) {
        const Json reality = {{"server_name", "www.apple.com"}, {"server_port", 443}, {"public_key", "key"},
                              {"short_id", "a1"}};
        return Json{{"id", 1}, {"type", type}, {"name", name}, {"host", host}, {"server_port", port},
                    {"protocol_settings", {{"flow", "xtls-rprx-vision"}, {"reality_settings", reality}}}};
    };
    panel.on("GET", kSubscription, HttpReply{404, "", {}});
    panel.on("GET", kServerList, plain(200, {{"data", {item("vless", "Tokyo", "203.0.113.10", 8443),
                                                       item("shadowsocks", "SS", "198.51.100.7", 8388),
                                                       item("", "Untyped", "198.51.100.9", 2053),
                                                       item("VLESS", "Upper", "198.51.100.10", 2083)}}}));
    const vpn::AccountRecord account = fetched();
    EXPECT_EQ(names(account), (std::vector<std::string>{"Tokyo", "Untyped", "Upper"}));
    const vpn::NodeRecord& tokyo = account.nodes.at(0);  // the server's own port, not the REALITY target's
    EXPECT_EQ(std::to_string(tokyo.port) + " " + tokyo.uuid, std::string("8443 ") + kUuid);
    EXPECT_EQ(panel.requestsTo(kServerList).at(0).header("authorization"), FakePanel::kSession);

    // The real panel's list carries no addresses; an empty list is the plan's server group.
    const std::pair<Json, const char*> refusals[] = {
        {Json{{"data", {{{"id", 1}, {"type", "vless"}, {"name", "Tokyo"}}}}},
         "面板节点缺少地址，订阅里也没有可解析的 VLESS Reality"},
        {Json{{"data", Json::array()}}, "面板未下发可用节点，请确认节点已显示且套餐权限组一致"},
    };
    for (const auto& [list, text] : refusals) {
        panel.on("GET", kServerList, plain(200, list));
        fetched(false);
        EXPECT_EQ(error, text);
    }
}

TEST_F(XboardMemberTest, SubscriptionAddressFromTheTokenOrElseThePanelsOwn) {
    Json data = member(nullptr);
    data["token"] = "a+b&c d";
    answerAccount(data);
    fetched();
    EXPECT_EQ(panel.requestsTo(kSubscription).at(0).query, "token=a%2Bb%26c%20d");

    // Without a token the panel's subscribe_url serves, but only a web address is fetched.
    data["token"] = "";
    panel.on("GET", "/s/abc", subscription({vlessLink("Own", "203.0.113.10", 443)}));
    for (const std::string& url : {panel.origin() + "/s/abc", std::string("file:///etc/passwd")}) {
        SCOPED_TRACE(url);
        data["subscribe_url"] = url;
        answerAccount(data);
        const bool web = url.rfind("http", 0) == 0;
        fetched(web);
        const std::string next = web ? "GET /s/abc" : std::string("GET ") + kServerList;
        EXPECT_EQ(panel.paths(), (std::vector<std::string>{std::string("GET ") + kGetSubscribe, next}));
        EXPECT_EQ(panel.requests().at(1).header("user-agent"), web ? "v2rayN/6.45" : "Orvik/0.1");
    }
}

TEST_F(XboardMemberTest, BrokenAccountRepliesAreErrorsNotEmptyAccounts) {
    for (const std::string body : {"<html><body>502 Bad Gateway</body></html>",
                                   R"({"status":"success","data":{"plan_id":1,"uuid":"3f1c)"}) {
        SCOPED_TRACE(body);
        panel.queue("GET", kGetSubscribe, HttpReply{200, body, {}});
        fetched(false);
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
