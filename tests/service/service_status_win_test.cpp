// What the service manager sees while a stop waits for the running operation: a checkpoint
// that keeps moving until the service says it stopped, and nothing after that.
#include "service/service_status_win.h"

#include <vector>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

TEST(ServiceStatusReporter, AWaitingStopAdvancesItsCheckpointUntilTheServiceStopped) {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<SERVICE_STATUS> seen;
    const auto waitFor = [&](size_t count) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 10s, [&] { return seen.size() >= count; });
    };
    {
        service::ServiceStatusReporter reporter(
            [&](const SERVICE_STATUS& status) {
                const std::lock_guard<std::mutex> lock(mutex);
                seen.push_back(status);
                changed.notify_all();
            },
            5ms);
        reporter.report(SERVICE_RUNNING, SERVICE_ACCEPT_STOP, 0);
        reporter.stopPending(SERVICE_ACCEPT_STOP, 4000);
        ASSERT_TRUE(waitFor(4));
        reporter.stopPending(SERVICE_ACCEPT_STOP, 4000);  // a second stop control counts on
        ASSERT_TRUE(waitFor(7));
        reporter.report(SERVICE_STOPPED, SERVICE_ACCEPT_STOP, 0, ERROR_PIPE_BUSY);
        reporter.stopPending(SERVICE_ACCEPT_STOP, 4000);  // too late: ignored
    }
    ASSERT_GE(seen.size(), 8u);
    EXPECT_EQ(seen.front().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    for (size_t i = 1; i + 1 < seen.size(); ++i) {
        EXPECT_EQ(seen[i].dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING)) << i;
        EXPECT_EQ(seen[i].dwCheckPoint, i) << i;
        EXPECT_EQ(seen[i].dwWaitHint, 4000u) << i;
    }
    EXPECT_EQ(seen.back().dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(seen.back().dwCheckPoint, 0u);
    EXPECT_EQ(seen.back().dwWin32ExitCode, static_cast<DWORD>(ERROR_PIPE_BUSY));
}

}  // namespace
