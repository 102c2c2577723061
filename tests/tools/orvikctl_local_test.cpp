// orvikctl on the local account file, and its command line: help, usage errors that change
// nothing, and the runtime option.
#include <filesystem>

#include "tests/support/session_file.h"
#include "tests/tools/orvikctl_fixture.h"

namespace {

using orvik_test::CapturedRun;
using orvik_test::contains;

const std::string kAccount = R"({
  "email": "demo@velora.local",
  "password": "velora",
  "expireAt": "2099-12-31",
  "deviceLimit": 3,
  "nodeName": "本地节点",
  "address": "198.18.0.2",
  "port": 443,
  "uuid": "b831381d-6324-4d53-ad4f-8cda48b30811",
  "sni": "www.example.com",
  "publicKey": "Z84J2IelR9ch3k8VtlVhhs5ycBUlXA7wHBWcBrjqnAw",
  "shortId": "6ba85179e30d4fc2"
})";

class OrvikctlLocal : public orvik_test::OrvikctlTest {
protected:
    void SetUp() override { runtime.write("account.json", kAccount); }

    // Names of the runtime directory's entries.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(
                 std::u8string(runtime.path().begin(), runtime.path().end())))) {
            const std::u8string name = entry.path().filename().u8string();
            names.emplace_back(name.begin(), name.end());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(OrvikctlLocal, SignsInShowsTheOneNodeAndSignsOut) {
    CapturedRun result = run({"login", " demo@velora.local "}, "velora\r\n");
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Signed in as demo@velora.local.\n");
    EXPECT_TRUE(contains(runtime.read(orvik_test::sessionFile()), "\"expireAt\":\"2099-12-31\""));

    result = run({"account"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(contains(result.out, "Account      demo@velora.local\nMembership   active\nExpires      2099-12-31 (")) << result.out;
    EXPECT_TRUE(contains(result.out, "Devices      1 of 3 in use\nNodes        1\n  本地节点  198.18.0.2:443\n")) << result.out;

    const auto account = runJson({"account"});
    ASSERT_TRUE(account.is_object());
    EXPECT_EQ(account["expiresAt"].get<std::string>(), "2099-12-31");
    EXPECT_EQ(account["nodes"][0]["name"].get<std::string>(), "本地节点");

    result = run({"logout"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_FALSE(runtime.exists(orvik_test::sessionFile()));
    result = run({"account"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "orvikctl: not logged in\n");
}

TEST_F(OrvikctlLocal, RefusalsOfTheLocalAccount) {
    CapturedRun result = run({"login", "demo@velora.local"}, "Velora\n");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "orvikctl: email or password is incorrect\n");
    runtime.write("account.json", std::string(kAccount).replace(kAccount.find("2099-12-31"), 10, "2001-01-01"));
    result = run({"login", "demo@velora.local"}, "velora\n");
    EXPECT_EQ(result.err, "orvikctl: account expired\n");
    EXPECT_FALSE(runtime.exists(orvik_test::sessionFile()));

    // What only a panel offers: the back end's fixed texts, asking nothing first.
    const std::vector<std::pair<std::vector<std::string>, std::string>> unsupported = {
        {{"register", "a@b.c"}, "当前环境不支持注册"},
        {{"plans"}, "当前环境不支持购买套餐"},
        {{"buy", "1", "month_price"}, "当前环境不支持购买套餐"},
        {{"order", "T1"}, "当前环境不支持查询订单"}};
    for (const auto& [args, text] : unsupported) {
        result = run(args);
        EXPECT_EQ(result.exitCode, 1) << args[0];
        EXPECT_EQ(result.err, "orvikctl: " + text + "\n");
        EXPECT_EQ(result.out, "");
    }
}

TEST_F(OrvikctlLocal, HelpForEveryCommand) {
    CapturedRun result = run({"--help"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "");
    for (const char* command : {"status", "connect", "disconnect", "shutdown", "login", "logout", "account",
                                "register", "plans", "buy", "order"}) {
        EXPECT_TRUE(contains(result.out, std::string("\n  ") + command + " ")) << command;
        const CapturedRun help = run({command, "--help"});
        EXPECT_EQ(help.exitCode, 0) << command;
        EXPECT_EQ(help.out.rfind(std::string("usage: orvikctl [--runtime DIR] [--json] ") + command, 0), 0u) << help.out;
    }
    EXPECT_EQ(run({"help", "buy"}).out, run({"buy", "--help"}).out);
    EXPECT_TRUE(contains(run({"buy", "--help"}).out, "PLAN_ID PERIOD"));
    EXPECT_EQ(run({}).exitCode, 2);
    EXPECT_EQ(run({"help", "nope"}).exitCode, 2);
}

TEST_F(OrvikctlLocal, UsageErrorsChangeNothing) {
    ASSERT_EQ(run({"login", "demo@velora.local"}, "velora\n").exitCode, 0);
    const std::string session = runtime.read(orvik_test::sessionFile());
    const auto before = entries();
    const std::vector<std::pair<std::vector<std::string>, std::string>> wrong = {
        {{"frobnicate"}, "unknown command frobnicate"},
        {{"logout", "--verbose"}, "unknown option --verbose"},
        {{"logout", "now"}, "unexpected argument now"},
        {{"connect", "a", "b"}, "unexpected argument b"},
        {{"login"}, "missing argument (EMAIL)"},
        {{"logout", "--runtime"}, "option --runtime needs a value"},
        {{"logout", "--runtime="}, "option --runtime needs a value"},
        {{"logout", "--invite", "X"}, "option --invite is only for register"},
    };
    for (const auto& [args, text] : wrong) {
        const CapturedRun result = run(args);
        EXPECT_EQ(result.exitCode, 2) << text;
        EXPECT_EQ(result.err.rfind("orvikctl: " + text + "\n", 0), 0u) << result.err;
        EXPECT_EQ(result.out, "");
    }
    EXPECT_EQ(runtime.read(orvik_test::sessionFile()), session);
    EXPECT_EQ(entries(), before);
}

TEST_F(OrvikctlLocal, RuntimeOptionChoosesTheDirectory) {
    const CapturedRun missing = orvik_test::runCaptured(ORVIKCTL_EXE, {"logout", "--runtime", runtime.file("missing")});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(contains(missing.err, "does not exist")) << missing.err;
    // Options after the command, and "--" before an address that starts with a dash.
    const CapturedRun login = orvik_test::runCaptured(
        ORVIKCTL_EXE, {"login", "--json", "--runtime=" + runtime.path(), "--", "-demo@velora.local"}, "velora\n");
    EXPECT_EQ(login.exitCode, 1);
    EXPECT_EQ(login.out, "{\"ok\":false,\"error\":\"email or password is incorrect\"}\n");
    // A trailing separator names the same directory.
    const CapturedRun slashed =
        orvik_test::runCaptured(ORVIKCTL_EXE, {"--runtime", runtime.path() + "/", "login", "demo@velora.local"}, "velora\n");
    EXPECT_EQ(slashed.exitCode, 0) << slashed.err;
    EXPECT_TRUE(runtime.exists(orvik_test::sessionFile()));
}

}  // namespace
