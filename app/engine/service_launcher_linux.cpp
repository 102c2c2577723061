// Starting the service as root on Linux: directly when the client already is root (detached
// by a double fork, so no zombie is left), else through pkexec, which asks for the password.
// Arguments go as a vector to execv: never through a shell.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "app/engine/service_launcher_linux.h"
#include "vpn/system.h"

namespace engine {
namespace {

constexpr int kPkexecNotAuthorized = 126;  // the user declined or the dialog was dismissed
constexpr int kPkexecFailed = 127;         // no authentication agent, or pkexec itself failed

// Everything the child needs, prepared before fork: after it only async-signal-safe calls.
struct ExecPlan {
    std::vector<std::string> words;
    std::vector<char*> argv;
    std::string directory;
    bool cleanEnvironment = false;  // the service started directly gets what pkexec would give

    ExecPlan(std::vector<std::string> all, std::string workingDirectory)
        : words(std::move(all)), directory(std::move(workingDirectory)) {
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
    }
};

// The environment of a service started directly: like pkexec's and systemd's, nothing of
// ours, so that whatever the service needs to know travels on its command line.
char kSafePath[] = "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
char* kCleanEnvironment[] = {kSafePath, nullptr};

// Runs in the child: enters the directory (when given) and executes; on failure reports
// errno on `report` and exits.
[[noreturn]] void execOrReport(const ExecPlan& plan, int report) {
    if (!plan.directory.empty() && ::chdir(plan.directory.c_str()) != 0) {
        // The service changes to its runtime directory itself; the start goes on.
    }
    if (plan.cleanEnvironment) ::execve(plan.argv[0], plan.argv.data(), kCleanEnvironment);
    else ::execv(plan.argv[0], plan.argv.data());
    const int error = errno;
    while (::write(report, &error, sizeof error) < 0 && errno == EINTR) {
    }
    ::_exit(kPkexecFailed);
}

// Reads the child's exec error from `report` (closed by a successful exec): 0 when it ran.
int execError(int report) {
    int error = 0;
    ssize_t got;
    while ((got = ::read(report, &error, sizeof error)) < 0 && errno == EINTR) {
    }
    ::close(report);
    return got == static_cast<ssize_t>(sizeof error) ? error : 0;
}

// Forks with a close-on-exec pipe on which the child reports why it could not exec. In the
// parent: the child's pid and `report` = the reading end, or -1 with `error`. In the child:
// 0 and `report` = the writing end.
pid_t forkReporting(int& report, int& error) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        error = errno;
        return -1;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        error = errno;
        ::close(ends[0]);
        ::close(ends[1]);
        return -1;
    }
    ::close(ends[child == 0 ? 0 : 1]);
    report = ends[child == 0 ? 1 : 0];
    return child;
}

// The first executable file named `name` on PATH.
std::string findOnPath(const std::string& name) {
    const std::string path = vpn::environmentVariable("PATH").value_or("/usr/local/bin:/usr/bin:/bin");
    size_t start = 0;
    for (;;) {
        const size_t end = path.find(':', start);
        const std::string directory = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const std::string candidate = (directory.empty() ? std::string(".") : directory) + "/" + name;
        struct stat info;
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (end == std::string::npos) return {};
        start = end + 1;
    }
}

class LinuxServiceLauncher : public ServiceLauncher {
public:
    explicit LinuxServiceLauncher(bool directWhenRoot) : directWhenRoot_(directWhenRoot) {}
    ~LinuxServiceLauncher() override { reap(); }

    Outcome launch(const LaunchCommand& command, unsigned long& errorCode) override {
        reap();
        if (directWhenRoot_ && ::geteuid() == 0) return startDetached(command, errorCode);
        const std::string pkexec = findOnPath("pkexec");
        if (pkexec.empty()) return failed(ENOENT, errorCode);
        std::vector<std::string> words{pkexec, command.executable};
        words.insert(words.end(), command.arguments.begin(), command.arguments.end());
        return startPkexec(ExecPlan(std::move(words), command.workingDirectory), errorCode);
    }

    Outcome poll(unsigned long& errorCode) override {
        if (pkexec_ <= 0) return Outcome::started;
        int status = 0;
        pid_t done;
        while ((done = ::waitpid(pkexec_, &status, WNOHANG)) < 0 && errno == EINTR) {
        }
        if (done == 0) return Outcome::started;
        pkexec_ = -1;
        if (done < 0 || !WIFEXITED(status)) return Outcome::started;
        if (WEXITSTATUS(status) == kPkexecNotAuthorized) return Outcome::declined;
        if (WEXITSTATUS(status) == kPkexecFailed) return failed(kPkexecFailed, errorCode);
        return Outcome::started;  // the service's own exit: the pipe tells the rest
    }

private:
    Outcome startPkexec(const ExecPlan& plan, unsigned long& errorCode) {
        int report = -1;
        int error = 0;
        const pid_t child = forkReporting(report, error);
        if (child < 0) return failed(error, errorCode);
        if (child == 0) execOrReport(plan, report);
        if (error = execError(report); error != 0) {
            while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
            }
            return failed(error, errorCode);
        }
        pkexec_ = child;
        return Outcome::started;
    }

    // Child, new session, grandchild execs the service; the child exits at once and is
    // reaped here, so the service is adopted by init.
    static Outcome startDetached(const LaunchCommand& command, unsigned long& errorCode) {
        std::vector<std::string> words{command.executable};
        words.insert(words.end(), command.arguments.begin(), command.arguments.end());
        ExecPlan plan(std::move(words), command.workingDirectory);
        plan.cleanEnvironment = true;
        int report = -1;
        int error = 0;
        const pid_t child = forkReporting(report, error);
        if (child < 0) return failed(error, errorCode);
        if (child == 0) {
            ::setsid();
            const pid_t grandchild = ::fork();
            if (grandchild == 0) execOrReport(plan, report);
            if (grandchild < 0) {
                const int forkError = errno;
                while (::write(report, &forkError, sizeof forkError) < 0 && errno == EINTR) {
                }
            }
            ::_exit(0);
        }
        error = execError(report);
        while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
        return error != 0 ? failed(error, errorCode) : Outcome::started;
    }

    void reap() {
        if (pkexec_ > 0 && ::waitpid(pkexec_, nullptr, WNOHANG) != 0) pkexec_ = -1;
    }

    static Outcome failed(int error, unsigned long& errorCode) {
        errorCode = static_cast<unsigned long>(error);
        return Outcome::failed;
    }

    bool directWhenRoot_;
    pid_t pkexec_ = -1;  // the running pkexec child, until it is reaped
};

}  // namespace

std::shared_ptr<ServiceLauncher> makePlatformServiceLauncher() { return std::make_shared<LinuxServiceLauncher>(true); }

std::shared_ptr<ServiceLauncher> makePkexecServiceLauncher() { return std::make_shared<LinuxServiceLauncher>(false); }

const char* serviceExecutableName() { return "orvik_service"; }

unsigned long currentProcessId() { return static_cast<unsigned long>(::getpid()); }

}  // namespace engine
