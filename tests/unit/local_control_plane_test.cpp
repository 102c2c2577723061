// The account kept in account.json: sign-in, the node it carries, expiry and the texts of
// broken or missing files.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/support/temp_dir.h"
#include "vpn/calendar.h"
#include "vpn/local_control_plane.h"

namespace {

constexpr const char* kEmail = "user@example.com";
constexpr const char* kPassword = "s3cret";

std::string dateText(int64_t seconds) {
    const vpn::CivilDate date = vpn::civilFromUnix(seconds);
    char text[40];
    std::snprintf(text, sizeof text, "%lld-%02u-%02u", static_cast<long long>(date.year), date.month, date.day);
    return text;
}

std::string accountJson(const std::string& expireAt, const std::string& port = "443") {
    return std::string(R"({"email": "user@example.com", "password": "s3cret", "expireAt": ")") + expireAt +
           R"(", "deviceLimit": 3, "nodeName": "东京 A", "address": "198.18.0.10", "port": )" + port +
           R"(, "uuid": "0b1c2d3e-0000-4000-8000-000000000001", "sni": "", "publicKey": "PBK", "shortId": "ab12"})" "\n";
}

class LocalControlPlaneTest : public ::testing::Test {
protected:
    vpn::LocalControlPlane plane() const { return {dir.file("account.json"), dir.file("session.json")}; }
    // Signs in the way login does, whatever account.json says.
    void writeSession(const std::string& email) { dir.write("session.json", "{\"email\":\"" + email + "\",\"expireAt\":\"x\"}\n"); }
    std::string fetchError() {
        vpn::AccountRecord account;
        std::string error;
        EXPECT_FALSE(plane().fetchAccount(account, error));
        return error;
    }

    orvik_test::TempDir dir;
};

TEST_F(LocalControlPlaneTest, LoginWritesSessionAndAccountCarriesTheNode) {
    dir.write("account.json", "\xEF\xBB\xBF" + accountJson("2999-12-31"));  // a byte order mark reads the same
    auto control = plane();
    std::string error;
    for (const auto& [email, password] : {std::pair{"USER@example.com", kPassword}, std::pair{kEmail, "S3cret"}, std::pair{kEmail, ""}}) {
        EXPECT_FALSE(control.login(email, password, error));
        EXPECT_EQ(error, "email or password is incorrect");
    }
    EXPECT_FALSE(dir.exists("session.json"));
    ASSERT_TRUE(control.login(kEmail, kPassword, error)) << error;
    EXPECT_EQ(dir.read("session.json"), "{\"email\":\"user@example.com\",\"expireAt\":\"2999-12-31\"}\n");

    vpn::AccountRecord account;
    ASSERT_TRUE(control.fetchAccount(account, error)) << error;
    EXPECT_TRUE(account.signedIn && account.hasPlan && !account.expired);
    EXPECT_EQ(std::to_string(account.usedDevices) + "/" + std::to_string(account.deviceLimit) + " " + account.email + " " + account.expiresAt,
              "1/3 user@example.com 2999-12-31");
    ASSERT_EQ(account.nodes.size(), 1u);
    const vpn::NodeRecord& node = account.nodes[0];
    EXPECT_EQ(node.name + "|" + node.address + "|" + std::to_string(node.port) + "|" + node.uuid, "东京 A|198.18.0.10|443|0b1c2d3e-0000-4000-8000-000000000001");
    EXPECT_EQ(node.flow + "|" + node.fingerprint, "xtls-rprx-vision|chrome");  // omitted: defaults
    EXPECT_EQ(node.serverName + "|" + node.publicKey + "|" + node.shortId, "|PBK|ab12");  // named empty: stays empty

    dir.write("account.json", accountJson("2999-12-31", "\"443\""));
    EXPECT_FALSE(control.fetchAccount(account, error));
    EXPECT_EQ(error, "account.json is missing node fields");  // a quoted port reads 0
    ASSERT_EQ(account.nodes.size(), 1u);  // the incomplete node stays in the list
    dir.write("account.json", R"({"email":"user@example.com","expireAt":"2999-1-1","address":"h","port":1,"uuid":"u"})");
    ASSERT_TRUE(control.fetchAccount(account, error)) << error;
    EXPECT_EQ(account.deviceLimit, 1);  // by default

    control.logout();
    EXPECT_FALSE(dir.exists("session.json"));
    EXPECT_TRUE(dir.exists("account.json"));
    EXPECT_EQ(fetchError(), "not logged in");
    control.logout();  // nothing to remove: no effect
}

TEST_F(LocalControlPlaneTest, TodayIsStillValidYesterdayAndUnreadableDatesHaveExpired) {
    dir.write("account.json", accountJson(dateText(vpn::unixNow())));
    auto control = plane();
    std::string error;
    ASSERT_TRUE(control.login(kEmail, kPassword, error)) << error;
    vpn::AccountRecord account;
    EXPECT_TRUE(control.fetchAccount(account, error)) << error;

    dir.write("account.json", accountJson(dateText(vpn::unixNow() - 86400)));
    account.nodes.resize(2);
    EXPECT_FALSE(control.fetchAccount(account, error));
    EXPECT_EQ(error, "account expired");
    EXPECT_TRUE(account.signedIn && account.expired && !account.hasPlan && account.nodes.empty());
    control.logout();
    for (const char* expireAt : {"yesterday", "", "soon", "2999-12"}) {
        if (std::string(expireAt) != "yesterday") dir.write("account.json", accountJson(expireAt));
        error.clear();
        EXPECT_FALSE(control.login(kEmail, kPassword, error)) << expireAt;
        EXPECT_EQ(error, "account expired");
        EXPECT_FALSE(dir.exists("session.json"));
    }
}

TEST_F(LocalControlPlaneTest, BrokenMissingAndForeignFiles) {
    std::string error;
    EXPECT_FALSE(plane().login(kEmail, kPassword, error));
    EXPECT_EQ(error, "cannot read " + dir.file("account.json"));
    EXPECT_EQ(fetchError(), "not logged in");
    writeSession(kEmail);
    EXPECT_EQ(fetchError(), "cannot read " + dir.file("account.json"));

    dir.write("account.json", R"({"email":"user@example.com","password":)");
    const std::string session = dir.read("session.json");
    error.clear();
    EXPECT_FALSE(plane().login(kEmail, kPassword, error));
    EXPECT_EQ(error, "cannot parse " + dir.file("account.json"));
    EXPECT_EQ(dir.read("session.json"), session);  // unchanged
    EXPECT_EQ(fetchError(), "cannot parse " + dir.file("account.json"));

    // Editing the account's e-mail signs every session out.
    dir.write("account.json", accountJson("2999-12-31"));
    writeSession("other@example.com");
    EXPECT_EQ(fetchError(), "session does not match account");
    dir.write("session.json", "not json");
    EXPECT_EQ(fetchError(), "session does not match account");
}

// The shop and registration are the panel's; the device slot is always granted.
TEST_F(LocalControlPlaneTest, UnsupportedOperationsFailWithoutTouchingFiles) {
    dir.write("account.json", accountJson("2999-12-31"));
    writeSession(kEmail);
    const std::string before = dir.read("account.json") + dir.read("session.json");
    auto control = plane();
    vpn::RegisterOptions options{true, true, true};
    std::vector<vpn::PlanOffer> offers(2);
    vpn::CheckoutResult result{true, "T1", "https://pay.example", "old"};
    bool paid = true;
    std::string e[6];
    const bool any = control.fetchRegisterOptions(options, e[0]) || control.sendRegisterEmail(kEmail, e[1]) ||
                     control.registerAccount(kEmail, kPassword, "invite", "123456", e[2]) || control.fetchPlans(offers, e[3]) ||
                     control.buyPlan(1, "month_price", result, e[4]) || control.checkOrder("T1", paid, e[5]);
    EXPECT_FALSE(any);
    EXPECT_EQ(e[0] + e[1] + e[2] + e[3] + e[4] + e[5], "当前环境不支持注册当前环境不支持发送验证码当前环境不支持注册"
                                                        "当前环境不支持购买套餐当前环境不支持购买套餐当前环境不支持查询订单");
    EXPECT_FALSE(options.emailVerify || options.inviteForce || options.recaptcha || paid || result.activated);
    EXPECT_TRUE(offers.empty() && result.tradeNo.empty() && result.paymentUrl.empty() && result.message.empty());
    int32_t used = 0;
    int32_t limit = 0;
    std::string error;
    EXPECT_TRUE(control.claimDevice("device", used, limit, error));
    EXPECT_EQ(std::to_string(used) + "/" + std::to_string(limit) + error, "1/1");
    EXPECT_EQ(dir.read("account.json") + dir.read("session.json"), before);
}

TEST(IsDateExpired, ComparesWithTodayInUtc) {
    const vpn::CivilDate now = vpn::todayUtc();
    const auto date = [](long long year, unsigned month, unsigned day) {
        return std::to_string(year) + "-" + std::to_string(month) + "-" + std::to_string(day);
    };
    const std::pair<std::string, bool> cases[] = {
        {dateText(vpn::unixNow()), false}, {dateText(vpn::unixNow() - 86400), true}, {dateText(vpn::unixNow() + 86400), false},
        {date(now.year + 1, 1, 1), false}, {date(now.year - 1, 12, 31), true},  // year before month before day
        {date(now.year, 12, 32), false}, {"", true}, {"2999", true}, {"2999-12", true}, {"2999/12/31", true},
        {"year-12-31", true}, {"-", true}, {" 2999-1-01 trailing", false},  // read like "%d-%d-%d"
        {"99999999999999999999-1-1", false},  // huge years do not overflow
    };
    for (const auto& [text, expired] : cases) EXPECT_EQ(vpn::isDateExpired(text), expired) << text;
}

}  // namespace
