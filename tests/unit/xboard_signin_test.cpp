// Signing in, registering and the session file against the scripted panel: bodies on the
// wire, where panel variants put the token, and the texts of refusals.
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

using XboardSignInTest = orvik_test::XboardTest;

// A panel that refuses the JSON body gets the same sign-in as a form; the session is kept,
// not the reply's "token" (that one is the subscription's).
TEST_F(XboardSignInTest, LoginFallsBackToTheFormAndKeepsTheSession) {
    vpn::XboardControlPlane cp(panel.apiBase() + "/", dir.file("session.json"), "https://devices.example//");
    EXPECT_EQ(cp.deviceApi(), "https://devices.example");
    panel.queue("POST", kLogin, fail(422, "The email field is required."));
    std::string error;
    ASSERT_TRUE(cp.login(FakePanel::kEmail, "q\"u\\o te+&=%1\t", error)) << error;
    EXPECT_TRUE(error.empty()) << error;
    const auto requests = panel.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method + " " + requests[0].target, std::string("POST ") + kLogin);  // one slash
    EXPECT_EQ(requests[0].body, R"({"email":"member@example.com","password":"q\"u\\o te+&=%1\t"})");
    EXPECT_EQ(requests[0].header("content-type") + " " + requests[0].header("user-agent"), "application/json Orvik/0.1");
    EXPECT_EQ(requests[1].body, "email=member@example.com&password=q%22u%5Co%20te%2B%26%3D%251%09");
    EXPECT_EQ(requests[1].header("content-type"), "application/x-www-form-urlencoded");
    EXPECT_FALSE(requests[0].hasHeader("authorization") || requests[1].hasHeader("authorization"));
    EXPECT_EQ(cp.token(), FakePanel::kSession);
    EXPECT_EQ(dir.read("session.json"), sessionFileOf(FakePanel::kEmail, FakePanel::kSession));

    // Restored after a restart, the session is one the panel accepts.
    vpn::AccountRecord account;
    ASSERT_TRUE(client()->fetchAccount(account, error)) << error;
    EXPECT_EQ(client()->email(), FakePanel::kEmail);
}

TEST_F(XboardSignInTest, TokenIsTakenFromWherePanelVariantsPutIt) {
    const std::pair<Json, std::string> cases[] = {
        {{{"token", "top-level"}}, "top-level"},
        {{{"data", {{"token", "in-data"}}}, {"auth_data", "top-auth"}}, "in-data"},
        {{{"data", {{"is_admin", false}}}, {"token", "top"}}, "top"},
        {{{"data", {{"token", "sub"}, {"auth_data", "Bearer x\"y\\z"}}}}, "Bearer x\"y\\z"},
    };
    for (const auto& [reply, token] : cases) {
        SCOPED_TRACE(reply.dump());
        panel.queue("POST", kLogin, HttpReply{200, reply.dump(), {}});
        auto cp = client();
        std::string error;
        ASSERT_TRUE(cp->login("qu\"ote\\@example.com", "pw", error)) << error;
        EXPECT_EQ(cp->token(), token);
        EXPECT_EQ(dir.read("session.json"), sessionFileOf("qu\"ote\\@example.com", token));  // valid JSON
        EXPECT_EQ(client()->token(), token);
    }
}

TEST_F(XboardSignInTest, FailedSignInsGiveThePanelsWordsAndDropTheSession) {
    const std::pair<HttpReply, const char*> cases[] = {  // the reply to both the JSON and the form attempt
        {fail(400, "邮箱或密码错误"), "邮箱或密码错误"},
        {fail(429, "密码错误次数过多，请 60 分钟后再试"), "密码错误次数过多，请 60 分钟后再试"},
        {HttpReply{500, "", {}}, "面板 HTTP 500"},
        {HttpReply{200, R"({"data":{"is_admin":false}})", {}}, "登录失败，请检查邮箱密码或面板地址"},
    };
    for (const auto& [reply, text] : cases) {
        SCOPED_TRACE(text);
        auto cp = signedIn();
        panel.queue("POST", kLogin, reply, 2);
        std::string error;
        EXPECT_FALSE(cp->login(FakePanel::kEmail, "not-the-password", error));
        EXPECT_EQ(error, text);
        EXPECT_TRUE(cp->token().empty());
        EXPECT_EQ(panel.requestsTo(kLogin).size(), 2u);
    }
    // Unreachable, or signed in but the session cannot be kept: no session file either way.
    vpn::XboardControlPlane unreachable("http://127.0.0.1:" + std::to_string(orvik_test::unusedLoopbackPort()),
                                        dir.file("other.json"), {});
    vpn::XboardControlPlane unwritable(panel.apiBase(), dir.file("missing/session.json"), "");
    std::string error;
    EXPECT_FALSE(unreachable.login(FakePanel::kEmail, FakePanel::kPassword, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(unwritable.login(FakePanel::kEmail, FakePanel::kPassword, error));
    EXPECT_EQ(error, "无法保存登录状态");
    EXPECT_FALSE(dir.exists("other.json") || dir.exists("missing"));
}

TEST_F(XboardSignInTest, SessionFileIsRestoredDamagedIgnoredAndDeletedOnLogout) {
    dir.write("session.json", R"({"email":"qu\"ote@example.com","auth_data":"Bearer a\\b\"c"})");
    auto cp = client();
    EXPECT_EQ(cp->token() + " " + cp->email(), "Bearer a\\b\"c qu\"ote@example.com");
    cp->logout();
    EXPECT_EQ(cp->token() + cp->email(), "");
    EXPECT_FALSE(dir.exists("session.json"));
    cp->logout();  // nothing left to delete
    dir.write("session.json", R"({"email":"a@b.c","auth_data":)");
    EXPECT_EQ(client()->token(), "");
}

TEST_F(XboardSignInTest, RegistrationBodiesAndRefusals) {
    const std::string body = R"({"email":"new@example.com","password":"new-password-1")";
    const struct {
        const char *invite, *code;
        HttpReply reply;
        const char* error;  // empty: signed in
        std::string body;
    } cases[] = {
        {"", "", success({{"auth_data", FakePanel::kSession}}), "", body + "}"},
        {"INVITE1", "123456", success({{"auth_data", FakePanel::kSession}}), "",
         body + R"(,"invite_code":"INVITE1","email_code":"123456"})"},
        {"", "123456", fail(422, "必须使用邀请码才可以注册"), "必须使用邀请码才可以注册", body + R"(,"email_code":"123456"})"},
        {"", "", HttpReply{502, "", {}}, "面板 HTTP 502", body + "}"},
        {"", "", HttpReply{200, "{}", {}}, "注册失败", body + "}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        auto cp = signedIn();
        panel.queue("POST", kRegister, c.reply);
        std::string error;
        EXPECT_EQ(cp->registerAccount("new@example.com", "new-password-1", c.invite, c.code, error), !*c.error);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(panel.requestsTo(kRegister).back().body, c.body);
        EXPECT_FALSE(panel.requestsTo(kRegister).back().hasHeader("authorization"));
        EXPECT_EQ(cp->token(), *c.error ? "" : FakePanel::kSession);
        if (!*c.error) { EXPECT_EQ(dir.read("session.json"), sessionFileOf("new@example.com", FakePanel::kSession)); }
    }
    auto cp = client();
    std::string error;
    ASSERT_TRUE(cp->sendRegisterEmail("new@example.com", error)) << error;
    EXPECT_EQ(panel.requestsTo(kEmailCode).back().body, R"({"email":"new@example.com"})");
    panel.queue("POST", kEmailCode, fail(400, "验证码已发送，请过一会再请求"));
    EXPECT_FALSE(cp->sendRegisterEmail("new@example.com", error));
    EXPECT_EQ(error, "验证码已发送，请过一会再请求");
}

TEST_F(XboardSignInTest, OptionsFromTheGuestOrElseThePassportConfiguration) {
    auto cp = client();
    vpn::RegisterOptions options;
    std::string error;
    panel.on("GET", kGuestConfig, success(guestConfig(false, false, true)));
    ASSERT_TRUE(cp->fetchRegisterOptions(options, error)) << error;
    EXPECT_TRUE(!options.emailVerify && !options.inviteForce && options.recaptcha);
    EXPECT_EQ(panel.paths(), std::vector<std::string>{std::string("GET ") + kGuestConfig});

    panel.on("GET", kGuestConfig, fail(404, "The route could not be found."));
    panel.on("GET", kPassportConfig, success(guestConfig(true, true, false)));
    ASSERT_TRUE(cp->fetchRegisterOptions(options, error)) << error;
    EXPECT_TRUE(options.emailVerify && options.inviteForce && !options.recaptcha && error.empty());

    panel.on("GET", kPassportConfig, HttpReply{404, "", {}});
    EXPECT_FALSE(cp->fetchRegisterOptions(options, error));
    EXPECT_EQ(error, "面板 HTTP 404");
    EXPECT_FALSE(options.emailVerify || options.inviteForce || options.recaptcha);
}

}  // namespace
