// The service's protocol: the framing over memory, and the request handling and the server
// loop over real connections, served in this process over the connect on the fake machine.
#include <filesystem>

#include <nlohmann/json.hpp>

#include "service/ipc_message.h"
#include "tests/service/service_fixture.h"
#include "tests/support/memory_stream.h"

namespace {

using orvik_test::frame;
using orvik_test::MemoryStream;
using orvik_test::request;
using orvik_test::ServiceClient;
using namespace service_test;

const std::string kRefused = failed("op not allowed");
const std::string kTooLong("\x01\x00\x01\x00", 4);  // 65537

// Lengths out of range and cut frames are refused over the real pipe below.
TEST(Frame, OneFrameOfUpTo65536BytesBehindItsLittleEndianLength) {
    const std::string largest(65536, 'x');
    MemoryStream slow(frame(largest) + "trailing", 1);
    std::string payload;
    unsigned long code = 0;
    ASSERT_TRUE(vpn::readFrame(slow, payload, code));
    EXPECT_EQ(payload, largest);
    EXPECT_EQ(slow.position, 4u + largest.size()) << "reads no further than the frame";
    MemoryStream stream("", 3);
    ASSERT_TRUE(vpn::writeFrame(stream, "{\"ok\":true}", code));
    EXPECT_EQ(stream.output, std::string("\x0b\x00\x00\x00{\"ok\":true}", 15));
    EXPECT_FALSE(vpn::writeFrame(stream, largest + "x", code));
    EXPECT_FALSE(vpn::writeFrame(stream, "", code));
    stream.failWrites = true;
    EXPECT_FALSE(vpn::writeFrame(stream, "x", code));
    EXPECT_EQ(code, 29u) << "a 0-byte write without a code of its own is a write fault";
}

TEST(Reply, AHugeErrorTextIsShortenedToFitOneFrameWithoutSplittingACharacter) {
    for (const std::string& unit : {std::string("\x01"), std::string("节")}) {
        std::string text;
        while (text.size() < 100000) text += unit;
        const std::string reply = service::buildReply(false, false, text);
        EXPECT_LE(reply.size(), vpn::kMaxFramePayload);
        const auto parsed = nlohmann::ordered_json::parse(reply, nullptr, false);
        ASSERT_FALSE(parsed.is_discarded()) << "still valid JSON";
        const std::string error = parsed["error"].get<std::string>();
        EXPECT_GT(error.size(), 4000u);
        EXPECT_EQ(error.size() % unit.size(), 0u);
        EXPECT_EQ(text.compare(0, error.size(), error), 0);
    }
}

class PipeServer : public LocalConnect, public ::testing::Test {
protected:
    void SetUp() override {
        writeAccount("198.18.2.2");
        ASSERT_TRUE(serve());
    }
};

// One request on a fresh server: the reply and the log.
struct Op {
    const char* name = {};
    std::string payload = {};
    std::string reply = {};
    std::string log = {};
    bool running = false;           // the tunnel is up before the request
    std::string gatewayError = {};  // the connect fails with this text
    bool throws = false;            // the connect throws
};

class Ops : public PipeServer, public ::testing::WithParamInterface<Op> {};

TEST_P(Ops, AnswerAndLog) {
    const Op& op = GetParam();
    if (op.running) {  // by this process's user, as the pipe knows it
        ASSERT_EQ(request(pipe, kConnect), kUp);
        std::filesystem::remove(runtime.file("orvik-service.log"));
    }
    machine.gatewayError = op.gatewayError;
    if (op.throws) writeAccount("throws.example");
    EXPECT_EQ(request(pipe, op.payload), op.reply);
    EXPECT_EQ(log(), op.log);
    // The executable's run modes end on a shutdown; a server of the service manager's does not.
    EXPECT_FALSE(stopRequested.load());
}

const std::string kConnectLog = "ipc op=connect\n";
const std::string kRefusedLog = "\nipc error=op not allowed\n";

// A reply's "running" is read after the op: idle after a disconnect means the tunnel stopped.
INSTANTIATE_TEST_SUITE_P(
    Table, Ops,
    ::testing::Values(
        Op{"ConnectNamed", "{\"op\":\"connect\",\"node\":\"东京 \\\"1\\\"\"}",
           failed("所选节点已不在节点列表中：东京 \\\"1\\\""),
           kConnectLog + "ipc error=所选节点已不在节点列表中：东京 \"1\"\n"},
        Op{"MissingOpWhileUp", "{\"node\":\"x\"}", failed("op not allowed", true), "ipc op=" + kRefusedLog, true},
        Op{"NotJson", "not json \"op\":\"status\"", kRefused, "ipc op=" + kRefusedLog},
        Op{"UnknownOpForgingALogLine", "{\"op\":\"x\\nstopped.\"}", kRefused, "ipc op=x?stopped." + kRefusedLog},
        Op{"ConnectFailsEscaped", kConnect, failed("said \\\"no\\\"\\nC:\\\\x\\t\\u0001 \xEF\xBF\xBD!"),
           kConnectLog + "ipc error=said \"no\"?C:\\x?? \xFF!\n", false, "said \"no\"\nC:\\x\t\x01 \xFF!"},
        Op{"EngineThrows", kConnect, failed("internal error: std::bad_alloc"),
           kConnectLog + "ipc error=internal error: std::bad_alloc\n", false, "", true},
        Op{"Disconnect", "{\"op\":\"disconnect\"}", kIdle, "ipc op=disconnect\n", true},
        Op{"ShutdownInServiceMode", kShutdown, kIdle, "ipc op=shutdown\n", true}),
    [](const ::testing::TestParamInfo<Op>& row) { return row.param.name; });

// Out-of-range lengths end the connection without a reply and, however often they come, add
// only a few log lines; a huge op takes a short line; a stop wakes the server without a line
// of its own and stops the tunnel.
TEST_F(PipeServer, BadRequestsAreDroppedWithFewShortLogLinesAndAStopEndsTheTunnel) {
    std::string rateLimited;
    for (int i = 0; i < 8; ++i) {
        for (const std::string& bytes : {std::string(4, '\0') + "{}", kTooLong + kStatus}) {
            ServiceClient client(pipe);
            ASSERT_TRUE(client.send(bytes));
            EXPECT_EQ(client.receiveUntilClosed(3000), std::string()) << "closed without a byte";
            if (rateLimited.size() < 10 * 22) rateLimited += "ipc read failed err=0\n";
        }
    }
    EXPECT_EQ(request(pipe, "{\"op\":\"" + std::string(65520, 'o') + "\"}"), kRefused);
    EXPECT_EQ(request(pipe, kConnect), kUp);
    stop();
    const std::string text = log();
    EXPECT_EQ(text.rfind(rateLimited + "ipc op=ooo", 0), 0u) << text;
    EXPECT_LT(text.size(), 400u) << text;
    EXPECT_TRUE(text.ends_with("\nipc op=connect\n")) << text;
    EXPECT_FALSE(engine.running());
}

TEST_F(PipeServer, SilentClientsDelayNobodyAndAreDroppedAtTheirDeadline) {
    std::vector<std::unique_ptr<ServiceClient>> silent;  // with the lazy one and the request: one user's all
    for (int i = 0; i < service::kMaxClientsPerUser - 2; ++i) {
        silent.push_back(std::make_unique<ServiceClient>(pipe));
        ASSERT_TRUE(silent.back()->connected());
    }
    ASSERT_TRUE(silent.back()->send(frame(kStatus).substr(0, 9)));  // half a frame
    ServiceClient lazy(pipe);  // sends a request but never reads its reply
    ASSERT_TRUE(lazy.send(frame(kStatus)));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(service::kClientTimeoutMs);
    EXPECT_EQ(request(pipe, kStatus, 20000), kIdle);
    EXPECT_LT(std::chrono::steady_clock::now(), deadline) << "served beside the silent ones, not after them";
    for (auto& client : silent) EXPECT_EQ(client->receiveUntilClosed(service::kClientTimeoutMs + 4000), std::string());
    const std::string text = log();
    EXPECT_NE(text.find("ipc read failed err="), std::string::npos) << text;
    EXPECT_EQ(text.find("ipc read failed err=0\n"), std::string::npos) << "a time-out has a code of its own";
}

}  // namespace
