#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "tests/support/temp_dir.h"
#include "vpn/calendar.h"
#include "vpn/local_control_plane.h"

namespace {

using orvik_test::TempDir;

std::string dateText(const vpn::CivilDate& date) {
    char text[40];
    std::snprintf(text, sizeof text, "%lld-%02u-%02u", static_cast<long long>(date.year), date.month, date.day);
    return text;
}

std::string today() { return dateText(vpn::todayUtc()); }
std::string yesterday() { return dateText(vpn::civilFromUnix(vpn::unixNow() - 86400)); }

constexpr const char* kEmail = "user@example.com";
constexpr const char* kPassword = "s3cret";

std::string accountJson(const std::string& expireAt, const std::string& portValue = "443") {
    return std::string("{\n  \"email\": \"") + kEmail + "\",\n  \"password\": \"" + kPassword +
           "\",\n  \"expireAt\": \"" + expireAt +
           "\",\n  \"deviceLimit\": 3,\n  \"nodeName\": \"东京 A\",\n  \"address\": \"198.18.0.10\","
           "\n  \"port\": " + portValue +
           ",\n  \"uuid\": \"0b1c2d3e-0000-4000-8000-000000000001\",\n  \"sni\": \"\","
           "\n  \"publicKey\": \"PBK\",\n  \"shortId\": \"ab12\"\n}\n";
}

class LocalControlPlaneTest : public ::testing::Test {
protected:
    void writeAccount(const std::string& text) { dir.write("account.json", text); }
    vpn::LocalControlPlane plane() const { return {dir.file("account.json"), dir.file("session.json")}; }

    // Signs in by writing the session the way login does, whatever account.json says.
    void writeSession(const std::string& email) {
        dir.write("session.json", "{\"email\":\"" + email + "\",\"expireAt\":\"2999-01-01\"}\n");
    }

    TempDir dir;
};

TEST_F(LocalControlPlaneTest, LoginWritesSessionAndAccountCarriesTheNode) {
    writeAccount(accountJson("2999-12-31"));
    auto control = plane();
    std::string error;
    ASSERT_TRUE(control.login(kEmail, kPassword, error)) << error;
    EXPECT_EQ(dir.read("session.json"), "{\"email\":\"user@example.com\",\"expireAt\":\"2999-12-31\"}\n");

    vpn::AccountRecord account;
    ASSERT_TRUE(control.fetchAccount(account, error)) << error;
    EXPECT_TRUE(account.signedIn);
    EXPECT_FALSE(account.expired);
    EXPECT_TRUE(account.hasPlan);
    EXPECT_EQ(account.deviceLimit, 3);
    EXPECT_EQ(account.usedDevices, 1);
    EXPECT_EQ(account.email, kEmail);
    EXPECT_EQ(account.expiresAt, "2999-12-31");
    ASSERT_EQ(account.nodes.size(), 1u);
    const vpn::NodeRecord& node = account.nodes[0];
    EXPECT_EQ(node.name, "东京 A");
    EXPECT_EQ(node.address, "198.18.0.10");
    EXPECT_EQ(node.port, 443);
    EXPECT_EQ(node.uuid, "0b1c2d3e-0000-4000-8000-000000000001");
    EXPECT_EQ(node.flow, "xtls-rprx-vision");  // omitted: default
    EXPECT_EQ(node.fingerprint, "chrome");     // omitted: default
    EXPECT_EQ(node.serverName, "");            // named empty: stays empty
    EXPECT_EQ(node.publicKey, "PBK");
    EXPECT_EQ(node.shortId, "ab12");
}

TEST_F(LocalControlPlaneTest, WrongCredentialsWriteNoSession) {
    writeAccount(accountJson("2999-12-31"));
    auto control = plane();
    for (const auto& [email, password] : {std::pair{"USER@example.com", kPassword},
                                          std::pair{kEmail, "S3cret"}, std::pair{kEmail, ""}}) {
        std::string error;
        EXPECT_FALSE(control.login(email, password, error));
        EXPECT_EQ(error, "email or password is incorrect");
    }
    EXPECT_FALSE(dir.exists("session.json"));
}

TEST_F(LocalControlPlaneTest, ByteOrderMarkReadsTheSameAsWithout) {
    writeAccount("\xEF\xBB\xBF" + accountJson("2999-12-31", "8443"));
    auto control = plane();
    std::string error;
    ASSERT_TRUE(control.login(kEmail, kPassword, error)) << error;
    vpn::AccountRecord account;
    ASSERT_TRUE(control.fetchAccount(account, error)) << error;
    ASSERT_EQ(account.nodes.size(), 1u);
    EXPECT_EQ(account.nodes[0].port, 8443);
}

TEST_F(LocalControlPlaneTest, TodayIsStillValidYesterdayHasExpired) {
    writeAccount(accountJson(today()));
    auto control = plane();
    std::string error;
    ASSERT_TRUE(control.login(kEmail, kPassword, error)) << error;
    vpn::AccountRecord account;
    EXPECT_TRUE(control.fetchAccount(account, error)) << error;

    writeAccount(accountJson(yesterday()));
    account.nodes.resize(2);
    error.clear();
    EXPECT_FALSE(control.fetchAccount(account, error));
    EXPECT_EQ(error, "account expired");
    EXPECT_TRUE(account.signedIn);
    EXPECT_TRUE(account.expired);
    EXPECT_FALSE(account.hasPlan);
    EXPECT_TRUE(account.nodes.empty());

    control.logout();
    error.clear();
    EXPECT_FALSE(control.login(kEmail, kPassword, error));
    EXPECT_EQ(error, "account expired");
    EXPECT_FALSE(dir.exists("session.json"));
}

TEST_F(LocalControlPlaneTest, MissingOrUnparsableExpiryCountsAsExpired) {
    for (const char* expireAt : {"", "soon", "2999-12"}) {
        writeAccount(accountJson(expireAt));
        std::string error;
        EXPECT_FALSE(plane().login(kEmail, kPassword, error)) << expireAt;
        EXPECT_EQ(error, "account expired");
    }
}

TEST_F(LocalControlPlaneTest, QuotedPortReadsZeroAndFails) {
    writeAccount(accountJson("2999-12-31", "\"443\""));
    writeSession(kEmail);
    vpn::AccountRecord account;
    std::string error;
    EXPECT_FALSE(plane().fetchAccount(account, error));
    EXPECT_EQ(error, "account.json is missing node fields");
    ASSERT_EQ(account.nodes.size(), 1u);  // the incomplete node stays in the list
    EXPECT_EQ(account.nodes[0].port, 0);
}

TEST_F(LocalControlPlaneTest, DeviceLimitDefaultsToOne) {
    writeAccount("{\"email\":\"user@example.com\",\"expireAt\":\"2999-1-1\",\"address\":\"h\","
                 "\"port\":1,\"uuid\":\"u\"}");
    writeSession(kEmail);
    vpn::AccountRecord account;
    std::string error;
    ASSERT_TRUE(plane().fetchAccount(account, error)) << error;
    EXPECT_EQ(account.deviceLimit, 1);
    EXPECT_EQ(account.expiresAt, "2999-1-1");  // as the file holds it
}

TEST_F(LocalControlPlaneTest, EscapedValuesRoundTripThroughTheSession) {
    const std::string email = "qu\"ote\\back@example.com";
    const std::string password = "pa\"ss\\word/é";
    writeAccount("{\"email\":\"qu\\\"ote\\\\back@example.com\",\"password\":\"pa\\\"ss\\\\word\\/\\u00e9\","
                 "\"expireAt\":\"2999-12-31\",\"address\":\"h\",\"port\":1,\"uuid\":\"u\"}");
    auto control = plane();
    std::string error;
    ASSERT_TRUE(control.login(email, password, error)) << error;
    EXPECT_EQ(dir.read("session.json"),
              "{\"email\":\"qu\\\"ote\\\\back@example.com\",\"expireAt\":\"2999-12-31\"}\n");
    vpn::AccountRecord account;
    ASSERT_TRUE(control.fetchAccount(account, error)) << error;
    EXPECT_EQ(account.email, email);
}

TEST_F(LocalControlPlaneTest, BrokenAccountFileChangesNothing) {
    writeAccount("{\"email\":\"user@example.com\",\"password\":");
    writeSession(kEmail);
    const std::string session = dir.read("session.json");
    std::string error;
    EXPECT_FALSE(plane().login(kEmail, kPassword, error));
    EXPECT_EQ(error, "cannot parse " + dir.file("account.json"));
    EXPECT_EQ(dir.read("session.json"), session);

    vpn::AccountRecord account;
    error.clear();
    EXPECT_FALSE(plane().fetchAccount(account, error));
    EXPECT_EQ(error, "cannot parse " + dir.file("account.json"));
    EXPECT_FALSE(account.signedIn);
}

TEST_F(LocalControlPlaneTest, MissingFilesGiveTheirTexts) {
    std::string error;
    EXPECT_FALSE(plane().login(kEmail, kPassword, error));
    EXPECT_EQ(error, "cannot read " + dir.file("account.json"));

    vpn::AccountRecord account;
    error = "cannot read something";
    EXPECT_FALSE(plane().fetchAccount(account, error));
    EXPECT_EQ(error, "not logged in");

    writeSession(kEmail);
    error.clear();
    EXPECT_FALSE(plane().fetchAccount(account, error));
    EXPECT_EQ(error, "cannot read " + dir.file("account.json"));
}

TEST_F(LocalControlPlaneTest, SessionOfAnotherAccountIsSignedOut) {
    writeAccount(accountJson("2999-12-31"));
    auto control = plane();
    std::string error;
    ASSERT_TRUE(control.login(kEmail, kPassword, error));
    // Editing the account's e-mail signs every session out.
    std::string edited = accountJson("2999-12-31");
    edited.replace(edited.find(kEmail), std::string(kEmail).size(), "other@example.com");
    writeAccount(edited);
    vpn::AccountRecord account;
    EXPECT_FALSE(control.fetchAccount(account, error));
    EXPECT_EQ(error, "session does not match account");
    EXPECT_FALSE(account.signedIn);
    EXPECT_EQ(account.email, kEmail);

    dir.write("session.json", "not json");
    error.clear();
    EXPECT_FALSE(control.fetchAccount(account, error));
    EXPECT_EQ(error, "session does not match account");
}

TEST_F(LocalControlPlaneTest, LogoutRemovesTheSession) {
    writeAccount(accountJson("2999-12-31"));
    auto control = plane();
    std::string error;
    ASSERT_TRUE(control.login(kEmail, kPassword, error));
    control.logout();
    EXPECT_FALSE(dir.exists("session.json"));
    EXPECT_TRUE(dir.exists("account.json"));
    vpn::AccountRecord account;
    EXPECT_FALSE(control.fetchAccount(account, error));
    EXPECT_EQ(error, "not logged in");
    control.logout();  // nothing to remove: no effect
}

TEST_F(LocalControlPlaneTest, UnsupportedOperationsFailWithoutTouchingFiles) {
    writeAccount(accountJson("2999-12-31"));
    writeSession(kEmail);
    const std::string accountBefore = dir.read("account.json");
    const std::string sessionBefore = dir.read("session.json");
    auto control = plane();

    vpn::RegisterOptions options{true, true, true};
    std::string error;
    EXPECT_FALSE(control.fetchRegisterOptions(options, error));
    EXPECT_EQ(error, "当前环境不支持注册");
    EXPECT_FALSE(options.emailVerify || options.inviteForce || options.recaptcha);

    EXPECT_FALSE(control.sendRegisterEmail(kEmail, error));
    EXPECT_EQ(error, "当前环境不支持发送验证码");
    EXPECT_FALSE(control.registerAccount(kEmail, kPassword, "invite", "123456", error));
    EXPECT_EQ(error, "当前环境不支持注册");

    std::vector<vpn::PlanOffer> offers(2);
    EXPECT_FALSE(control.fetchPlans(offers, error));
    EXPECT_EQ(error, "当前环境不支持购买套餐");
    EXPECT_TRUE(offers.empty());

    vpn::CheckoutResult result{true, "T1", "https://pay.example", "old"};
    EXPECT_FALSE(control.buyPlan(1, "month_price", result, error));
    EXPECT_EQ(error, "当前环境不支持购买套餐");
    EXPECT_FALSE(result.activated);
    EXPECT_TRUE(result.tradeNo.empty() && result.paymentUrl.empty() && result.message.empty());

    bool paid = true;
    EXPECT_FALSE(control.checkOrder("T1", paid, error));
    EXPECT_EQ(error, "当前环境不支持查询订单");
    EXPECT_FALSE(paid);

    int32_t used = 0;
    int32_t limit = 0;
    error.clear();
    EXPECT_TRUE(control.claimDevice("device", used, limit, error));
    EXPECT_EQ(used, 1);
    EXPECT_EQ(limit, 1);
    EXPECT_EQ(error, "");

    EXPECT_EQ(dir.read("account.json"), accountBefore);
    EXPECT_EQ(dir.read("session.json"), sessionBefore);
}

TEST(IsDateExpired, ComparesWithTodayInUtc) {
    const vpn::CivilDate now = vpn::todayUtc();
    const auto date = [](long long year, unsigned month, unsigned day) {
        return std::to_string(year) + "-" + std::to_string(month) + "-" + std::to_string(day);
    };
    EXPECT_FALSE(vpn::isDateExpired(today()));
    EXPECT_TRUE(vpn::isDateExpired(yesterday()));
    EXPECT_FALSE(vpn::isDateExpired(dateText(vpn::civilFromUnix(vpn::unixNow() + 86400))));
    // Year decides before month, month before day.
    EXPECT_FALSE(vpn::isDateExpired(date(now.year + 1, 1, 1)));
    EXPECT_TRUE(vpn::isDateExpired(date(now.year - 1, 12, 31)));
    EXPECT_FALSE(vpn::isDateExpired(date(now.year, 12, 32)));
}

TEST(IsDateExpired, UnreadableTextIsExpired) {
    for (const char* text : {"", "2999", "2999-12", "2999/12/31", "year-12-31", "-"}) {
        EXPECT_TRUE(vpn::isDateExpired(text)) << text;
    }
    EXPECT_FALSE(vpn::isDateExpired(" 2999-1-01 trailing"));  // read like "%d-%d-%d"
    EXPECT_FALSE(vpn::isDateExpired("99999999999999999999-1-1"));  // huge years do not overflow
}

}  // namespace
