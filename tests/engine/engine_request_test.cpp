// One request/reply exchange of the engine client against a stand-in service on a real pipe:
// the attempts, busy and missing pipes, and replies that are broken or not JSON.
#include <chrono>
#include <future>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/engine/engine_test_doubles.h"
#include "tests/support/fake_service.h"
#include "tests/support/temp_dir.h"

namespace {

using engine::PipeConnector;
using orvik_test::FakeReply;
using orvik_test::FakeService;

const std::string kIdle = R"({"ok":true,"running":false,"error":""})";
const std::string kUnavailable = "Velora服务未运行";

class EngineRequest : public ::testing::Test {
protected:
    engine::EngineClient client() const { return seams.client(pipe, dir.path(), dir.path()); }

    orvik_test::TempDir dir;
    std::string pipe = orvik_test::uniquePipeName(dir.path());
    engine_test::Seams seams;
};

// A service appearing between attempts is reached without further sleeps.
TEST_F(EngineRequest, WithoutServiceEachAttemptOpensOnceWith150MsBetween) {
    for (const int attempts : {-5, 20}) {
        const auto result = client().sendRequest("connect", attempts, "tokyo");
        EXPECT_TRUE(result.serviceUnavailable);
        EXPECT_EQ(result.error, kUnavailable);
    }
    EXPECT_EQ(seams.connector->opens, 21) << "attempts below one count as one";
    EXPECT_EQ(*seams.sleeps, std::vector<int>(19, 150));
    seams.sleeps->clear();
    FakeService fake(pipe, [](const std::string&) { return kIdle; });
    seams.onSleep = [&](int) {
        if (seams.sleeps->size() == 3) {
            ASSERT_TRUE(fake.start());
        }
    };
    EXPECT_TRUE(client().sendRequest("connect", 20, "n").ok);
    EXPECT_EQ(*seams.sleeps, std::vector<int>(3, 150));
}

TEST_F(EngineRequest, AnUnknownOpTouchesNoPipeAndAnOpenErrorIsReportedWithItsCodeAndNotRetried) {
    seams.connector->forced = PipeConnector::Status::failed;
    seams.connector->forcedCode = 5;
    for (const char* op : {"", "Connect", "status ", "restart"}) {
        const auto result = client().sendRequest(op, 20, "node");
        EXPECT_EQ(result.error, "unsupported ipc op") << op;
        EXPECT_FALSE(result.serviceUnavailable || result.ok);
    }
    EXPECT_EQ(seams.connector->opens, 0);
    const auto result = client().sendRequest("connect", 20, "x");
    EXPECT_EQ(result.error, "无法连接Velora服务 err=5");
    EXPECT_FALSE(result.serviceUnavailable);
    EXPECT_EQ(seams.connector->opens, 1);
    EXPECT_TRUE(client().pipeExists()) << "a pipe that refuses us is there: launching another service cannot help";
}

TEST_F(EngineRequest, AServiceBusyWithAnotherClientIsBusyThroughEveryAttempt) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    FakeService fake(pipe, [released](const std::string&) {
        released.wait();
        return kIdle;
    });
    ASSERT_TRUE(fake.start());
    auto first = std::async(std::launch::async, [&] { return client().sendRequest("status", 1); });
    ASSERT_TRUE(fake.waitForRequests(1, 10000));
    const auto giveBack = engine_test::occupyRemainingRoom(pipe);
    const auto result = client().sendRequest("connect", 2, "n");
    EXPECT_TRUE(result.serviceUnavailable);
    EXPECT_EQ(result.error, kUnavailable);
    EXPECT_TRUE(client().pipeExists()) << "busy counts as present";
    EXPECT_EQ(seams.connector->busyWaits, (std::vector<int>{500, 500})) << "waited on, not slept on";
    EXPECT_TRUE(seams.sleeps->empty());
    giveBack();
    release.set_value();
    EXPECT_TRUE(first.get().ok);
}

TEST_F(EngineRequest, RoundTripCarriesTheRequestAsJsonAndTheRepliedState) {
    const std::string node = std::string("东京 \"01\"\\\x01") + "\n\t\x7f";
    FakeService fake(pipe, [](const std::string& request) {
        return request == R"({"op":"status"})" ? kIdle : std::string(R"({"error":"节点 \"东京\" 不可用\n","running":true,"ok":false})");
    });
    EXPECT_FALSE(client().pipeExists());
    ASSERT_TRUE(fake.start());
    const auto status = client().sendRequest("status", 5);
    EXPECT_TRUE(status.ok && !status.running && status.error.empty());
    const auto connect = client().sendRequest("connect", 5, node);
    EXPECT_FALSE(connect.ok || connect.serviceUnavailable);
    EXPECT_TRUE(connect.running);
    EXPECT_EQ(connect.error, "节点 \"东京\" 不可用\n");
    ASSERT_EQ(fake.requests().size(), 2u);
    const auto sent = nlohmann::ordered_json::parse(fake.requests()[1], nullptr, false);
    ASSERT_TRUE(sent.is_object() && sent.size() == 2u) << fake.requests()[1];
    EXPECT_EQ(sent.begin().key(), "op");
    EXPECT_EQ(sent["node"].get<std::string>(), node);
    EXPECT_EQ(engine::buildRequestPayload("connect", "x\xff"), "{\"op\":\"connect\",\"node\":\"x\xef\xbf\xbd\"}");
}

TEST_F(EngineRequest, BadReplyFramesAreReadFailuresAndATooLongRequestIsNeverSent) {
    const std::vector<FakeReply> replies = {
        FakeReply::raw(std::string(4, '\0')),                              // length 0
        FakeReply::raw(std::string("\x01\x00\x01\x00", 4) + std::string(64, '{')),  // 65537
        FakeReply::raw(std::string("\x0a\x00\x00\x00{\"ok\"", 9)),          // cut short
        FakeReply::raw(std::string("\x02\x00", 2)),                        // half a length
        FakeReply::none(),
    };
    size_t next = 0;
    FakeService fake(pipe, [&](const std::string&) { return replies[next++]; });
    ASSERT_TRUE(fake.start());
    for (size_t i = 0; i < replies.size(); ++i) {
        const auto result = client().sendRequest("status", 5);
        EXPECT_EQ(result.error.rfind("Velora服务读取失败 err=", 0), 0u) << i << ": " << result.error;
        EXPECT_FALSE(result.ok || result.serviceUnavailable);
    }
    EXPECT_EQ(next, replies.size());
    const auto tooLong = client().sendRequest("connect", 5, std::string(70000, 'n'));
    EXPECT_EQ(tooLong.error.rfind("Velora服务写入失败 err=", 0), 0u) << tooLong.error;
    EXPECT_EQ(fake.requests().size(), replies.size());
}

TEST(ReplyPayload, IsReadAsJsonAndOnlyAnObjectCounts) {
    const auto reordered = engine::parseReplyPayload(R"( {"error":"x\"y\\z\u0001","running" : true,"ok":true} )");
    EXPECT_TRUE(reordered.ok && reordered.running);
    EXPECT_EQ(reordered.error, "x\"y\\z\x01");
    // Only JSON true counts; a key inside a string value is no member.
    const auto strings = engine::parseReplyPayload(R"({"ok":"true","running":1,"error":"\"ok\":true"})");
    EXPECT_FALSE(strings.ok || strings.running);
    EXPECT_EQ(strings.error, "\"ok\":true");
    for (const char* text : {"ok:true", R"({"ok":true)", "[true]", "true", "{\"ok\":true}\x01", ""}) {
        const auto result = engine::parseReplyPayload(text);
        EXPECT_FALSE(result.ok || result.running || result.serviceUnavailable) << text;
        EXPECT_EQ(result.error, "Velora服务回复无法识别") << text;
    }
}

}  // namespace
