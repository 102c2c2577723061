// The pipe server over real connections (a named pipe under wine, a Unix socket on Linux),
// served in this process by the listener the service uses, over a recording engine.
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "service/pipe_server.h"
#include "tests/service/fakes.h"
#include "tests/support/service_client.h"
#include "tests/support/temp_dir.h"
#include "vpn/system.h"

namespace {

using Clock = std::chrono::steady_clock;
using orvik_test::frame;
using orvik_test::request;
using orvik_test::ServiceClient;

const std::string kIdle = "{\"ok\":true,\"running\":false,\"error\":\"\"}";

long long secondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class PipeServer : public ::testing::Test {
protected:
    void SetUp() override {
        log.setPath(dir.file("service.log"));
        start();
    }
    void TearDown() override { stop(); }

    void start() {
        listener = service::makePipeListener(pipe);
        // The server makes the runtime directory current: keep this process's own.
        const std::string here = vpn::fullPathName(".").value_or(".");
        finished = std::async(std::launch::async, [this, here] { service::runPipeServer(here, *listener, context); });
        ASSERT_TRUE(orvik_test::waitForPipe(pipe, 10000));
    }
    void stop() {
        if (!finished.valid()) return;
        stopRequested = true;
        listener->wake();
        ASSERT_EQ(finished.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        finished.get();
    }
    bool serverEnded(int timeoutMs) {
        return finished.wait_for(std::chrono::milliseconds(timeoutMs)) == std::future_status::ready;
    }
    std::string logText() { return dir.read("service.log"); }

    orvik_test::TempDir dir;
    std::string pipe = orvik_test::uniquePipeName(dir.path());
    service::ServiceLog log;
    service_test::FakeEngine engine;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> shutdownEndsProcess{false};
    service::RequestContext context{log, engine, stopRequested, shutdownEndsProcess};
    std::unique_ptr<service::PipeListener> listener;
    std::future<void> finished;
};

TEST_F(PipeServer, AnswersEachRequestOnItsOwnConnection) {
    EXPECT_EQ(request(pipe, "{\"op\":\"status\"}"), kIdle);
    EXPECT_EQ(request(pipe, "{\"op\":\"launch\"}"), "{\"ok\":false,\"running\":false,\"error\":\"op not allowed\"}");
    EXPECT_EQ(request(pipe, "{\"op\":\"connect\",\"node\":7}"), "{\"ok\":true,\"running\":true,\"error\":\"\"}");
    EXPECT_EQ(request(pipe, "{\"op\":\"status\"}"), "{\"ok\":true,\"running\":true,\"error\":\"\"}");
    EXPECT_EQ(engine.recorded(), std::vector<std::string>{"connect "});
}

TEST_F(PipeServer, QuoteAndLineFeedInAnErrorArriveEscaped) {
    engine.connectError = "bad \"node\"\nsee log";
    EXPECT_EQ(request(pipe, "{\"op\":\"connect\",\"node\":\"x\"}"),
              "{\"ok\":false,\"running\":false,\"error\":\"bad \\\"node\\\"\\nsee log\"}");
}

TEST_F(PipeServer, LengthsOutOfRangeGetNoReplyAndTheConnectionCloses) {
    for (const std::string& header : {std::string("\0\0\0\0", 4), std::string("\x01\x00\x01\x00", 4)}) {
        ServiceClient client(pipe);
        ASSERT_TRUE(client.connected());
        ASSERT_TRUE(client.send(header + "{\"op\":\"status\"}"));
        EXPECT_EQ(client.receiveUntilClosed(3000), std::string()) << "closed without a byte";
    }
    EXPECT_EQ(request(pipe, "{\"op\":\"status\"}"), kIdle) << "and the next client is served";
    EXPECT_EQ(logText(), "ipc read failed err=0\nipc read failed err=0\nipc op=status\n");
}

TEST_F(PipeServer, SilentClientsDelayNobodyAndAreDroppedAfterFiveSeconds) {
    std::vector<std::unique_ptr<ServiceClient>> silent;
    for (int i = 0; i < 6; ++i) {
        silent.push_back(std::make_unique<ServiceClient>(pipe));
        ASSERT_TRUE(silent.back()->connected());
    }
    ASSERT_TRUE(silent.back()->send(frame("{\"op\":\"status\"}").substr(0, 9)));  // half a frame
    const auto start = Clock::now();
    EXPECT_EQ(request(pipe, "{\"op\":\"status\"}", 20000), kIdle);
    EXPECT_LT(secondsSince(start), 3000) << "served beside the silent ones, not after them";
    for (auto& client : silent) EXPECT_EQ(client->receiveUntilClosed(9000), std::string()) << "cut off";
    const std::string text = logText();
    EXPECT_NE(text.find("ipc read failed err="), std::string::npos) << text;
    EXPECT_EQ(text.find("ipc read failed err=0\n"), std::string::npos) << "a time-out has a code of its own";
}

TEST_F(PipeServer, AClientThatNeverReadsItsReplyDoesNotBlockOthers) {
    ServiceClient lazy(pipe);
    ASSERT_TRUE(lazy.send(frame("{\"op\":\"status\"}")));
    const auto start = Clock::now();
    EXPECT_EQ(request(pipe, "{\"op\":\"status\"}", 20000), kIdle);
    EXPECT_LT(secondsSince(start), 9000);
}

TEST_F(PipeServer, AStopWakesTheServerWithoutALogLineAndStopsTheTunnel) {
    EXPECT_EQ(request(pipe, "{\"op\":\"status\"}"), kIdle);
    stop();
    EXPECT_EQ(logText(), "ipc op=status\n");
    EXPECT_EQ(engine.recorded(), std::vector<std::string>{"stop"});
}

TEST_F(PipeServer, ShutdownEndsTheLoopOnlyWhenTheModeSaysSo) {
    EXPECT_EQ(request(pipe, "{\"op\":\"shutdown\"}"), kIdle);
    EXPECT_EQ(request(pipe, "{\"op\":\"status\"}"), kIdle) << "service mode keeps serving";
    shutdownEndsProcess = true;
    EXPECT_EQ(request(pipe, "{\"op\":\"shutdown\"}"), kIdle) << "the reply comes before the end";
    EXPECT_TRUE(serverEnded(5000));
    EXPECT_EQ(engine.recorded(), (std::vector<std::string>{"stop", "stop", "stop"}));
}

}  // namespace
