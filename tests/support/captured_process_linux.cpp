// The program's standard input is one end of a socket pair (so a write after the program
// ended fails instead of raising SIGPIPE); its output goes to files.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/support/captured_process.h"

namespace orvik_test {

struct CapturedProcess::Impl {
    pid_t pid = -1;
    int input = -1;
    std::optional<int> exitCode;
};

CapturedProcess::CapturedProcess(const std::string& program, const std::vector<std::string>& arguments)
    : impl_(new Impl) {
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    int pair[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return;
    const int out = ::open(files_.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = ::open(files_.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    impl_->pid = ::fork();
    if (impl_->pid == 0) {
        // Only async-signal-safe calls until exec.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::dup2(pair[1], 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pair[1]);
    ::close(out);
    ::close(err);
    impl_->input = pair[0];
}

CapturedProcess::~CapturedProcess() {
    if (impl_->pid > 0 && !impl_->exitCode) {
        ::kill(impl_->pid, SIGKILL);
        ::waitpid(impl_->pid, nullptr, 0);
    }
    closeInput();
    delete impl_;
}

bool CapturedProcess::started() const { return impl_->pid > 0; }

bool CapturedProcess::write(const std::string& bytes) {
    size_t done = 0;
    while (impl_->input >= 0 && done < bytes.size()) {
        const ssize_t sent = ::send(impl_->input, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent <= 0) return false;
        done += static_cast<size_t>(sent);
    }
    return impl_->input >= 0;
}

void CapturedProcess::closeInput() {
    if (impl_->input >= 0) ::close(impl_->input);
    impl_->input = -1;
}

CapturedRun CapturedProcess::finish(int timeoutMs) {
    closeInput();
    CapturedRun run;
    if (impl_->pid <= 0) return run;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!impl_->exitCode) {
        int status = 0;
        if (::waitpid(impl_->pid, &status, WNOHANG) == impl_->pid) {
            impl_->exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        } else if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(impl_->pid, SIGKILL);
            ::waitpid(impl_->pid, nullptr, 0);
            impl_->exitCode = -1;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    run.exitCode = *impl_->exitCode;
    run.out = withoutCarriageReturns(files_.read("out"));
    run.err = withoutCarriageReturns(files_.read("err"));
    return run;
}

}  // namespace orvik_test
