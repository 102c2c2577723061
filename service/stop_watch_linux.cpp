// What stops a running service on Linux: SIGINT, SIGTERM and SIGHUP, read on a thread of
// their own, and the owner process ending, seen through a pidfd.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <thread>

#include "service/service_context.h"

namespace service {
namespace {

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

// A thread that waits on one descriptor (or for its end) and then runs `fired`.
class DescriptorWatch : public StopWatch {
public:
    DescriptorWatch(int fd, std::function<void()> fired)
        : fd_(fd), end_(::eventfd(0, EFD_CLOEXEC)), thread_([this, fired = std::move(fired)] { wait(fired); }) {}
    ~DescriptorWatch() override {
        const uint64_t one = 1;
        while (end_ >= 0 && ::write(end_, &one, sizeof one) < 0 && errno == EINTR) {
        }
        thread_.join();
        if (end_ >= 0) ::close(end_);
        ::close(fd_);
    }
    DescriptorWatch(const DescriptorWatch&) = delete;
    DescriptorWatch& operator=(const DescriptorWatch&) = delete;

private:
    void wait(const std::function<void()>& fired) {
        pollfd entries[2] = {{fd_, POLLIN, 0}, {end_, POLLIN, 0}};
        for (;;) {
            const int ready = ::poll(entries, end_ >= 0 ? 2 : 1, -1);
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0 || entries[1].revents != 0) return;
            if (entries[0].revents != 0) {
                fired();
                return;
            }
        }
    }

    int fd_;
    int end_;
    std::thread thread_;
};

// Reads every pending stop signal and asks the service to stop, once per signal batch.
class SignalWatch : public StopWatch {
public:
    SignalWatch(int fd, ServiceContext& context)
        : inner_(fd, [fd, &context] {
              signalfd_siginfo info;
              while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
              }
              requestStop(context);
          }) {}

private:
    DescriptorWatch inner_;
};

}  // namespace

void prepareConsole() {}

void prepareRunningProcess() {
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

std::unique_ptr<StopWatch> watchConsoleStop(ServiceContext& context) {
    const sigset_t set = stopSignals();
    const int fd = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd < 0) return nullptr;
    return std::make_unique<SignalWatch>(fd, context);
}

std::unique_ptr<StopWatch> detachFromConsole(ServiceContext& context) {
    ::setsid();
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
        for (int stream = 0; stream <= 2; ++stream) ::dup2(null, stream);
        if (null > 2) ::close(null);
    }
    return watchConsoleStop(context);
}

std::unique_ptr<StopWatch> watchOwner(ServiceContext& context) {
    // glibc 2.36's <sys/pidfd.h> is not usable from C++: the system call directly.
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(context.ownerPid), 0));
    if (fd < 0) {
        context.log.write("owner pid open failed err=" + std::to_string(errno));
        return nullptr;
    }
    return std::make_unique<DescriptorWatch>(fd, [&context] {
        context.log.write("ui process exited; stopping helper");
        requestStop(context);
    });
}

}  // namespace service
