#pragma once
// A service that is busy with one client while others knock: the pipe's "busy" for real.

#include <chrono>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "tests/engine/engine_test_doubles.h"
#include "tests/support/fake_service.h"
#include "tests/support/service_client.h"
#include "tests/support/temp_dir.h"

namespace engine_test {

// Runs `whileBusy` while the stand-in service is held inside the reply to a first client;
// `makeBusy` takes the remaining room (Linux: fills the listen queue) and returns a closer.
template <class MakeBusy, class WhileBusy>
void withBusyService(MakeBusy makeBusy, WhileBusy whileBusy) {
    orvik_test::TempDir dir;
    engine::EngineClientOptions options;
    options.pipeName = orvik_test::uniquePipeName(dir.path());
    options.launcher = std::make_shared<ScriptedLauncher>();
    options.sleep = [](int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); };
    options.applicationDirectory = dir.path();
    options.runtimeDirectory = dir.path();
    const engine::EngineClient client(options);

    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    orvik_test::FakeService fake(options.pipeName, [released](const std::string&) {
        released.wait();
        return std::string(R"({"ok":true,"running":false,"error":""})");
    });
    ASSERT_TRUE(fake.start());
    auto first = std::async(std::launch::async, [&] { return client.sendRequest("status", 1); });
    ASSERT_TRUE(fake.waitForRequests(1, 10000));
    auto close = makeBusy(options.pipeName);
    whileBusy(client);
    close();
    release.set_value();
    EXPECT_TRUE(first.get().ok);
}

inline void expectBusyThroughEveryAttempt(const engine::EngineClient& client) {
    const auto begin = std::chrono::steady_clock::now();
    const auto result = client.sendRequest("connect", 2, "n");
    const auto elapsed = std::chrono::steady_clock::now() - begin;
    EXPECT_TRUE(result.serviceUnavailable);
    EXPECT_EQ(result.error, "Velora服务未运行");
    EXPECT_GE(elapsed, std::chrono::milliseconds(900));  // two waits of 500 ms on the busy pipe
    EXPECT_TRUE(client.pipeExists());
}

}  // namespace engine_test
