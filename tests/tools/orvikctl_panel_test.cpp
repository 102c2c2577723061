// orvikctl against the fake panel: sign-in with the password on standard input, the
// account, the shop and registration, the panel's refusals, and usage errors that never
// reach the panel.
#include <algorithm>
#include <chrono>
#include <thread>

#include "tests/support/fake_panel.h"
#include "tests/support/session_file.h"
#include "tests/tools/orvikctl_fixture.h"

namespace {

using orvik_test::CapturedRun;
using orvik_test::contains;
using orvik_test::FakePanel;
using orvik_test::FakePanelState;

class OrvikctlPanel : public orvik_test::OrvikctlTest {
protected:
    void SetUp() override {
        runtime.write("panel.json", "{\"apiBase\":\"" + panel.apiBase() + "/\",\"deviceApi\":\"" + panel.deviceApi() + "\"}");
    }
    void signIn() {
        const CapturedRun login = run({"login", FakePanel::kEmail}, std::string(FakePanel::kPassword) + "\n");
        ASSERT_EQ(login.exitCode, 0) << login.err;
        panel.clearRequests();
    }
    std::string tradeNoOfFirstOrder() {
        return panel.read<std::string>([](const FakePanelState& state) {
            return state.orders.empty() ? std::string() : state.orders.front().tradeNo;
        });
    }

    FakePanel panel;
};

TEST_F(OrvikctlPanel, SignsInShowsTheAccountAndSignsOut) {
    CapturedRun result = run({"login", FakePanel::kEmail}, FakePanel::kPassword);  // no line end
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, std::string("Signed in as ") + FakePanel::kEmail + ".\n");
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(contains(runtime.read(orvik_test::sessionFile()), "auth_data"));

    result = run({"account"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    for (const char* part : {"Account      member@example.com\n", "Membership   active\n", "days left)", "Devices      3 allowed\n",
                             "Nodes        2\n", "  Tokyo A    203.0.113.10:443\n", "  Singapore  [2001:db8::1]:8443\n"})
        EXPECT_TRUE(contains(result.out, part)) << part << "\n" << result.out;

    const auto account = runJson({"account"}, &result);
    ASSERT_TRUE(account.is_object()) << result.out;
    EXPECT_TRUE(account["ok"].get<bool>());
    EXPECT_EQ(account["membership"].get<std::string>(), "active");
    EXPECT_EQ(account["deviceLimit"].get<int>(), 3);
    const int64_t days = account["daysLeft"].get<int64_t>();
    EXPECT_TRUE(days == 29 || days == 30) << days;
    ASSERT_EQ(account["nodes"].size(), 2u);
    EXPECT_EQ(account["nodes"][1]["name"].get<std::string>(), "Singapore");
    EXPECT_EQ(account["nodes"][1]["port"].get<int>(), 8443);
    EXPECT_FALSE(contains(result.out, "3f1c0b9e")) << "the node credentials stay out of the output";

    result = run({"logout"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "Signed out.\n");
    EXPECT_FALSE(runtime.exists(orvik_test::sessionFile()));
    result = run({"account"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(contains(result.err, "orvikctl: ")) << result.err;
}

TEST_F(OrvikctlPanel, AccountWithoutPlanAndWithExpiredPlan) {
    panel.edit([](FakePanelState& state) { state.users[0].planId = nullptr; });
    signIn();
    CapturedRun result = run({"account"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(contains(result.out, "Membership   no plan\n")) << result.out;
    EXPECT_TRUE(contains(result.out, "Nodes        none\n")) << result.out;
    panel.edit([](FakePanelState& state) {
        state.users[0].planId = 1;
        state.users[0].expiredAt = state.clockOffset + 86400;  // long past
    });
    // The panel hands out no nodes for an expired plan; its text comes through unchanged.
    result = run({"account"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "orvikctl: 面板未下发可用节点，请确认节点已显示且套餐权限组一致\n");
}

TEST_F(OrvikctlPanel, WrongPasswordFailsWithThePanelsTextAndKeepsNoSession) {
    CapturedRun result = run({"login", FakePanel::kEmail}, "wrong-password\n");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "orvikctl: 邮箱或密码错误\n");
    EXPECT_FALSE(runtime.exists(orvik_test::sessionFile()));

    const auto reply = runJson({"login", FakePanel::kEmail}, &result, "wrong-password\n");
    EXPECT_EQ(result.exitCode, 1);
    ASSERT_TRUE(reply.is_object()) << result.out;
    EXPECT_FALSE(reply["ok"].get<bool>());
    EXPECT_EQ(reply["error"].get<std::string>(), "邮箱或密码错误");
}

TEST_F(OrvikctlPanel, LoginWithoutPasswordOrEmailIsAUsageErrorWithoutARequest) {
    CapturedRun result = run({"login", FakePanel::kEmail});  // empty standard input
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_TRUE(contains(result.err, "no password given")) << result.err;
    EXPECT_TRUE(contains(result.err, "usage: orvikctl [--runtime DIR] [--json] login EMAIL")) << result.err;
    result = run({"login"}, "password\n");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_TRUE(contains(result.err, "missing argument (EMAIL)")) << result.err;
    result = run({"login", "  "}, "password\n");
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_TRUE(panel.requests().empty());
    EXPECT_FALSE(runtime.exists(orvik_test::sessionFile()));
}

TEST_F(OrvikctlPanel, PlansBuyAndOrderStatus) {
    signIn();
    CapturedRun result = run({"plans"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out.rfind("PLAN  PERIOD ", 0), 0u) << result.out;
    EXPECT_TRUE(contains(result.out, "month_price")) << result.out;
    EXPECT_TRUE(contains(result.out, "year_price")) << result.out;
    EXPECT_TRUE(contains(result.out, "标准版")) << result.out;
    EXPECT_TRUE(contains(result.out, "¥15.00")) << result.out;

    const auto plans = runJson({"plans"});
    ASSERT_TRUE(plans.is_object());
    ASSERT_EQ(plans["plans"].size(), 2u);
    EXPECT_EQ(plans["plans"][0]["id"].get<int>(), 1);
    EXPECT_EQ(plans["plans"][0]["period"].get<std::string>(), "month_price");
    EXPECT_EQ(plans["plans"][0]["priceCents"].get<int64_t>(), 1500);

    result = run({"buy", "1", "month_price"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string tradeNo = tradeNoOfFirstOrder();
    ASSERT_FALSE(tradeNo.empty());
    EXPECT_TRUE(contains(result.out, "Order     " + tradeNo + "\n")) << result.out;
    EXPECT_TRUE(contains(result.out, "Payment   http")) << result.out;

    const auto bought = runJson({"buy", "1", "year_price"});
    ASSERT_TRUE(bought.is_object());
    EXPECT_FALSE(bought["activated"].get<bool>());
    EXPECT_FALSE(bought["tradeNo"].get<std::string>().empty());
    EXPECT_TRUE(contains(bought["paymentUrl"].get<std::string>(), "http")) << bought.dump();

    result = run({"order", tradeNo});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Order    " + tradeNo + "\nStatus   not paid\n");
    panel.edit([&](FakePanelState& state) { state.order(tradeNo)->status = 3; });
    const auto order = runJson({"order", tradeNo});
    ASSERT_TRUE(order.is_object());
    EXPECT_TRUE(order["paid"].get<bool>());
    EXPECT_EQ(order["tradeNo"].get<std::string>(), tradeNo);

    result = run({"order", "no-such-order"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_FALSE(result.err.empty());
}

TEST_F(OrvikctlPanel, BadShopArgumentsAreUsageErrorsWithoutARequest) {
    signIn();
    const std::vector<std::vector<std::string>> wrong = {
        {"buy", "0", "month_price"}, {"buy", "abc", "month_price"}, {"buy", "99999999999", "month_price"},
        {"buy", "1"},                {"buy", "1", "month_price", "more"}, {"buy", "1", " "},
        {"order"},                   {"plans", "extra"},              {"buy", "-1", "month_price"}};
    for (const auto& args : wrong) {
        const CapturedRun result = run(args);
        EXPECT_EQ(result.exitCode, 2) << args[0] << " " << (args.size() > 1 ? args[1] : "");
        EXPECT_TRUE(contains(result.err, "usage: orvikctl")) << result.err;
        EXPECT_EQ(result.out, "");
    }
    EXPECT_TRUE(panel.requests().empty());
    EXPECT_EQ(tradeNoOfFirstOrder(), "");
}

TEST_F(OrvikctlPanel, RegisterAsksForInviteAndEmailCodeWhenThePanelWantsThem) {
    panel.edit([](FakePanelState& state) {
        state.switches.emailVerify = true;
        state.switches.inviteForce = true;
    });
    const std::string email = "new@example.com";
    orvik_test::CapturedProcess process(ORVIKCTL_EXE, {"--runtime", runtime.path(), "register", email});
    ASSERT_TRUE(process.started());
    process.write("long-password-1\nINVITE1\n");
    std::string code;
    for (int i = 0; i < 400 && code.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        code = panel.emailCode(email);
    }
    ASSERT_FALSE(code.empty()) << "no e-mail code was requested";
    process.write(code + "\n");
    const CapturedRun result = process.finish();
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Registered and signed in as new@example.com.\n");
    EXPECT_TRUE(contains(runtime.read(orvik_test::sessionFile()), email));
    EXPECT_TRUE(panel.read<bool>([&](const FakePanelState& state) {
        return std::any_of(state.users.begin(), state.users.end(), [&](const auto& user) { return user.email == email; });
    }));
    const auto account = runJson({"account"});
    ASSERT_TRUE(account.is_object());
    EXPECT_EQ(account["membership"].get<std::string>(), "no plan");
}

TEST_F(OrvikctlPanel, RegisterReadsAddressAndPasswordFromStandardInput) {
    CapturedRun result = run({"register", "--invite", "INVITE1"}, "other@example.com\nlong-password-2\n");
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Registered and signed in as other@example.com.\n");
    result = run({"register", "--json"}, "third@example.com\nlong-password-3\n");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "{\"ok\":true,\"email\":\"third@example.com\"}\n");
}

TEST_F(OrvikctlPanel, RegisterRefusalsComeBeforeTheRegistration) {
    CapturedRun result = run({"register", "short@example.com"}, "seven77\n");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "orvikctl: 密码至少 8 位\n");
    panel.edit([](FakePanelState& state) { state.switches.inviteForce = true; });
    result = run({"register", "short@example.com"}, "long-password-1\n\n");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "orvikctl: 请填写邀请码\n");
    panel.edit([](FakePanelState& state) { state.switches.recaptcha = true; });
    result = run({"register", "short@example.com"}, "long-password-1\nINVITE1\n");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "orvikctl: 面板开启了人机验证，请到网站注册\n");
    EXPECT_TRUE(panel.requestsTo("/api/v1/passport/auth/register").empty());
    EXPECT_FALSE(runtime.exists(orvik_test::sessionFile()));

    result = run({"login", "--invite", "X", FakePanel::kEmail}, FakePanel::kPassword);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_TRUE(contains(result.err, "--invite is only for register")) << result.err;
}

}  // namespace
