#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <thread>

#include "service/tunnel/netlink_linux.h"
#include "service/tunnel/network_watch.h"

namespace tunnel {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSleepCheckMs = 5000;     // how often a suspend is looked for while all is quiet
constexpr int64_t kSuspendJumpMs = 2000;  // time the machine spent asleep between two looks

int64_t milliseconds(clockid_t clock) {
    timespec now{};
    ::clock_gettime(clock, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Time spent in suspend so far: CLOCK_BOOTTIME counts it, CLOCK_MONOTONIC does not.
int64_t asleepMs() { return milliseconds(CLOCK_BOOTTIME) - milliseconds(CLOCK_MONOTONIC); }

int msUntil(Clock::time_point when) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now()).count();
    return static_cast<int>(std::max<int64_t>(left, 0));
}

class LinuxNetworkWatch final : public NetworkWatch {
public:
    explicit LinuxNetworkWatch(std::function<void()> changed)
        : changed_(std::move(changed)), cancel_(::eventfd(0, EFD_CLOEXEC)), thread_([this] { run(); }) {}
    ~LinuxNetworkWatch() override {
        const uint64_t one = 1;
        while (::write(cancel_, &one, sizeof one) < 0 && errno == EINTR) {
        }
        thread_.join();
        ::close(cancel_);
    }
    LinuxNetworkWatch(const LinuxNetworkWatch&) = delete;
    LinuxNetworkWatch& operator=(const LinuxNetworkWatch&) = delete;

private:
    void run() {
        netlink::EventWatcher events(true);
        bool pending = false;
        Clock::time_point first, last;
        int64_t asleep = asleepMs();
        for (;;) {
            const int timeout = pending ? std::min(msUntil(last + std::chrono::milliseconds(kNetworkQuietMs)),
                                                   msUntil(first + std::chrono::milliseconds(kNetworkStormMs)))
                                        : kSleepCheckMs;
            pollfd entries[2] = {{cancel_, POLLIN, 0}, {events.descriptor(), POLLIN, 0}};
            if (::poll(entries, events.descriptor() >= 0 ? 2 : 1, timeout) < 0 && errno != EINTR) return;
            if (entries[0].revents != 0) return;
            const bool woke = entries[1].revents != 0 && events.wait(0);
            const int64_t nowAsleep = asleepMs();
            const bool resumed = nowAsleep - asleep > kSuspendJumpMs;
            asleep = nowAsleep;
            if (woke || resumed) {
                if (!pending) first = Clock::now();
                pending = true;
                last = resumed ? first - std::chrono::milliseconds(kNetworkQuietMs) : Clock::now();
            }
            const bool quiet = Clock::now() - last >= std::chrono::milliseconds(kNetworkQuietMs);
            const bool stormy = Clock::now() - first >= std::chrono::milliseconds(kNetworkStormMs);
            if (pending && (quiet || stormy)) {
                pending = false;
                changed_();
            }
        }
    }

    std::function<void()> changed_;
    int cancel_;
    std::thread thread_;
};

}  // namespace

std::unique_ptr<NetworkWatch> watchNetwork(std::function<void()> changed) {
    return std::make_unique<LinuxNetworkWatch>(std::move(changed));
}

}  // namespace tunnel
