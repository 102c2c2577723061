#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/support/service_process.h"

namespace orvik_test {

struct ServiceProcess::Impl {
    pid_t pid = -1;
    std::optional<int> exitCode;
};

ServiceProcess::ServiceProcess(const std::string& program, const std::vector<std::string>& arguments,
                               const std::string& outputPath)
    : impl_(new Impl) {
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const int output = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    impl_->pid = ::fork();
    if (impl_->pid == 0) {
        // Only async-signal-safe calls until exec.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        if (output >= 0) {
            ::dup2(output, 1);
            ::dup2(output, 2);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    if (output >= 0) ::close(output);
}

ServiceProcess::~ServiceProcess() {
    kill();
    delete impl_;
}

bool ServiceProcess::started() const { return impl_->pid > 0; }
long ServiceProcess::pid() const { return impl_->pid; }

std::optional<int> ServiceProcess::wait(int timeoutMs) {
    if (impl_->exitCode || impl_->pid <= 0) return impl_->exitCode;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        if (::waitpid(impl_->pid, &status, WNOHANG) == impl_->pid) {
            impl_->exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return impl_->exitCode;
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool ServiceProcess::interrupt() { return started() && !impl_->exitCode && ::kill(impl_->pid, SIGINT) == 0; }

void ServiceProcess::kill() {
    if (!started() || impl_->exitCode) return;
    ::kill(impl_->pid, SIGKILL);
    wait(5000);
}

bool underWine() { return false; }

}  // namespace orvik_test
