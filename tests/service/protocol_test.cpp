// The service's protocol: the framing over memory, and the request handling and the server
// loop over real connections, served in this process over a recording engine.
#include <nlohmann/json.hpp>

#include "service/ipc_message.h"
#include "tests/service/service_fixture.h"
#include "tests/support/memory_stream.h"

namespace {

using orvik_test::frame;
using orvik_test::MemoryStream;
using orvik_test::request;
using orvik_test::ServiceClient;

const std::string kIdle = "{\"ok\":true,\"running\":false,\"error\":\"\"}";
const std::string kUp = "{\"ok\":true,\"running\":true,\"error\":\"\"}";
const std::string kTooLong("\x01\x00\x01\x00", 4);  // 65537

std::string refused(bool running) {
    return "{\"ok\":false,\"running\":" + std::string(running ? "true" : "false") + ",\"error\":\"op not allowed\"}";
}

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

class PipeServer : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(orvik_test::waitForPipe(pipe, 10000)); }
    std::string logText() const { return dir.read("service.log"); }

    orvik_test::TempDir dir;
    std::string pipe = orvik_test::uniquePipeName(dir.path());
    service_test::FakeEngine engine;
    service_test::ServedPipe server{engine, pipe, dir.file("service.log")};
};

// One request on a fresh server: the reply, the log and what the engine was asked.
struct Op {
    const char* name = {};
    std::string payload = {};
    std::string reply = {};
    std::string log = {};
    std::vector<std::string> calls = {};
    bool running = false;           // the tunnel is up before the request
    std::string connectError = {};  // the engine's connect fails with this text
    bool throwOnConnect = false;
};

class Ops : public PipeServer, public ::testing::WithParamInterface<Op> {};

TEST_P(Ops, AnswerLogAndEngineCalls) {
    const Op& op = GetParam();
    engine.isRunning = op.running;
    engine.connectError = op.connectError;
    engine.throwOnConnect = op.throwOnConnect;
    EXPECT_EQ(request(pipe, op.payload), op.reply);
    EXPECT_EQ(logText(), op.log);
    EXPECT_EQ(engine.recorded(), op.calls);
    // The executable's run modes end on a shutdown; a server of the service manager's does not.
    EXPECT_FALSE(server.stopRequested.load());
}

const std::string kConnectLog = "ipc op=connect\n";
const std::string kRefusedLog = "\nipc error=op not allowed\n";

INSTANTIATE_TEST_SUITE_P(
    Table, Ops,
    ::testing::Values(
        Op{"StatusIdle", "{\"op\":\"status\"}", kIdle, "ipc op=status\n", {}},
        Op{"ConnectNamed", "{\"op\":\"connect\",\"node\":\"东京 \\\"1\\\"\"}", kUp, kConnectLog, {"connect 东京 \"1\""}},
        Op{"UnknownOp", "{\"op\":\"reboot\"}", refused(false), "ipc op=reboot" + kRefusedLog, {}},
        Op{"MissingOpWhileUp", "{\"node\":\"x\"}", refused(true), "ipc op=" + kRefusedLog, {}, true},
        Op{"NotJson", "not json \"op\":\"status\"", refused(false), "ipc op=" + kRefusedLog, {}},
        Op{"ForgedLogLine", "{\"op\":\"x\\nstopped.\"}", refused(false), "ipc op=x?stopped." + kRefusedLog, {}},
        Op{"ConnectFailsEscaped", "{\"op\":\"connect\"}",
           "{\"ok\":false,\"running\":false,\"error\":\"panel said \\\"no\\\"\\nC:\\\\x\\t\\u0001\"}",
           kConnectLog + "ipc error=panel said \"no\"?C:\\x??\n", {"connect "}, false, "panel said \"no\"\nC:\\x\t\x01"},
        Op{"ConnectFailsInvalidUtf8", "{\"op\":\"connect\"}",
           "{\"ok\":false,\"running\":false,\"error\":\"bad \xEF\xBF\xBD!\"}", kConnectLog + "ipc error=bad \xFF!\n",
           {"connect "}, false, "bad \xFF!"},
        Op{"EngineThrows", "{\"op\":\"connect\"}",
           "{\"ok\":false,\"running\":false,\"error\":\"internal error: std::bad_alloc\"}",
           kConnectLog + "ipc error=internal error: std::bad_alloc\n", {"connect "}, false, "", true},
        Op{"Disconnect", "{\"op\":\"disconnect\"}", kIdle, "ipc op=disconnect\n", {"stop"}, true},
        Op{"ShutdownInServiceMode", "{\"op\":\"shutdown\"}", kIdle, "ipc op=shutdown\n", {"stop"}, true}),
    [](const ::testing::TestParamInfo<Op>& row) { return row.param.name; });

// Out-of-range lengths end the connection without a reply and, however often they come, add
// only a few log lines; a huge op takes a short line; a stop wakes the server without a line
// of its own and stops the tunnel.
TEST_F(PipeServer, BadRequestsAreDroppedWithFewShortLogLinesAndAStopEndsTheTunnel) {
    std::string rateLimited;
    for (int i = 0; i < 8; ++i) {
        for (const std::string& bytes : {std::string(4, '\0') + "{}", kTooLong + "{\"op\":\"status\"}"}) {
            ServiceClient client(pipe);
            ASSERT_TRUE(client.send(bytes));
            EXPECT_EQ(client.receiveUntilClosed(3000), std::string()) << "closed without a byte";
            if (rateLimited.size() < 10 * 22) rateLimited += "ipc read failed err=0\n";
        }
    }
    EXPECT_EQ(request(pipe, "{\"op\":\"" + std::string(65520, 'o') + "\"}"), refused(false));
    EXPECT_EQ(request(pipe, "{\"op\":\"connect\"}"), kUp);
    server.stop();
    const std::string log = logText();
    EXPECT_EQ(log.rfind(rateLimited + "ipc op=ooo", 0), 0u) << log;
    EXPECT_LT(log.size(), 400u) << log;
    EXPECT_TRUE(log.ends_with("\nipc op=connect\n")) << log;
    EXPECT_EQ(engine.recorded(), (std::vector<std::string>{"connect ", "stop"}));
}

TEST_F(PipeServer, SilentClientsDelayNobodyAndAreDroppedAtTheirDeadline) {
    std::vector<std::unique_ptr<ServiceClient>> silent;
    for (int i = 0; i < 6; ++i) {
        silent.push_back(std::make_unique<ServiceClient>(pipe));
        ASSERT_TRUE(silent.back()->connected());
    }
    ASSERT_TRUE(silent.back()->send(frame("{\"op\":\"status\"}").substr(0, 9)));  // half a frame
    ServiceClient lazy(pipe);  // sends a request but never reads its reply
    ASSERT_TRUE(lazy.send(frame("{\"op\":\"status\"}")));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(request(pipe, "{\"op\":\"status\"}", 20000), kIdle);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(service::kClientTimeoutMs))
        << "served beside the silent ones, not after them";
    for (auto& client : silent) EXPECT_EQ(client->receiveUntilClosed(service::kClientTimeoutMs + 4000), std::string());
    const std::string log = logText();
    EXPECT_NE(log.find("ipc read failed err="), std::string::npos) << log;
    EXPECT_EQ(log.find("ipc read failed err=0\n"), std::string::npos) << "a time-out has a code of its own";
}

}  // namespace
