// The account kept in account.json: sign-in, the node it carries, expiry and the texts of
// broken or missing files.
#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "vpn/calendar.h"
#include "vpn/local_control_plane.h"

namespace {

constexpr const char* kEmail = "user@example.com";
constexpr const char* kPassword = "s3cret";

std::string dateText(int64_t year, unsigned month, unsigned day) {
    return std::to_string(year) + "-" + std::to_string(month) + "-" + std::to_string(day);
}

std::string daysFromToday(int64_t days) {
    const vpn::CivilDate date = vpn::civilFromUnix(vpn::unixNow() + days * 86400);
    return dateText(date.year, date.month, date.day);
}

std::string accountJson(const std::string& expireAt, const std::string& port = "443") {
    return R"({"email": "user@example.com", "password": "s3cret", "expireAt": ")" + expireAt +
           R"(", "deviceLimit": 3, "nodeName": "东京 A", "address": "198.18.0.10", "port": )" + port +
           R"(, "uuid": "0b1c2d3e-0000-4000-8000-000000000001", "sni": "", "publicKey": "PBK",)"
           R"( "shortId": "ab12"})" "\n";
}

class LocalControlPlaneTest : public ::testing::Test {
protected:
    vpn::LocalControlPlane plane() const { return {dir.file("account.json"), dir.file("session.json")}; }
    // Signs in the way login does, whatever account.json says.
    void writeSession(const std::string& email) {
        dir.write("session.json", "{\"email\":\"" + email + "\",\"expireAt\":\"x\"}\n");
    }
    std::string fetchError() {
        vpn::AccountRecord account;
        std::string error;
        EXPECT_FALSE(plane().fetchAccount(account, error));
        return error;
    }

    orvik_test::TempDir dir;
};

TEST_F(LocalControlPlaneTest, LoginWritesSessionAndAccountCarriesTheNode) {
    dir.write("account.json", "\xEF\xBB\xBF" + accountJson("2999-12-31"));  // a byte order mark: the same
    auto control = plane();
    std::string error;
    EXPECT_FALSE(control.login("USER@example.com", kPassword, error) || control.login(kEmail, "S3", error));
    EXPECT_EQ(error, "email or password is incorrect");
    EXPECT_FALSE(dir.exists("session.json"));
    ASSERT_TRUE(control.login(kEmail, kPassword, error)) << error;
    EXPECT_EQ(dir.read("session.json"), "{\"email\":\"user@example.com\",\"expireAt\":\"2999-12-31\"}\n");

    vpn::AccountRecord account;
    ASSERT_TRUE(control.fetchAccount(account, error)) << error;
    EXPECT_TRUE(account.signedIn && account.hasPlan && !account.expired);
    EXPECT_EQ(std::to_string(account.usedDevices) + "/" + std::to_string(account.deviceLimit) + " " +
                  account.email + " " + account.expiresAt,
              "1/3 user@example.com 2999-12-31");
    ASSERT_EQ(account.nodes.size(), 1u);
    const vpn::NodeRecord& node = account.nodes[0];
    EXPECT_EQ(node.name + "|" + node.address + "|" + std::to_string(node.port) + "|" + node.uuid + "|" +
                  node.flow + "|" + node.fingerprint + "|" + node.serverName + "|" + node.publicKey + "|" +
                  node.shortId,  // flow and fingerprint omitted: defaults; sni named empty: empty
              "东京 A|198.18.0.10|443|0b1c2d3e-0000-4000-8000-000000000001|xtls-rprx-vision|chrome||PBK|ab12");

    dir.write("account.json", accountJson("2999-12-31", "\"443\""));
    EXPECT_EQ(fetchError(), "account.json is missing node fields");  // a quoted port reads 0
    dir.write("account.json", R"({"email":"user@example.com","expireAt":"2999-1-1","address":"h","port":1,)"
                              R"("uuid":"u"})");
    ASSERT_TRUE(control.fetchAccount(account, error)) << error;
    EXPECT_EQ(account.deviceLimit, 1);  // by default

    control.logout();
    EXPECT_TRUE(!dir.exists("session.json") && dir.exists("account.json"));
    EXPECT_EQ(fetchError(), "not logged in");
}

TEST_F(LocalControlPlaneTest, AnExpiredAccountCarriesNoNodesAndCannotSignIn) {
    dir.write("account.json", accountJson(daysFromToday(-1)));
    writeSession(kEmail);
    vpn::AccountRecord account;
    account.nodes.resize(2);
    std::string error;
    EXPECT_FALSE(plane().fetchAccount(account, error));
    EXPECT_EQ(error, "account expired");
    EXPECT_TRUE(account.signedIn && account.expired && !account.hasPlan && account.nodes.empty());
    plane().logout();
    EXPECT_FALSE(plane().login(kEmail, kPassword, error));
    EXPECT_EQ(error, "account expired");
    EXPECT_FALSE(dir.exists("session.json"));
}

TEST_F(LocalControlPlaneTest, BrokenMissingAndForeignFiles) {
    std::string error;
    EXPECT_FALSE(plane().login(kEmail, kPassword, error));
    EXPECT_EQ(error, "cannot read " + dir.file("account.json"));
    EXPECT_EQ(fetchError(), "not logged in");
    writeSession(kEmail);
    EXPECT_EQ(fetchError(), "cannot read " + dir.file("account.json"));

    dir.write("account.json", R"({"email":"user@example.com","password":)");
    EXPECT_FALSE(plane().login(kEmail, kPassword, error));
    EXPECT_EQ(error, "cannot parse " + dir.file("account.json"));
    EXPECT_EQ(fetchError(), "cannot parse " + dir.file("account.json"));
    EXPECT_EQ(dir.read("session.json"), "{\"email\":\"user@example.com\",\"expireAt\":\"x\"}\n");

    // Editing the account's e-mail signs every session out; so does a damaged session.
    dir.write("account.json", accountJson("2999-12-31"));
    writeSession("other@example.com");
    EXPECT_EQ(fetchError(), "session does not match account");
    dir.write("session.json", "not json");
    EXPECT_EQ(fetchError(), "session does not match account");
}

// The shop and registration are the panel's; the device slot is always granted.
TEST_F(LocalControlPlaneTest, UnsupportedOperationsFailAndClearTheirResults) {
    auto control = plane();
    vpn::RegisterOptions options{true, true, true};
    std::vector<vpn::PlanOffer> offers(2);
    vpn::CheckoutResult result{true, "T1", "https://pay.example", "old"};
    bool paid = true;
    std::string e[6];
    EXPECT_FALSE(control.fetchRegisterOptions(options, e[0]) || control.sendRegisterEmail(kEmail, e[1]) ||
                 control.registerAccount(kEmail, kPassword, "", "", e[2]) ||
                 control.fetchPlans(offers, e[3]) || control.buyPlan(1, "month_price", result, e[4]) ||
                 control.checkOrder("T1", paid, e[5]) || e[0].empty() || e[1].empty() || e[2].empty() ||
                 e[3].empty() || e[4].empty() || e[5].empty());
    EXPECT_FALSE(options.emailVerify || paid || result.activated || !offers.empty() || result.tradeNo != "");
    int32_t used = 0;
    int32_t limit = 0;
    EXPECT_TRUE(control.claimDevice("device", used, limit, e[0]));
    EXPECT_EQ(std::to_string(used) + "/" + std::to_string(limit), "1/1");
}

}  // namespace
