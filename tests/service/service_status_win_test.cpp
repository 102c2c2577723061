// What the service manager sees while a stop waits for the running operation: a checkpoint
// that keeps moving until the service says it stopped, and nothing after that.
#include "service/service_status_win.h"

#include <condition_variable>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

class StatusRecord {
public:
    void add(const SERVICE_STATUS& status) {
        const std::lock_guard<std::mutex> lock(mutex_);
        seen_.push_back(status);
        changed_.notify_all();
    }
    bool waitFor(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return seen_.size() >= count; });
    }
    std::vector<SERVICE_STATUS> seen() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<SERVICE_STATUS> seen_;
};

TEST(ServiceStatusReporter, AWaitingStopAdvancesItsCheckpointUntilTheServiceStopped) {
    StatusRecord record;
    {
        service::ServiceStatusReporter reporter([&](const SERVICE_STATUS& status) { record.add(status); }, 5ms);
        reporter.report(SERVICE_RUNNING, SERVICE_ACCEPT_STOP, 0);
        reporter.stopPending(SERVICE_ACCEPT_STOP, 4000);
        ASSERT_TRUE(record.waitFor(4));
        reporter.stopPending(SERVICE_ACCEPT_STOP, 4000);  // a second stop control counts on
        ASSERT_TRUE(record.waitFor(7));
        reporter.report(SERVICE_STOPPED, SERVICE_ACCEPT_STOP, 0, ERROR_PIPE_BUSY);
        reporter.stopPending(SERVICE_ACCEPT_STOP, 4000);  // too late: ignored
    }
    const std::vector<SERVICE_STATUS> seen = record.seen();
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
