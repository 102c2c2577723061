// One request/reply exchange of the engine client against a stand-in service on a real pipe.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/engine/engine_test_doubles.h"
#include "tests/support/fake_service.h"
#include "tests/support/service_client.h"
#include "tests/support/temp_dir.h"

namespace {

using engine::PipeConnector;
using orvik_test::FakeReply;
using orvik_test::FakeService;

const std::string kIdle = R"({"ok":true,"running":false,"error":""})";
const std::string kUnavailable = "Velora服务未运行";
const std::string kReadFailed = "Velora服务读取失败 err=";

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

class EngineRequest : public ::testing::Test {
protected:
    engine::EngineClient client() const {
        engine::EngineClientOptions options;
        options.pipeName = pipe;
        options.connector = connector;
        options.launcher = std::make_shared<engine_test::ScriptedLauncher>();
        options.sleep = sleep.function();
        options.applicationDirectory = dir.path();
        options.runtimeDirectory = dir.path();
        return engine::EngineClient(options);
    }
    std::vector<int> sleeps() const { return *sleep.calls; }

    orvik_test::TempDir dir;
    std::string pipe = orvik_test::uniquePipeName(dir.path());
    std::shared_ptr<engine_test::CountingConnector> connector = std::make_shared<engine_test::CountingConnector>();
    engine_test::RecordingSleep sleep{std::make_shared<std::vector<int>>(), 20};
};

TEST_F(EngineRequest, WithoutServiceOneAttemptGivesUpAtOnceAndTwentySleepNineteenTimes) {
    const auto status = client().sendRequest("status", 1);
    EXPECT_FALSE(status.ok);
    EXPECT_TRUE(status.serviceUnavailable);
    EXPECT_EQ(status.error, kUnavailable);
    EXPECT_EQ(connector->opens, 1);
    EXPECT_TRUE(sleeps().empty());

    const auto connect = client().sendRequest("connect", 20, "tokyo");
    EXPECT_TRUE(connect.serviceUnavailable);
    EXPECT_EQ(connect.error, kUnavailable);
    EXPECT_EQ(connector->opens, 21);
    EXPECT_EQ(sleeps(), std::vector<int>(19, 150));
}

TEST_F(EngineRequest, AttemptsBelowOneCountAsOne) {
    for (int attempts : {0, -5}) client().sendRequest("disconnect", attempts);
    EXPECT_EQ(connector->opens, 2);
    EXPECT_TRUE(sleeps().empty());
}

TEST_F(EngineRequest, UnknownOpFailsWithoutTouchingThePipe) {
    for (const char* op : {"", "Connect", "status ", "op not allowed", "restart"}) {
        const auto result = client().sendRequest(op, 20, "node");
        EXPECT_EQ(result.error, "unsupported ipc op") << op;
        EXPECT_FALSE(result.serviceUnavailable);
        EXPECT_FALSE(result.ok);
    }
    EXPECT_EQ(connector->opens, 0);
    EXPECT_TRUE(sleeps().empty());
}

TEST_F(EngineRequest, BusyThroughEveryAttemptWaitsOnThePipeAndReportsTheServiceMissing) {
    connector->forced = PipeConnector::Status::busy;
    const auto result = client().sendRequest("connect", 3, "x");
    EXPECT_TRUE(result.serviceUnavailable);
    EXPECT_EQ(result.error, kUnavailable);
    EXPECT_EQ(connector->busyWaits, (std::vector<int>{500, 500, 500}));
    EXPECT_TRUE(sleeps().empty());
    EXPECT_TRUE(client().pipeExists());  // busy counts as present
}

TEST_F(EngineRequest, AnUnexpectedOpenErrorIsReportedWithItsCodeAndNotRetried) {
    connector->forced = PipeConnector::Status::failed;
    connector->forcedCode = 5;
    const auto result = client().sendRequest("connect", 20, "x");
    EXPECT_EQ(result.error, "无法连接Velora服务 err=5");
    EXPECT_FALSE(result.serviceUnavailable);
    EXPECT_EQ(connector->opens, 1);
    EXPECT_TRUE(client().pipeExists()) << "a pipe that refuses us is there: launching another service cannot help";
}

TEST_F(EngineRequest, RoundTripCarriesTheRequestAsJsonAndTheRepliedState) {
    FakeService fake(pipe, [](const std::string& request) {
        return request == R"({"op":"status"})" ? kIdle
                                                 : std::string(R"({"ok":false,"running":true,"error":"节点 \"东京\" 不可用\n"})");
    });
    EXPECT_FALSE(client().pipeExists());
    ASSERT_TRUE(fake.start());
    EXPECT_TRUE(client().pipeExists());
    ASSERT_TRUE(fake.waitListening());

    const auto status = client().sendRequest("status", 5);
    EXPECT_TRUE(status.ok);
    EXPECT_FALSE(status.running);
    EXPECT_EQ(status.error, "");
    ASSERT_TRUE(fake.waitListening());
    const auto connect = client().sendRequest("connect", 5, "东京 01");
    EXPECT_FALSE(connect.ok);
    EXPECT_TRUE(connect.running);
    EXPECT_FALSE(connect.serviceUnavailable);
    EXPECT_EQ(connect.error, "节点 \"东京\" 不可用\n");
    EXPECT_EQ(fake.requests(), (std::vector<std::string>{R"({"op":"status"})", R"({"op":"connect","node":"东京 01"})"}));
}

TEST_F(EngineRequest, NodeNamesWithQuotesBackslashesAndControlCharactersArriveIntact) {
    const std::string node = std::string("a\"b\\c\x01") + "d\ne\tf \x7f";
    FakeService fake(pipe, [](const std::string&) { return kIdle; });
    ASSERT_TRUE(fake.start());
    EXPECT_TRUE(client().sendRequest("connect", 5, node).ok);
    ASSERT_EQ(fake.requests().size(), 1u);
    const auto parsed = nlohmann::ordered_json::parse(fake.requests()[0], nullptr, false);
    ASSERT_TRUE(parsed.is_object()) << fake.requests()[0];
    EXPECT_EQ(parsed.size(), 2u);
    EXPECT_EQ(parsed.begin().key(), "op");
    EXPECT_EQ(parsed["op"].get<std::string>(), "connect");
    EXPECT_EQ(parsed["node"].get<std::string>(), node);
}

TEST_F(EngineRequest, ServiceAppearingBetweenAttemptsIsReachedWithoutFurtherSleeps) {
    FakeService fake(pipe, [](const std::string&) { return kIdle; });
    engine::EngineClientOptions options = client().options();
    options.sleep = [&, calls = sleep.calls](int milliseconds) {
        calls->push_back(milliseconds);
        if (calls->size() == 3) {
            ASSERT_TRUE(fake.start());
        }
    };
    const auto result = engine::EngineClient(options).sendRequest("connect", 20, "n");
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(sleeps(), std::vector<int>(3, 150));
}

TEST_F(EngineRequest, BadReplyFramesAreReadFailures) {
    const std::string tooLong("\x01\x00\x01\x00", 4);  // 65537
    const std::vector<FakeReply> replies = {
        FakeReply::raw(std::string(4, '\0')),        // length 0
        FakeReply::raw(tooLong + std::string(64, '{')),
        FakeReply::raw(std::string("\x0a\x00\x00\x00{\"ok\"", 9)),  // cut short
        FakeReply::raw(std::string("\x02\x00", 2)),   // half a length
        FakeReply::none(),
    };
    size_t next = 0;
    FakeService fake(pipe, [&](const std::string&) { return replies[next++]; });
    ASSERT_TRUE(fake.start());
    for (size_t i = 0; i < replies.size(); ++i) {
        ASSERT_TRUE(fake.waitListening());
        const auto result = client().sendRequest("status", 5);
        EXPECT_TRUE(startsWith(result.error, kReadFailed)) << i << ": " << result.error;
        EXPECT_FALSE(result.ok);
        EXPECT_FALSE(result.serviceUnavailable);
    }
    EXPECT_EQ(next, replies.size());
}

TEST_F(EngineRequest, ARequestTooLongForOneFrameIsAWriteFailureAndNothingIsSent) {
    FakeService fake(pipe, [](const std::string&) { return kIdle; });
    ASSERT_TRUE(fake.start());
    const auto result = client().sendRequest("connect", 5, std::string(70000, 'n'));
    EXPECT_TRUE(startsWith(result.error, "Velora服务写入失败 err=")) << result.error;
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(fake.requests().empty());
}

TEST(ReplyPayload, IsReadAsJson) {
    const auto idle = engine::parseReplyPayload(kIdle);
    EXPECT_TRUE(idle.ok);
    EXPECT_FALSE(idle.running);

    const auto reordered = engine::parseReplyPayload(R"( {"error":"x\"y\\z\u0001","running" : true,"ok":true} )");
    EXPECT_TRUE(reordered.ok);
    EXPECT_TRUE(reordered.running);
    EXPECT_EQ(reordered.error, "x\"y\\z\x01");

    // Only JSON true counts; a key inside a string value is no member.
    const auto strings = engine::parseReplyPayload(R"({"ok":"true","running":1,"error":7})");
    EXPECT_FALSE(strings.ok);
    EXPECT_FALSE(strings.running);
    EXPECT_EQ(strings.error, "");
    const auto hidden = engine::parseReplyPayload(R"({"error":"\"ok\":true"})");
    EXPECT_FALSE(hidden.ok);
    EXPECT_EQ(hidden.error, "\"ok\":true");
}

TEST(ReplyPayload, AnythingButAJsonObjectIsUnrecognised) {
    for (const char* text : {"ok:true", R"({"ok":true)", "[true]", "true", R"("ok")", "{\"ok\":true}\x01", ""}) {
        const auto result = engine::parseReplyPayload(text);
        EXPECT_FALSE(result.ok) << text;
        EXPECT_FALSE(result.running);
        EXPECT_FALSE(result.serviceUnavailable);
        EXPECT_EQ(result.error, "Velora服务回复无法识别") << text;
    }
}

TEST(RequestPayload, IsCompactJsonWithOpFirstAndNodeOnlyWhenGiven) {
    EXPECT_EQ(engine::buildRequestPayload("status", ""), R"({"op":"status"})");
    EXPECT_EQ(engine::buildRequestPayload("connect", "NAME"), R"({"op":"connect","node":"NAME"})");
    EXPECT_EQ(engine::buildRequestPayload("connect", "a\"b\\c"), R"({"op":"connect","node":"a\"b\\c"})");
    // Bytes that are not UTF-8 cannot go into JSON as they are; they become U+FFFD.
    EXPECT_EQ(engine::buildRequestPayload("connect", "x\xff"), "{\"op\":\"connect\",\"node\":\"x\xef\xbf\xbd\"}");
}

}  // namespace
