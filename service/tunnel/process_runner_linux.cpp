// The process runner on Linux: commands by fork/exec with a time-out, the job as process
// groups whose leaders die with the job's thread (PR_SET_PDEATHSIG), stray processes by /proc.
#include <dirent.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "service/tunnel/process_runner.h"
#include "service/tunnel/process_spawn_linux.h"
#include "vpn/files.h"
#include "vpn/system.h"

namespace tunnel {
namespace {

using namespace linux_process;

// How long the processes of a closing job get to end on SIGTERM before SIGKILL.
constexpr int kJobGraceMs = 200;
// How long a command killed at its time-out gets to be gone.
constexpr int kKilledCommandWaitMs = 1000;

std::vector<std::string> argumentVector(const std::string& program, const CommandArgs& args) {
    std::vector<std::string> argv{program};
    for (const CommandArg& arg : args) argv.push_back(plainArgument(arg));
    return argv;
}

bool exitStatusOk(int status, const std::string& line, std::string& error) {
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    if (WIFSIGNALED(status)) {
        error = "command killed by signal " + std::to_string(WTERMSIG(status)) + ": " + line;
    } else {
        error = "command exit " + std::to_string(WEXITSTATUS(status)) + ": " + line;
    }
    return false;
}

// Forks the children of one job. The parent-death signal is tied to the thread that forked,
// so the job forks from a thread of its own that lives exactly as long as the job: children
// never die early because some short-lived caller thread ended. The thread starts in the
// namespaces of the thread that created the job.
class SpawnThread {
public:
    SpawnThread() : thread_([this] { loop(); }) {}
    ~SpawnThread() { stop(); }
    SpawnThread(const SpawnThread&) = delete;
    SpawnThread& operator=(const SpawnThread&) = delete;

    // Runs `task` on the thread and waits for it; false once the thread has stopped.
    bool run(const std::function<void()>& task) {
        std::unique_lock lock(mutex_);
        if (stopping_) return false;
        task_ = &task;
        changed_.notify_all();
        changed_.wait(lock, [this] { return task_ == nullptr; });
        return true;
    }

    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

private:
    void loop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return stopping_ || task_ != nullptr; });
            if (task_ == nullptr) return;
            (*task_)();
            task_ = nullptr;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    const std::function<void()>* task_ = nullptr;
    bool stopping_ = false;
    std::thread thread_;
};

// One launched process. Only the job reaps it, so its pid (and its process group id) cannot
// be reused while the job may still signal it.
struct Member {
    explicit Member(Spawned spawned) : process(spawned) {}
    ~Member() { closeDescriptor(process.pidfd); }
    Member(const Member&) = delete;
    Member& operator=(const Member&) = delete;
    Spawned process;
    std::atomic<bool> reaped{false};
};

// A thread blocked in poll on the pidfd and on an eventfd that ends the watch.
class PidfdWatch final : public ExitWatch {
public:
    PidfdWatch(std::shared_ptr<Member> member, std::function<void()> exited)
        : member_(std::move(member)), exited_(std::move(exited)), cancel_(::eventfd(0, EFD_CLOEXEC)),
          thread_([this] { watch(); }) {}
    ~PidfdWatch() override {
        const uint64_t one = 1;
        while (::write(cancel_, &one, sizeof one) < 0 && errno == EINTR) {
        }
        thread_.join();
        closeDescriptor(cancel_);
    }
    PidfdWatch(const PidfdWatch&) = delete;
    PidfdWatch& operator=(const PidfdWatch&) = delete;

private:
    void watch() {
        pollfd entries[2] = {{member_->process.pidfd, POLLIN, 0}, {cancel_, POLLIN, 0}};
        while (::poll(entries, 2, -1) < 0 && errno == EINTR) {
        }
        if (entries[1].revents == 0 && entries[0].revents != 0) exited_();
    }

    std::shared_ptr<Member> member_;
    std::function<void()> exited_;
    int cancel_;
    std::thread thread_;
};

class LinuxChild final : public ChildProcess {
public:
    explicit LinuxChild(std::shared_ptr<Member> member) : member_(std::move(member)) {}

    std::unique_ptr<ExitWatch> watchExit(std::function<void()> exited) override {
        return std::make_unique<PidfdWatch>(member_, std::move(exited));
    }

    bool isRunning() override {
        if (member_->reaped && member_->process.pidfd < 0) return false;
        return isAlive(member_->process);
    }

    // SIGTERM first, so the process can let go of its adapter; SIGKILL half way.
    void terminate(int waitMs) override {
        if (!isRunning()) return;
        const int half = std::max(waitMs, 0) / 2;
        signalProcess(member_->process, SIGTERM);
        if (waitForExit(member_->process, half)) return;
        signalProcess(member_->process, SIGKILL);
        waitForExit(member_->process, std::max(waitMs, 0) - half);
    }

private:
    std::shared_ptr<Member> member_;
};

void signalGroups(const std::vector<std::shared_ptr<Member>>& members, int signal) {
    for (const auto& member : members) {
        ::kill(-member->process.pid, signal);
        signalProcess(member->process, signal);
    }
}

// TERM to every group, a short grace, KILL to every group, then reap the leaders.
void endMembers(const std::vector<std::shared_ptr<Member>>& members) {
    if (members.empty()) return;
    signalGroups(members, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kJobGraceMs);
    for (const auto& member : members) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        waitForExit(member->process, std::max<int>(0, static_cast<int>(left.count())));
    }
    signalGroups(members, SIGKILL);  // also the grandchildren that outlived their parent
    for (const auto& member : members) {
        reap(member->process.pid);
        member->reaped = true;
    }
}

class LinuxJob final : public Job {
public:
    ~LinuxJob() override { close(); }

    std::unique_ptr<ChildProcess> launch(const std::string& executable, const CommandArgs& args,
                                         const std::string& workingDirectory, std::string& error) override {
        if (!checkCommand(executable, args, error)) return nullptr;
        std::lock_guard lock(mutex_);
        if (closed_) {
            error = "job is closed";
            return nullptr;
        }
        // A relative path names a file under our directory, not the child's new one.
        const std::string file =
            executable.front() == '/' ? executable : vpn::fullPathName(executable).value_or(executable);
        const SpawnRequest request{file, false, argumentVector(executable, args), workingDirectory};
        Spawned spawned;
        int failure = ECHILD;
        spawner_.run([&] { failure = spawn(request, spawned); });
        if (failure != 0) {
            error = "CreateProcess failed for " + executable + " err=" + std::to_string(failure);
            return nullptr;
        }
        members_.push_back(std::make_shared<Member>(spawned));
        return std::make_unique<LinuxChild>(members_.back());
    }

    void close() override {
        std::vector<std::shared_ptr<Member>> members;
        {
            std::lock_guard lock(mutex_);
            if (closed_) return;
            closed_ = true;
            members.swap(members_);
        }
        endMembers(members);
        spawner_.stop();
    }

private:
    std::mutex mutex_;
    bool closed_ = false;
    std::vector<std::shared_ptr<Member>> members_;
    SpawnThread spawner_;
};

// The file the process runs, as the kernel names it; a file replaced since its start still
// counts as the file at that path.
std::string executableOf(pid_t pid) {
    char target[4096];
    const ssize_t length = ::readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), target, sizeof target - 1);
    if (length <= 0) return {};
    std::string exe(target, static_cast<size_t>(length));
    const std::string deleted = " (deleted)";
    if (exe.size() > deleted.size() && exe.ends_with(deleted)) exe.resize(exe.size() - deleted.size());
    return exe;
}

// The real user id from /proc/PID/status ("Uid:\treal\teffective..."); -1 when unknown.
long realUserOf(pid_t pid) {
    std::string status;
    if (!vpn::readWholeFile("/proc/" + std::to_string(pid) + "/status", status)) return -1;
    const size_t line = status.find("\nUid:\t");
    if (line == std::string::npos) return -1;
    char* end = nullptr;
    const long uid = std::strtol(status.c_str() + line + 6, &end, 10);
    return end == status.c_str() + line + 6 ? -1 : uid;
}

pid_t processId(const char* entry) {
    pid_t pid = 0;
    for (const char* c = entry; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9' || pid > 100000000) return 0;
        pid = pid * 10 + (*c - '0');
    }
    return pid;
}

// Waits until each process is gone (its pidfd readable), at most kStrayExitWaitMs in all.
void waitUntilGone(const std::vector<int>& pidfds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStrayExitWaitMs);
    for (const int pidfd : pidfds) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd exited{pidfd, POLLIN, 0};
        if (left.count() > 0) ::poll(&exited, 1, static_cast<int>(left.count()));
        closeDescriptor(pidfd);
    }
}

// SIGKILL to every other process that `ours` accepts, then a wait for them to be gone (they
// hold the TUN device until then). The process is checked again after its pidfd is opened, so
// a pid reused in between is never hit.
void terminateWhere(const std::function<bool(pid_t)>& ours) {
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return;
    const pid_t self = ::getpid();
    std::vector<int> killed;
    while (const dirent* entry = ::readdir(proc)) {
        const pid_t pid = processId(entry->d_name);
        if (pid <= 0 || pid == self || !ours(pid)) continue;
        const int pidfd = openPidfd(pid);
        if (pidfd < 0) continue;
        if (ours(pid) && ::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0) == 0)
            killed.push_back(pidfd);
        else
            closeDescriptor(pidfd);
    }
    ::closedir(proc);
    waitUntilGone(killed);
}

class LinuxProcessRunner final : public ProcessRunner {
public:
    bool runCommand(const std::string& program, const CommandArgs& args, int timeoutMs,
                    std::string& error) override {
        if (!checkCommand(program, args, error)) return false;
        const std::string line = commandLine(program, args, false);
        Spawned child;
        const int failure = spawn({program, true, argumentVector(program, args), {}}, child);
        if (failure != 0) {
            error = "CreateProcess failed for: " + line + " err=" + std::to_string(failure);
            return false;
        }
        const bool exited = waitForExit(child, timeoutMs);
        if (!exited) {
            ::kill(-child.pid, SIGKILL);
            signalProcess(child, SIGKILL);
            waitForExit(child, kKilledCommandWaitMs);
        }
        const int status = reap(child.pid);
        closeDescriptor(child.pidfd);
        if (!exited) {
            error = "command timed out: " + line;
            return false;
        }
        return exitStatusOk(status, line, error);
    }

    std::unique_ptr<Job> createJob(std::string&) override { return std::make_unique<LinuxJob>(); }

    void terminateStrays(const std::vector<std::string>& executables) override {
        std::vector<std::string> files;
        for (const std::string& executable : executables) {
            std::error_code failed;
            const std::filesystem::path file = std::filesystem::canonical(executable, failed);
            if (!failed) files.push_back(file.string());
        }
        if (files.empty()) return;
        const long self = static_cast<long>(::geteuid());
        terminateWhere([&](pid_t pid) {
            const std::string exe = executableOf(pid);
            return std::find(files.begin(), files.end(), exe) != files.end() && realUserOf(pid) == self;
        });
    }
};

}  // namespace

std::unique_ptr<ProcessRunner> makeProcessRunner() { return std::make_unique<LinuxProcessRunner>(); }

}  // namespace tunnel
