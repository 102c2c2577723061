// Signing in and registering against the fake panel over HTTP: request bodies on the wire,
// the session file, the panel's refusals and its rate limits.
#include <string>

#include <gtest/gtest.h>

#include "tests/support/xboard_fixture.h"

namespace {

using orvik_test::FakePanel;
using orvik_test::FakePanelState;
using orvik_test::HttpReply;

constexpr const char* kLogin = "/api/v1/passport/auth/login";
constexpr const char* kRegister = "/api/v1/passport/auth/register";

class XboardSignInTest : public orvik_test::XboardTest {
protected:
    std::string sessionFileOf(const std::string& email, const std::string& token) const {
        return "{\"email\":\"" + email + "\",\"auth_data\":\"" + token + "\"}\n";
    }
};

TEST_F(XboardSignInTest, LoginKeepsTheSessionNotTheSubscriptionToken) {
    auto cp = client();
    std::string error;
    ASSERT_TRUE(cp->login(FakePanel::kEmail, FakePanel::kPassword, error)) << error;

    const auto requests = panel.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, kLogin);
    EXPECT_EQ(requests[0].body, R"({"email":"member@example.com","password":"correct-horse-1"})");
    EXPECT_EQ(requests[0].header("content-type"), "application/json");
    EXPECT_EQ(requests[0].header("user-agent"), "Orvik/0.1");
    EXPECT_FALSE(requests[0].hasHeader("authorization"));
    EXPECT_FALSE(requests[0].hasHeader("auth_data"));

    // The reply's "token" is the subscription token; the session is auth_data.
    EXPECT_EQ(cp->token().rfind("Bearer ", 0), 0u) << cp->token();
    EXPECT_EQ(cp->email(), FakePanel::kEmail);
    EXPECT_EQ(dir.read("session.json"), sessionFileOf(FakePanel::kEmail, cp->token()));

    // The stored session is one the panel accepts after a restart.
    auto restarted = client();
    vpn::AccountRecord account;
    ASSERT_TRUE(restarted->fetchAccount(account, error)) << error;
    EXPECT_TRUE(account.signedIn);
}

TEST_F(XboardSignInTest, PanelThatReadsOnlyFormsGetsTheFormBody) {
    panel.edit([](FakePanelState& state) { state.switches.formOnlyLogin = true; });
    auto cp = client();
    std::string error;
    ASSERT_TRUE(cp->login(FakePanel::kEmail, FakePanel::kPassword, error)) << error;
    EXPECT_TRUE(error.empty()) << error;

    const auto requests = panel.requestsTo(kLogin);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].body, "email=member@example.com&password=correct-horse-1");
    EXPECT_EQ(requests[1].header("content-type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(dir.read("session.json"), sessionFileOf(FakePanel::kEmail, cp->token()));
}

TEST_F(XboardSignInTest, PasswordsWithQuotesAndSeparatorsReachThePanelIntact) {
    const std::string password = "q\"u\\o te+&=%1\t";
    panel.edit([&](FakePanelState& state) { state.user(FakePanel::kEmail)->password = password; });
    for (const bool formOnly : {false, true}) {
        SCOPED_TRACE(formOnly ? "form body" : "JSON body");
        panel.edit([&](FakePanelState& state) { state.switches.formOnlyLogin = formOnly; });
        auto cp = client();
        std::string error;
        EXPECT_TRUE(cp->login(FakePanel::kEmail, password, error)) << error;
    }
    EXPECT_EQ(panel.requestsTo(kLogin).front().body,
              R"({"email":"member@example.com","password":"q\"u\\o te+&=%1\t"})");
}

TEST_F(XboardSignInTest, WrongPasswordShowsThePanelsWordsAndSignsOut) {
    auto cp = signedIn();
    std::string error;
    EXPECT_FALSE(cp->login(FakePanel::kEmail, "not-the-password", error));
    EXPECT_EQ(error, "邮箱或密码错误");
    EXPECT_TRUE(cp->token().empty());
}

TEST_F(XboardSignInTest, RepeatedWrongPasswordsEndInThePanelsLock) {
    auto cp = client();
    std::string error;
    // Each attempt costs two of the panel's five tries (JSON, then form).
    for (int attempt = 0; attempt < 3; ++attempt) {
        error.clear();
        EXPECT_FALSE(cp->login(FakePanel::kEmail, "not-the-password", error));
    }
    EXPECT_EQ(error, "密码错误次数过多，请 60 分钟后再试");
    error.clear();
    EXPECT_FALSE(cp->login(FakePanel::kEmail, FakePanel::kPassword, error));
    EXPECT_EQ(error, "密码错误次数过多，请 60 分钟后再试");
}

TEST_F(XboardSignInTest, TokenIsTakenFromWherePanelVariantsPutIt) {
    struct Case {
        const char* reply;
        const char* token;
    };
    const Case cases[] = {
        {R"({"token":"top-level"})", "top-level"},
        {R"({"data":{"token":"in-data"},"auth_data":"top-auth"})", "in-data"},
        {R"({"data":{"token":"sub","auth_data":"Bearer 7|s"},"auth_data":"x"})", "Bearer 7|s"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        panel.overrideNext(kLogin, HttpReply{200, c.reply, {}, false, -1});
        auto cp = client();
        std::string error;
        ASSERT_TRUE(cp->login(FakePanel::kEmail, FakePanel::kPassword, error)) << error;
        EXPECT_EQ(cp->token(), c.token);
    }
}

TEST_F(XboardSignInTest, LoginFailureWithoutAMessageKeepsTheTransportsError) {
    panel.overrideNext(kLogin, HttpReply{500, "", {}, false, -1}, 2);
    auto cp = client();
    std::string error;
    EXPECT_FALSE(cp->login(FakePanel::kEmail, FakePanel::kPassword, error));
    EXPECT_EQ(error, "面板 HTTP 500");
    EXPECT_FALSE(dir.exists("session.json"));

    vpn::XboardControlPlane unreachable("http://127.0.0.1:" + std::to_string(orvik_test::unusedLoopbackPort()),
                                        sessionPath(), {});
    error.clear();
    EXPECT_FALSE(unreachable.login(FakePanel::kEmail, FakePanel::kPassword, error));
    EXPECT_FALSE(error.empty());
}

TEST_F(XboardSignInTest, RegistrationWithoutCodesSignsTheNewAccountIn) {
    auto cp = client();
    std::string error;
    ASSERT_TRUE(cp->registerAccount("new@example.com", "new-password-1", "", "", error)) << error;

    const auto requests = panel.requestsTo(kRegister);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].body, R"({"email":"new@example.com","password":"new-password-1"})");
    EXPECT_FALSE(requests[0].hasHeader("authorization"));
    EXPECT_EQ(dir.read("session.json"), sessionFileOf("new@example.com", cp->token()));

    vpn::AccountRecord account;
    ASSERT_TRUE(cp->fetchAccount(account, error)) << error;
    EXPECT_EQ(account.email, "new@example.com");
    EXPECT_FALSE(account.hasPlan);
}

TEST_F(XboardSignInTest, RegistrationWithInviteAndEmailCode) {
    panel.edit([](FakePanelState& state) {
        state.switches.emailVerify = true;
        state.switches.inviteForce = true;
    });
    auto cp = client();
    vpn::RegisterOptions options;
    std::string error;
    ASSERT_TRUE(cp->fetchRegisterOptions(options, error)) << error;
    EXPECT_TRUE(options.emailVerify);
    EXPECT_TRUE(options.inviteForce);
    EXPECT_FALSE(options.recaptcha);

    ASSERT_TRUE(cp->sendRegisterEmail("new@example.com", error)) << error;
    const auto sent = panel.requestsTo("/api/v1/passport/comm/sendEmailVerify");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].body, R"({"email":"new@example.com"})");

    const std::string code = panel.emailCode("new@example.com");
    ASSERT_FALSE(code.empty());
    ASSERT_TRUE(cp->registerAccount("new@example.com", "new-password-1", "INVITE1", code, error)) << error;
    EXPECT_EQ(panel.requestsTo(kRegister).back().body,
              R"({"email":"new@example.com","password":"new-password-1","invite_code":"INVITE1","email_code":")" +
                  code + "\"}");
    EXPECT_EQ(cp->email(), "new@example.com");
}

TEST_F(XboardSignInTest, RegistrationRefusalsShowThePanelsWordsAndSignOut) {
    panel.edit([](FakePanelState& state) { state.switches.inviteForce = true; });
    auto cp = signedIn();
    std::string error;
    EXPECT_FALSE(cp->registerAccount("new@example.com", "new-password-1", "", "", error));
    EXPECT_EQ(error, "必须使用邀请码才可以注册");
    EXPECT_TRUE(cp->token().empty());

    error.clear();
    EXPECT_FALSE(cp->registerAccount(FakePanel::kEmail, "new-password-1", "INVITE1", "", error));
    EXPECT_EQ(error, "邮箱已在系统中存在");

    panel.edit([](FakePanelState& state) { state.switches.emailVerify = true; });
    error.clear();
    EXPECT_FALSE(cp->registerAccount("new@example.com", "new-password-1", "INVITE1", "000000", error));
    EXPECT_EQ(error, "邮箱验证码有误");
}

TEST_F(XboardSignInTest, EmailCodeIsLimitedToOnePerMinutePerAddress) {
    auto cp = client();
    std::string error;
    ASSERT_TRUE(cp->sendRegisterEmail("new@example.com", error)) << error;
    EXPECT_FALSE(cp->sendRegisterEmail("new@example.com", error));
    EXPECT_EQ(error, "验证码已发送，请过一会再请求");

    error.clear();
    EXPECT_TRUE(cp->sendRegisterEmail("other@example.com", error)) << error;
    panel.edit([](FakePanelState& state) { state.clockOffset += 61; });
    EXPECT_TRUE(cp->sendRegisterEmail("new@example.com", error)) << error;
}

TEST_F(XboardSignInTest, OptionsComeFromTheGuestConfiguration) {
    panel.edit([](FakePanelState& state) { state.switches.recaptcha = true; });
    auto cp = client();
    vpn::RegisterOptions options;
    std::string error;
    ASSERT_TRUE(cp->fetchRegisterOptions(options, error)) << error;
    EXPECT_FALSE(options.emailVerify);
    EXPECT_FALSE(options.inviteForce);
    EXPECT_TRUE(options.recaptcha);
    EXPECT_EQ(panel.paths(), std::vector<std::string>{"GET /api/v1/guest/comm/config"});
}

TEST_F(XboardSignInTest, OptionsFallBackToTheSecondConfigurationAddress) {
    panel.edit([](FakePanelState& state) {
        state.switches.guestConfigMissing = true;
        state.switches.emailVerify = true;
    });
    auto cp = client();
    vpn::RegisterOptions options;
    std::string error;
    ASSERT_TRUE(cp->fetchRegisterOptions(options, error)) << error;
    EXPECT_TRUE(options.emailVerify);
    EXPECT_TRUE(error.empty()) << error;
    EXPECT_EQ(panel.paths(), (std::vector<std::string>{"GET /api/v1/guest/comm/config",
                                                       "GET /api/v1/passport/comm/config"}));

    panel.edit([](FakePanelState& state) { state.switches.configMissing = true; });
    options.emailVerify = options.inviteForce = options.recaptcha = true;
    EXPECT_FALSE(cp->fetchRegisterOptions(options, error));
    EXPECT_EQ(error, "面板 HTTP 404");
    EXPECT_FALSE(options.emailVerify || options.inviteForce || options.recaptcha);
}

}  // namespace
