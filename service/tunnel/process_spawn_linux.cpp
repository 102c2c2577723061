// fork/exec of one child. Between fork and exec only async-signal-safe calls are made: the
// service is multithreaded, and everything the child needs is prepared before the fork.
#include "service/tunnel/process_spawn_linux.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace tunnel::linux_process {
namespace {

// Everything the child uses after fork, prepared in the parent.
struct ChildSetup {
    const char* file = nullptr;
    bool searchPath = false;
    char* const* argv = nullptr;
    const char* directory = nullptr;
    pid_t parentPid = 0;
    int devNull = -1;
    int errorPipe = -1;  // write end, close-on-exec: closed by a successful exec
};

[[noreturn]] void childFailed(const ChildSetup& setup, int error) {
    ssize_t ignored = ::write(setup.errorPipe, &error, sizeof error);
    (void)ignored;
    ::_exit(127);
}

// Handlers are reset by exec, but ignored signals and the blocked mask would be inherited.
void resetSignals() {
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) ::sigaction(signal, &defaults, nullptr);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

void closeRange(unsigned first, unsigned last) {
    if (first > last) return;
    if (::syscall(SYS_close_range, first, last, 0) == 0) return;
    const unsigned limit = last < 65536 ? last : 65535;
    for (unsigned fd = first; fd <= limit; ++fd) ::close(static_cast<int>(fd));
}

// Every descriptor above the standard three goes, except the error pipe (close-on-exec).
void closeInheritedDescriptors(int keep) {
    closeRange(3, static_cast<unsigned>(keep) - 1);
    closeRange(static_cast<unsigned>(keep) + 1, ~0U);
}

[[noreturn]] void runChild(const ChildSetup& setup) {
    ::setpgid(0, 0);
    // The parent-death signal belongs to the forking thread; if our parent is already gone
    // it would never fire, so give up instead of running unsupervised.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) childFailed(setup, errno);
    if (::getppid() != setup.parentPid) ::_exit(127);
    resetSignals();
    for (int fd = 0; fd <= 2; ++fd) {
        if (::dup2(setup.devNull, fd) < 0) childFailed(setup, errno);
    }
    closeInheritedDescriptors(setup.errorPipe);
    if (setup.directory != nullptr && ::chdir(setup.directory) != 0) childFailed(setup, errno);
    if (setup.searchPath) {
        ::execvp(setup.file, setup.argv);
    } else {
        ::execv(setup.file, setup.argv);
    }
    childFailed(setup, errno);
}

// Moves a descriptor above the standard three (a daemon may run with them closed), keeping
// it close-on-exec.
int aboveStandard(int fd) {
    if (fd < 0 || fd > 2) return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

// Reads the errno a failing child wrote; 0 when the pipe closed on a successful exec.
int readChildError(int pipe) {
    int error = 0;
    for (;;) {
        const ssize_t n = ::read(pipe, &error, sizeof error);
        if (n < 0 && errno == EINTR) continue;
        return n == static_cast<ssize_t>(sizeof error) ? error : 0;
    }
}

int forkChild(ChildSetup& setup, int readEnd, Spawned& child) {
    const pid_t pid = ::fork();
    if (pid < 0) return errno;
    if (pid == 0) runChild(setup);
    ::setpgid(pid, pid);  // also here, so no signal to the group can come too early
    closeDescriptor(setup.errorPipe);
    setup.errorPipe = -1;
    const int error = readChildError(readEnd);
    if (error != 0) {
        reap(pid);
        return error;
    }
    child.pid = pid;
    child.pidfd = openPidfd(pid);
    return 0;
}

}  // namespace

int spawn(const SpawnRequest& request, Spawned& child) {
    std::vector<char*> argv;
    std::vector<std::string> storage = request.argv;
    for (std::string& arg : storage) argv.push_back(arg.data());
    argv.push_back(nullptr);

    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return errno;
    const int readEnd = aboveStandard(pipeEnds[0]);
    ChildSetup setup;
    setup.errorPipe = aboveStandard(pipeEnds[1]);
    setup.devNull = aboveStandard(::open("/dev/null", O_RDWR | O_CLOEXEC));
    int error = 0;
    if (readEnd < 0 || setup.errorPipe < 0 || setup.devNull < 0) {
        error = errno != 0 ? errno : EMFILE;
    } else {
        setup.file = request.file.c_str();
        setup.searchPath = request.searchPath;
        setup.argv = argv.data();
        setup.directory = request.workingDirectory.empty() ? nullptr : request.workingDirectory.c_str();
        setup.parentPid = ::getpid();
        error = forkChild(setup, readEnd, child);
    }
    closeDescriptor(readEnd);
    closeDescriptor(setup.errorPipe);
    closeDescriptor(setup.devNull);
    return error;
}

bool waitForExit(const Spawned& child, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        if (!isAlive(child)) return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (timeoutMs >= 0 && left <= 0) return false;
        const int slice = timeoutMs < 0 ? 1000 : static_cast<int>(left);
        if (child.pidfd >= 0) {
            pollfd entry{child.pidfd, POLLIN, 0};
            ::poll(&entry, 1, slice);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(slice < 5 ? slice : 5));
        }
    }
}

bool isAlive(const Spawned& child) {
    if (child.pidfd >= 0) {
        pollfd entry{child.pidfd, POLLIN, 0};
        return ::poll(&entry, 1, 0) == 0;
    }
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(child.pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return false;
    return info.si_pid == 0;
}

void signalProcess(const Spawned& child, int signal) {
    if (child.pidfd >= 0) {
        ::syscall(SYS_pidfd_send_signal, child.pidfd, signal, nullptr, 0);
    } else if (isAlive(child)) {
        ::kill(child.pid, signal);
    }
}

int reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return 0;
    }
    return status;
}

int openPidfd(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

void closeDescriptor(int fd) {
    if (fd >= 0) ::close(fd);
}

}  // namespace tunnel::linux_process
