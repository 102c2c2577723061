// What the service manager sees while a stop waits for the running operation: a checkpoint
// that keeps moving until the service says it stopped, and nothing after that.
#include "service/service_status_win.h"

#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(ServiceStatusReporter, AWaitingStopAdvancesItsCheckpointUntilTheServiceStopped) {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<SERVICE_STATUS> seen;
    const auto seenAtLeast = [&](size_t count) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [&] { return seen.size() >= count; });
    };
    {
        service::ServiceStatusReporter reporter(
            [&](const SERVICE_STATUS& status) {
                const std::lock_guard<std::mutex> lock(mutex);
                seen.push_back(status);
                changed.notify_all();
            },
            std::chrono::milliseconds(5));
        reporter.report(SERVICE_RUNNING, SERVICE_ACCEPT_STOP, 0);
        for (const size_t count : {4, 7}) {  // a second stop control counts on
            reporter.stopPending(SERVICE_ACCEPT_STOP, 4000);
            ASSERT_TRUE(seenAtLeast(count));
        }
        reporter.report(SERVICE_STOPPED, SERVICE_ACCEPT_STOP, 0, ERROR_PIPE_BUSY);
        reporter.stopPending(SERVICE_ACCEPT_STOP, 4000);  // too late: ignored
    }
    ASSERT_GE(seen.size(), 8u);
    for (size_t i = 0; i < seen.size(); ++i) {
        const bool pending = i > 0 && i + 1 < seen.size();
        const DWORD state = pending ? SERVICE_STOP_PENDING : i > 0 ? SERVICE_STOPPED : SERVICE_RUNNING;
        EXPECT_EQ(seen[i].dwCurrentState, state) << i;
        EXPECT_EQ(seen[i].dwCheckPoint, pending ? i : 0) << i;
        EXPECT_EQ(seen[i].dwWaitHint, pending ? 4000u : 0u) << i;
    }
    EXPECT_EQ(seen.back().dwWin32ExitCode, static_cast<DWORD>(ERROR_PIPE_BUSY));
}

}  // namespace
