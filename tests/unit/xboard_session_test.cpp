#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/support/http_test_server.h"
#include "tests/support/temp_dir.h"
#include "vpn/xboard_control_plane.h"

namespace {

using orvik_test::HttpReply;
using orvik_test::HttpRequestRecord;
using orvik_test::HttpTestServer;
using orvik_test::TempDir;

TEST(StripTrailingSeparators, RemovesOnlyTheTail) {
    EXPECT_EQ(vpn::stripTrailingSeparators("https://panel.example/\\//"), "https://panel.example");
    EXPECT_EQ(vpn::stripTrailingSeparators("https://panel.example/api"), "https://panel.example/api");
    EXPECT_EQ(vpn::stripTrailingSeparators("/\\"), "");
    EXPECT_EQ(vpn::stripTrailingSeparators(""), "");
}

class XboardSessionTest : public ::testing::Test {
protected:
    vpn::XboardControlPlane plane(const std::string& apiBase = "https://panel.example/") const {
        return {apiBase, dir.file("session.json"), "https://devices.example//"};
    }

    TempDir dir;
};

TEST_F(XboardSessionTest, ConstructionStripsBasesAndStartsSignedOut) {
    const auto control = plane();
    EXPECT_EQ(control.apiBase(), "https://panel.example");
    EXPECT_EQ(control.deviceApi(), "https://devices.example");
    EXPECT_EQ(control.token(), "");
    EXPECT_EQ(control.email(), "");
}

TEST_F(XboardSessionTest, SavedSessionIsRestored) {
    dir.write("session.json", "{\"email\":\"qu\\\"ote@example.com\",\"auth_data\":\"Bearer a\\\\b\\\"c\"}\n");
    const auto control = plane();
    EXPECT_EQ(control.token(), "Bearer a\\b\"c");
    EXPECT_EQ(control.email(), "qu\"ote@example.com");
}

TEST_F(XboardSessionTest, DamagedSessionReadsAsSignedOut) {
    dir.write("session.json", "{\"email\":\"a@b.c\",\"auth_data\":");
    EXPECT_EQ(plane().token(), "");
}

TEST_F(XboardSessionTest, LogoutForgetsAndDeletesTheSession) {
    dir.write("session.json", R"({"email":"a@b.c","auth_data":"T"})");
    auto control = plane();
    ASSERT_EQ(control.token(), "T");
    control.logout();
    EXPECT_EQ(control.token(), "");
    EXPECT_EQ(control.email(), "");
    EXPECT_FALSE(dir.exists("session.json"));
    EXPECT_EQ(plane().token(), "");
    control.logout();  // nothing left to delete
}

TEST_F(XboardSessionTest, LoginSavesTheSessionAsValidJson) {
    const nlohmann::ordered_json reply = {{"data", {{"token", "plain"}, {"auth_data", "Bearer x\"y\\z"}}}};
    HttpTestServer server([&](const HttpRequestRecord&) { return HttpReply{200, reply.dump(), {}}; });
    auto control = plane(server.origin() + "/");
    std::string error;
    ASSERT_TRUE(control.login("qu\"ote\\@example.com", "pw", error)) << error;
    EXPECT_EQ(control.token(), "Bearer x\"y\\z");  // auth_data wins over token
    EXPECT_EQ(dir.read("session.json"),
              "{\"email\":\"qu\\\"ote\\\\@example.com\",\"auth_data\":\"Bearer x\\\"y\\\\z\"}\n");

    const auto restored = plane(server.origin());
    EXPECT_EQ(restored.token(), "Bearer x\"y\\z");
    EXPECT_EQ(restored.email(), "qu\"ote\\@example.com");
    for (const HttpRequestRecord& request : server.requests()) {
        EXPECT_EQ(request.path, "/api/v1/passport/auth/login");  // one slash after the origin
    }
}

TEST_F(XboardSessionTest, TopLevelTokenIsTakenWhenDataHasNone) {
    HttpTestServer server([](const HttpRequestRecord&) {
        return HttpReply{200, R"({"data":{"is_admin":false},"token":"top"})", {}};
    });
    auto control = plane(server.origin());
    std::string error;
    ASSERT_TRUE(control.login("a@b.c", "pw", error)) << error;
    EXPECT_EQ(control.token(), "top");
}

TEST_F(XboardSessionTest, UnwritableSessionFailsLoginWithItsText) {
    HttpTestServer server([](const HttpRequestRecord&) {
        return HttpReply{200, R"({"data":{"auth_data":"T"}})", {}};
    });
    vpn::XboardControlPlane control(server.origin(), dir.file("missing/session.json"), "");
    std::string error;
    EXPECT_FALSE(control.login("a@b.c", "pw", error));
    EXPECT_EQ(error, "无法保存登录状态");
    EXPECT_FALSE(dir.exists("missing"));
}

}  // namespace
