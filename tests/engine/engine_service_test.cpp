// The engine client against the real service executable in console mode.
#include <gtest/gtest.h>

#include <chrono>

#include "app/engine/engine_client.h"
#include "tests/support/environment.h"
#include "tests/support/service_client.h"
#include "tests/support/service_process.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(RealService, StatusAndShutdownRoundTrips) {
    orvik_test::TempDir runtime;
    orvik_test::TempDir output;
    const std::string pipe = orvik_test::uniquePipeName(output.path());
    orvik_test::ScopedEnvironment pipeOverride{"ORVIK_PIPE", pipe};
    orvik_test::ScopedEnvironment notUnderSystemd{"INVOCATION_ID", std::nullopt};
    orvik_test::ServiceProcess service(ORVIK_SERVICE_EXE, {"--console", "--runtime", runtime.path()},
                                       output.file("out.txt"));
    ASSERT_TRUE(service.started());

    engine::EngineClientOptions options;
    options.pipeName = pipe;
    options.applicationDirectory = runtime.path();
    options.runtimeDirectory = runtime.path();
    const engine::EngineClient client(options);
    // 40 attempts, 150 ms apart: as long as the client gives a service it has just launched.
    const auto first = client.sendRequest("status", 40);
    ASSERT_TRUE(first.ok) << first.error << "\n" << output.read("out.txt");
    EXPECT_FALSE(first.running);
    EXPECT_EQ(first.error, "");

    constexpr int kRounds = 20;
    const auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i) EXPECT_TRUE(client.sendRequest("status", 40).ok);
    const auto each = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - begin) / kRounds;
    RecordProperty("status_round_trip_us", static_cast<int>(each.count()));
    std::printf("status round trip: %lld us\n", static_cast<long long>(each.count()));

    const auto shutdown = client.sendRequest("shutdown", 5);
    EXPECT_TRUE(shutdown.ok) << shutdown.error;
    EXPECT_EQ(service.wait(10000), 0);
    EXPECT_FALSE(client.pipeExists());
}

}  // namespace
