#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/support/service_process.h"

extern char** environ;

namespace orvik_test {

struct ServiceProcess::Impl {
    pid_t pid = -1;
    std::optional<int> exitCode;
};

ServiceProcess::ServiceProcess(const std::string& program, const std::vector<std::string>& arguments,
                               const std::string& outputPath)
    : impl_(std::make_unique<Impl>()), separateOutput_(outputPath.empty()) {
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const auto open = [](const std::string& path) { return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644); };
    const int out = open(separateOutput_ ? files_.file("out") : outputPath);
    const int err = separateOutput_ ? open(files_.file("err")) : out;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, err, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    if (::posix_spawn(&impl_->pid, argv[0], &actions, &attributes, argv.data(), environ) != 0) impl_->pid = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    for (const int fd : {out, separateOutput_ ? err : -1})
        if (fd >= 0) ::close(fd);
}

ServiceProcess::~ServiceProcess() { kill(); }

bool ServiceProcess::started() const { return impl_->pid > 0; }
long ServiceProcess::pid() const { return impl_->pid; }

std::optional<int> ServiceProcess::wait(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (started() && !impl_->exitCode) {
        int status = 0;
        if (::waitpid(impl_->pid, &status, WNOHANG) == impl_->pid)
            impl_->exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        else if (std::chrono::steady_clock::now() >= deadline)
            break;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return impl_->exitCode;
}

bool ServiceProcess::interrupt(int signal) { return started() && !impl_->exitCode && ::kill(impl_->pid, signal) == 0; }

void ServiceProcess::kill() {
    if (!started() || impl_->exitCode) return;
    ::kill(impl_->pid, SIGKILL);
    wait(5000);
}

std::string currentExecutablePath() {
    char buffer[4096];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    return length > 0 && static_cast<size_t>(length) < sizeof buffer ? std::string(buffer, static_cast<size_t>(length)) : "";
}

bool underWine() { return false; }

}  // namespace orvik_test
