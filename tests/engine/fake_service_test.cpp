// The stand-in service itself: what the engine client's tests rely on.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/support/fake_service.h"
#include "tests/support/service_client.h"
#include "tests/support/temp_dir.h"

namespace {

using orvik_test::FakeReply;
using orvik_test::FakeService;

TEST(FakeService, RecordsRequestsAndAnswersWithTheScriptedPayload) {
    orvik_test::TempDir dir;
    FakeService fake(orvik_test::uniquePipeName(dir.path()),
                     [](const std::string& request) { return "echo:" + request; });
    ASSERT_TRUE(fake.start());
    EXPECT_EQ(orvik_test::request(fake.pipe(), R"({"op":"status"})"), std::optional<std::string>("echo:{\"op\":\"status\"}"));
    ASSERT_TRUE(fake.waitListening());
    EXPECT_EQ(orvik_test::request(fake.pipe(), "x"), std::optional<std::string>("echo:x"));
    EXPECT_EQ(fake.requests(), (std::vector<std::string>{R"({"op":"status"})", "x"}));
}

TEST(FakeService, LookalikeShutdownTakesThePipeAwayAndStartServesAgain) {
    orvik_test::TempDir dir;
    FakeService fake(orvik_test::uniquePipeName(dir.path()), FakeService::lookalike());
    ASSERT_TRUE(fake.start());
    EXPECT_EQ(orvik_test::request(fake.pipe(), R"({"op":"connect","node":"a"})"),
              std::optional<std::string>(R"({"ok":true,"running":true,"error":""})"));
    ASSERT_TRUE(fake.waitListening());
    EXPECT_EQ(orvik_test::request(fake.pipe(), R"({"op":"shutdown"})"),
              std::optional<std::string>(R"({"ok":true,"running":false,"error":""})"));
    for (int i = 0; i < 200 && fake.serving(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(fake.serving());
    EXPECT_FALSE(orvik_test::fakePipeListening(fake.pipe()));
    ASSERT_TRUE(fake.start());
    EXPECT_EQ(orvik_test::request(fake.pipe(), R"({"op":"bogus"})"),
              std::optional<std::string>(R"({"ok":false,"running":false,"error":"op not allowed"})"));
}

TEST(FakeService, RawBytesAndSilentClose) {
    orvik_test::TempDir dir;
    FakeService fake(orvik_test::uniquePipeName(dir.path()), [](const std::string& request) {
        return request == "raw" ? FakeReply::raw(std::string("\0\0\0\0", 4)) : FakeReply::none();
    });
    ASSERT_TRUE(fake.start());
    orvik_test::ServiceClient raw(fake.pipe());
    ASSERT_TRUE(raw.send(orvik_test::frame("raw")));
    EXPECT_EQ(raw.receiveUntilClosed(5000), std::optional<std::string>(std::string("\0\0\0\0", 4)));
    raw.close();
    ASSERT_TRUE(fake.waitListening());
    orvik_test::ServiceClient silent(fake.pipe());
    ASSERT_TRUE(silent.send(orvik_test::frame("quiet")));
    EXPECT_EQ(silent.receiveUntilClosed(5000), std::optional<std::string>(""));
    EXPECT_EQ(fake.requests().size(), 2u);
}

}  // namespace
