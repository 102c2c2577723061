// The pipe's framing, messages and request handling over an in-memory stream.
#include <atomic>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "vpn/ipc_frame.h"
#include "service/ipc_message.h"
#include "service/request_handler.h"
#include "tests/service/fakes.h"
#include "tests/support/service_client.h"
#include "tests/support/temp_dir.h"

namespace {

using service_test::FakeEngine;
using service_test::MemoryStream;

std::string lengthPrefix(uint32_t length) {
    std::string bytes;
    for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((length >> shift) & 0xFF);
    return bytes;
}

TEST(Frame, ReadsAFrameDeliveredOneByteAtATime) {
    MemoryStream stream(orvik_test::frame("{\"op\":\"status\"}") + "trailing", 1);
    std::string payload;
    unsigned long code = 99;
    ASSERT_TRUE(vpn::readFrame(stream, payload, code));
    EXPECT_EQ(payload, "{\"op\":\"status\"}");
    EXPECT_EQ(stream.position, 4u + payload.size()) << "reads no further than the frame";
}

TEST(Frame, RefusesLengthsOutsideOneTo65536WithoutReadingOn) {
    for (const uint32_t length : {0u, 65537u, 0xFFFFFFFFu}) {
        MemoryStream stream(lengthPrefix(length) + std::string(70000, 'x'));
        std::string payload;
        unsigned long code = 99;
        EXPECT_FALSE(vpn::readFrame(stream, payload, code)) << length;
        EXPECT_EQ(code, 0u);
        EXPECT_EQ(stream.position, 4u);
    }
    MemoryStream largest(lengthPrefix(65536) + std::string(65536, 'x'));
    std::string payload;
    unsigned long code = 0;
    EXPECT_TRUE(vpn::readFrame(largest, payload, code));
    EXPECT_EQ(payload.size(), 65536u);
}

TEST(Frame, ShortInputFailsWithTheStreamsCode) {
    for (const std::string& input : {std::string(), std::string("\x05\x00", 2), lengthPrefix(10) + "short"}) {
        MemoryStream stream(input);
        std::string payload;
        unsigned long code = 0;
        EXPECT_FALSE(vpn::readFrame(stream, payload, code));
        EXPECT_EQ(code, static_cast<unsigned long>(EPIPE));
        EXPECT_TRUE(payload.empty());
    }
}

TEST(Frame, WritesLengthPayloadAndFlushes) {
    MemoryStream stream("", 3);
    unsigned long code = 0;
    ASSERT_TRUE(vpn::writeFrame(stream, "{\"ok\":true}", code));
    EXPECT_EQ(stream.output, orvik_test::frame("{\"ok\":true}"));
    EXPECT_EQ(stream.flushes, 1);

    MemoryStream broken("");
    broken.failWrites = true;
    EXPECT_FALSE(vpn::writeFrame(broken, "x", code));
    EXPECT_EQ(code, 29u) << "a 0-byte write without a code of its own is a write fault";
    EXPECT_FALSE(vpn::writeFrame(stream, std::string(65537, 'x'), code));
}

TEST(Reply, OrdinaryTextsKeepTheExactLayout) {
    EXPECT_EQ(service::buildReply(true, false, ""), "{\"ok\":true,\"running\":false,\"error\":\"\"}");
    EXPECT_EQ(service::buildReply(false, true, "op not allowed"),
              "{\"ok\":false,\"running\":true,\"error\":\"op not allowed\"}");
    EXPECT_EQ(service::buildReply(false, false, "没有可用节点"),
              "{\"ok\":false,\"running\":false,\"error\":\"没有可用节点\"}");
}

TEST(Reply, ErrorTextsAreValidJsonStrings) {
    EXPECT_EQ(service::buildReply(false, false, "say \"hi\"\nC:\\x\t\x01"),
              "{\"ok\":false,\"running\":false,\"error\":\"say \\\"hi\\\"\\nC:\\\\x\\t\\u0001\"}");
    // Invalid UTF-8 from a panel becomes U+FFFD instead of breaking the reply.
    EXPECT_EQ(service::buildReply(false, false, "bad \xFF!"),
              "{\"ok\":false,\"running\":false,\"error\":\"bad \xEF\xBF\xBD!\"}");
}

TEST(Reply, AHugeErrorTextIsShortenedToFitOneFrame) {
    for (const std::string& unit : {std::string("\x01"), std::string("节")}) {
        std::string text;
        while (text.size() < 100000) text += unit;
        const std::string reply = service::buildReply(false, false, text);
        EXPECT_LE(reply.size(), vpn::kMaxFramePayload);
        const auto parsed = nlohmann::ordered_json::parse(reply, nullptr, false);
        ASSERT_FALSE(parsed.is_discarded()) << "still valid JSON";
        const std::string error = parsed["error"].get<std::string>();
        EXPECT_GT(error.size(), 4000u);
        EXPECT_EQ(error.size() % unit.size(), 0u) << "a cut never splits a character";
        EXPECT_EQ(text.compare(0, error.size(), error), 0);
    }
}

TEST(Request, ReadsOpAndNodeStrings) {
    EXPECT_EQ(service::parseRequest("{\"op\":\"status\"}").op, "status");
    const service::Request connect = service::parseRequest("{\"op\":\"connect\",\"node\":\"香港 01 \\\"x\\\"\"}");
    EXPECT_EQ(connect.op, "connect");
    EXPECT_EQ(connect.node, "香港 01 \"x\"");
    EXPECT_EQ(service::parseRequest("{\"op\":\"connect\",\"node\":7}").node, "");
    EXPECT_EQ(service::parseRequest("{\"op\":\"connect\",\"node\":null}").node, "");
    EXPECT_EQ(service::parseRequest("{\"op\":5}").op, "");
    EXPECT_EQ(service::parseRequest("not json \"op\":\"status\"").op, "");
    EXPECT_EQ(service::parseRequest("{\"node\":\"a\",\"op\":\"connect\",\"extra\":[1]}").node, "a");
}

class Handler : public ::testing::Test {
protected:
    std::string handle(const std::string& bytes) {
        MemoryStream stream(bytes);
        service::RequestContext context{log, engine, stopRequested, shutdownEndsProcess};
        service::handleRequest(stream, service::Caller{}, context);
        EXPECT_EQ(stream.deadlines.size(), stream.output.empty() ? 1u : 2u) << "a time-out for each direction";
        for (int deadline : stream.deadlines) EXPECT_EQ(deadline, service::kClientTimeoutMs);
        if (stream.output.empty()) return {};
        return orvik_test::unframe(stream.output).value_or("<not one frame>");
    }
    std::string request(const std::string& payload) { return handle(orvik_test::frame(payload)); }
    std::string logText() { return dir.read("service.log"); }

    void SetUp() override { log.setPath(dir.file("service.log")); }

    orvik_test::TempDir dir;
    service::ServiceLog log;
    FakeEngine engine;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> shutdownEndsProcess{false};
};

TEST_F(Handler, StatusOnAnIdleServiceAndAfterAConnect) {
    EXPECT_EQ(request("{\"op\":\"status\"}"), "{\"ok\":true,\"running\":false,\"error\":\"\"}");
    EXPECT_EQ(request("{\"op\":\"connect\",\"node\":\"东京\"}"), "{\"ok\":true,\"running\":true,\"error\":\"\"}");
    EXPECT_EQ(request("{\"op\":\"status\"}"), "{\"ok\":true,\"running\":true,\"error\":\"\"}");
    EXPECT_EQ(engine.recorded(), std::vector<std::string>{"connect 东京"});
    EXPECT_EQ(logText(), "ipc op=status\nipc op=connect\nipc op=status\n");
}

TEST_F(Handler, UnknownOrMissingOpIsRefusedAndRunningStillReported) {
    EXPECT_EQ(request("{\"op\":\"reboot\"}"), "{\"ok\":false,\"running\":false,\"error\":\"op not allowed\"}");
    engine.isRunning = true;
    EXPECT_EQ(request("{\"node\":\"x\"}"), "{\"ok\":false,\"running\":true,\"error\":\"op not allowed\"}");
    EXPECT_EQ(request("{\"op\":\"Status\"}"), "{\"ok\":false,\"running\":true,\"error\":\"op not allowed\"}");
    EXPECT_TRUE(engine.recorded().empty());
    EXPECT_EQ(logText(), "ipc op=reboot\nipc error=op not allowed\nipc op=\nipc error=op not allowed\n"
                         "ipc op=Status\nipc error=op not allowed\n");
}

TEST_F(Handler, ConnectFailureCarriesTheTextEscapedAndLogsItOnOneLine) {
    engine.connectError = "panel said \"no\"\nretry";
    EXPECT_EQ(request("{\"op\":\"connect\",\"node\":7}"),
              "{\"ok\":false,\"running\":false,\"error\":\"panel said \\\"no\\\"\\nretry\"}");
    EXPECT_EQ(engine.recorded(), std::vector<std::string>{"connect "}) << "a node that is not a string reads empty";
    EXPECT_EQ(logText(), "ipc op=connect\nipc error=panel said \"no\"?retry\n");
}

TEST_F(Handler, AnOpCannotForgeLogLinesNorGrowTheLogByMoreThanAShortLine) {
    request("{\"op\":\"x\\nstopped.\"}");
    EXPECT_EQ(logText(), "ipc op=x?stopped.\nipc error=op not allowed\n");
    const std::string hugeOp(65520, 'o');
    EXPECT_EQ(request("{\"op\":\"" + hugeOp + "\"}"), "{\"ok\":false,\"running\":false,\"error\":\"op not allowed\"}");
    EXPECT_LT(logText().size(), 200u);
}

TEST_F(Handler, AnExceptionInTheEngineIsAnErrorReplyAndTheNextRequestIsServed) {
    engine.throwOnConnect = true;
    const std::string reply = request("{\"op\":\"connect\"}");
    EXPECT_EQ(reply.rfind("{\"ok\":false,\"running\":false,\"error\":\"internal error", 0), 0u) << reply;
    EXPECT_EQ(request("{\"op\":\"status\"}"), "{\"ok\":true,\"running\":false,\"error\":\"\"}");
}

TEST_F(Handler, DisconnectAndShutdownStopTheTunnel) {
    engine.isRunning = true;
    EXPECT_EQ(request("{\"op\":\"disconnect\"}"), "{\"ok\":true,\"running\":false,\"error\":\"\"}");
    EXPECT_EQ(request("{\"op\":\"shutdown\"}"), "{\"ok\":true,\"running\":false,\"error\":\"\"}");
    EXPECT_FALSE(stopRequested) << "service mode: shutdown stops only the tunnel";
    shutdownEndsProcess = true;
    request("{\"op\":\"shutdown\"}");
    EXPECT_TRUE(stopRequested);
    EXPECT_EQ(engine.recorded(), (std::vector<std::string>{"stop", "stop", "stop"}));
}

TEST_F(Handler, UnreadableRequestsGetNoReplyAndOneLogLine) {
    EXPECT_EQ(handle(lengthPrefix(0)), "");
    EXPECT_EQ(handle(lengthPrefix(65537) + "{}"), "");
    EXPECT_EQ(handle(lengthPrefix(20) + "{\"op\":"), "");
    EXPECT_TRUE(engine.recorded().empty());
    EXPECT_EQ(logText(), "ipc read failed err=0\nipc read failed err=0\nipc read failed err=" +
                             std::to_string(EPIPE) + "\n");
    // A client failing on purpose, again and again, adds only a few lines.
    for (int i = 0; i < 1000; ++i) handle(lengthPrefix(0));
    EXPECT_LT(logText().size(), 1000u);
}

}  // namespace
