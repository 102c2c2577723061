// orvikctl's own logic (command line, help, usage errors, prompts, output in both shapes, exit
// codes) in this process through its entry point, on a runtime directory and service pipe of its
// own (no service or panel of the machine is reached), over the local account file, a panel
// stand-in and the real service.
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/environment.h"
#include "tests/support/fake_panel.h"
#include "tests/support/service_client.h"
#include "tests/support/service_process.h"
#include "tests/support/session_file.h"
#include "tools/orvikctl/orvikctl.h"

namespace {

using orvik_test::CapturedRun;
namespace panel = orvik_test::panel;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

const std::string kAccount = orvik_test::LocalAccount{.address = "198.18.0.2", .name = "本地节点",
                                                      .email = "demo@velora.local", .password = "velora"}.json();

class Orvikctl : public ::testing::Test {
protected:
    void SetUp() override { runtime.write("account.json", kAccount); }
    // orvikctl --runtime <runtime> ARGS... with `input` as its standard input; `ask`, when
    // given, answers the prompts of an interactive terminal.
    CapturedRun run(const std::vector<std::string>& args, const std::string& input = {},
                    std::function<bool(const std::string&, bool, std::string&)> ask = {}) const {
        std::vector<std::string> all{"--runtime", runtime.path()};
        all.insert(all.end(), args.begin(), args.end());
        std::istringstream in(input);
        std::ostringstream out, err;
        orvikctl::Io io{in, out, err, static_cast<bool>(ask), ask};
        return {orvikctl::runOrvikctl(all, io), out.str(), err.str()};  // in this order
    }
    // With --json: the parsed standard output (discarded when it is not JSON).
    nlohmann::ordered_json runJson(std::vector<std::string> args) const {
        args.insert(args.begin(), "--json");
        return nlohmann::ordered_json::parse(run(args).out, nullptr, false);
    }
    bool signedIn() const { return runtime.exists(orvik_test::sessionFile()); }
    // The panel stand-in in place of the local account.
    orvik_test::FakePanel& usePanel() {
        runtime.write("account.json", "");
        runtime.write("panel.json", "{\"apiBase\":\"" + panel_.apiBase() + "/\",\"deviceApi\":\"" + panel_.deviceApi() + "\"}");
        return panel_;
    }

    orvik_test::TempDir runtime;
    std::string pipe = orvik_test::uniquePipeName(runtime.path());
    orvik_test::ScopedEnvironment pipeVariable{"ORVIK_PIPE", pipe};
    orvik_test::ScopedEnvironment panelVariable{"ORVIK_XBOARD_URL", std::nullopt};
    orvik_test::ScopedEnvironment runtimeVariable{"ORVIK_RUNTIME", std::nullopt};
    orvik_test::FakePanel panel_;
};

TEST_F(Orvikctl, SignsInShowsTheAccountInBothShapesAndSignsOut) {
    ASSERT_EQ(run({"login", " demo@velora.local "}, "velora\r\n").out, "Signed in as demo@velora.local.\n");
    const CapturedRun result = run({"account"});
    EXPECT_TRUE(contains(result.out, "Account      demo@velora.local\nMembership   active\nExpires      2099-12-31 (")) << result.out;
    EXPECT_TRUE(contains(result.out, "Devices      1 of 3 in use\nNodes        1\n  本地节点  198.18.0.2:443\n")) << result.out;
    EXPECT_FALSE(contains(result.out, "3b8a4f5e")) << "node credentials stay out of the output";
    EXPECT_EQ(runJson({"account"})["nodes"][0]["name"], "本地节点");
    EXPECT_EQ(run({"logout"}).out, "Signed out.\n");
    EXPECT_FALSE(signedIn());
    EXPECT_EQ(run({"account"}).err, "orvikctl: not logged in\n");
    EXPECT_EQ(runJson({"account"}).dump(), "{\"ok\":false,\"error\":\"not logged in\"}");
    // Options after the command, "--" before an address that starts with a dash, a trailing
    // separator on the runtime directory, and a terminal that asks without echo.
    EXPECT_EQ(run({"login", "--json", "--", "-demo@velora.local"}, "velora\n").out,
              "{\"ok\":false,\"error\":\"email or password is incorrect\"}\n");
    std::string asked;
    const auto ask = [&](const std::string& prompt, bool echo, std::string& line) {
        asked += prompt + (echo ? " (echo)" : "");
        line = "velora";
        return true;
    };
    EXPECT_EQ(run({"--runtime", runtime.path() + "/", "login", "demo@velora.local"}, "", ask).exitCode, 0);
    EXPECT_EQ(asked, "Password: ");
    EXPECT_TRUE(signedIn());
}

TEST_F(Orvikctl, UsageErrorsExitTwoAndChangeNothing) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> wrong = {
        {{}, "usage: orvikctl"},
        {{"help", "nope"}, "unknown command nope"},
        {{"frobnicate"}, "unknown command frobnicate"},
        {{"logout", "--verbose"}, "unknown option --verbose"},
        {{"connect", "a", "b"}, "unexpected argument b"},
        {{"login"}, "missing argument (EMAIL)"},
        {{"login", "demo@velora.local"}, "no password given"},  // empty standard input
        {{"login", "  "}, "EMAIL is empty"},
        {{"logout", "--runtime"}, "option --runtime needs a value"},
        {{"--runtime=", "logout"}, "option --runtime needs a value"},
        {{"register", "--invite"}, "option --invite needs a value"},
        {{"logout", "--invite", "X"}, "option --invite is only for register"},
        {{"buy", "0", "month_price"}, "PLAN_ID must be a whole number"},
        {{"buy", "99999999999", "month_price"}, "PLAN_ID must be a whole number"},
        {{"logout", "--runtime", "/nonexistent/orvik"}, "does not exist"},
    };
    for (const auto& [args, text] : wrong) {
        const CapturedRun result = run(args);
        SCOPED_TRACE(testing::PrintToString(args));
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_TRUE(contains(result.err, text)) << result.err;
        EXPECT_EQ(result.out, "");
    }
    EXPECT_FALSE(signedIn());
    EXPECT_TRUE(contains(run({"--help"}).out, "\nExit status: 0 success, 1 failure, 2 wrong usage.\n"));
    const CapturedRun help = run({"register", "--help"});
    EXPECT_EQ(help.out.rfind("usage: orvikctl [--runtime DIR] [--json] register", 0), 0u) << help.out;
    EXPECT_EQ(run({"help", "register"}).out, help.out);
}

// The service's refusal is passed on as it is, also by the executable.
TEST_F(Orvikctl, StatusConnectDisconnectAndShutdownAgainstTheRealService) {
    EXPECT_EQ(run({"status"}).out, "Service   not running\nTunnel    down\n");
    EXPECT_EQ(runJson({"disconnect"}).dump(), "{\"ok\":true,\"serviceRunning\":false,\"tunnelUp\":false}");
    orvik_test::ServiceProcess service(ORVIK_SERVICE_EXE, {"--console", "--runtime", runtime.path()});
    ASSERT_TRUE(orvik_test::waitForPipe(pipe, 20000));
    EXPECT_EQ(run({"status"}).out, "Service   running\nTunnel    down\n");
    const CapturedRun result = orvik_test::runCaptured(ORVIKCTL_EXE, {"--runtime", runtime.path(), "connect"});
    EXPECT_EQ(result.exitCode, 1);  // not signed in
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(result.err.starts_with("orvikctl: ") && result.err.size() > 11) << result.err;
    EXPECT_EQ(run({"disconnect"}).out, "Disconnected.\nService   running\nTunnel    down\n");
    EXPECT_EQ(run({"shutdown"}).out, "Service stopped.\nService   not running\nTunnel    down\n");
    EXPECT_EQ(service.wait(10000), 0);
}

TEST_F(Orvikctl, RegistersListsPlansBuysAndChecksTheOrder) {
    orvik_test::FakePanel& server = usePanel();
    EXPECT_EQ(run({"register", "new@example.com"}, "short\n").err, "orvikctl: 密码至少 8 位\n");
    ASSERT_EQ(run({"register", " new@example.com "}, "long-enough\n").out,
              "Registered and signed in as new@example.com.\n");
    EXPECT_TRUE(contains(run({"account"}).out, "\nDevices      3 allowed\n")) << "no count of devices in use";
    EXPECT_TRUE(contains(run({"plans"}).out, "1     month_price  标准版"));
    EXPECT_EQ(runJson({"plans"})["plans"][1]["priceCents"], 15000);
    EXPECT_TRUE(contains(run({"buy", "1", " year_price "}).out, std::string("Payment   ") + panel::kPayPage));
    const auto bought = runJson({"buy", "1", "month_price"});
    const std::string tradeNo = bought["tradeNo"].get<std::string>();
    EXPECT_EQ(bought["paymentUrl"], panel::kPayPage + tradeNo);
    EXPECT_FALSE(bought["activated"].get<bool>());
    EXPECT_EQ(run({"order", tradeNo}).out, "Order    " + tradeNo + "\nStatus   not paid\n");
    server.on("GET", panel::kCheck, panel::success(1));
    EXPECT_EQ(runJson({"order", tradeNo})["paid"], true);
}

// The e-mail code and the invite code are asked for only when the panel wants them; a panel
// with a captcha sends the user to its web site.
TEST_F(Orvikctl, RegistersWithTheChecksThePanelAsksFor) {
    orvik_test::FakePanel& server = usePanel();
    server.on("GET", panel::kGuestConfig, panel::success(panel::guestConfig(true, true, false)));
    server.on("POST", panel::kEmailCode, panel::success(true));
    EXPECT_EQ(run({"register", "no-at-sign"}, "long-enough\n").err, "orvikctl: 请先填写邮箱\n");
    EXPECT_EQ(run({"register", "new@example.com"}, "long-enough\n \n").err, "orvikctl: 请填写邀请码\n");
    EXPECT_EQ(run({"register", "new@example.com"}, "long-enough\nINV-1\n").exitCode, 2) << "no e-mail code";
    ASSERT_EQ(run({"register", "new@example.com"}, "long-enough\nINV-1\n 123456 \n").exitCode, 0);
    const std::string sent = server.requestsTo(panel::kRegister).back().body;
    EXPECT_TRUE(contains(sent, "123456") && contains(sent, "INV-1")) << sent;
    server.on("GET", panel::kGuestConfig, panel::success(panel::guestConfig(false, false, true)));
    EXPECT_EQ(run({"register", "new@example.com"}, "long-enough\n").err, "orvikctl: 面板开启了人机验证，请到网站注册\n");
    EXPECT_FALSE(server.requestsTo(panel::kRegister).size() > 1) << "nothing registered without the codes";
}

}  // namespace
