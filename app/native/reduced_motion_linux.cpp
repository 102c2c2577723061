#include "app/native/reduced_motion.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "app/native/animation_setting_linux.h"

extern char** environ;

namespace desktop {
namespace {

// Read on the GUI thread when the window becomes active: keep the worst case short.
constexpr int kSettingTimeoutMs = 500;

int remainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Reads `fd` until end of file or the deadline; false at the deadline.
bool readUntilEnd(int fd, std::chrono::steady_clock::time_point deadline, std::string& output) {
    char buffer[512];
    for (;;) {
        pollfd waiting{fd, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, remainingMs(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return true;
        if (output.size() < 4096) output.append(buffer, static_cast<size_t>(got));
    }
}

int waitForExit(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

}  // namespace

bool runForOutput(const std::vector<std::string>& argv, int timeoutMs, std::string& output) {
    output.clear();
    int pipeFds[2];
    if (argv.empty() || ::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const bool ended = readUntilEnd(pipeFds[0], deadline, output);
    ::close(pipeFds[0]);
    if (!ended) ::kill(pid, SIGKILL);
    const int status = waitForExit(pid);
    return ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string findOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    const std::string directories = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= directories.size()) {
        const size_t end = std::min(directories.find(':', start), directories.size());
        const std::string directory = directories.substr(start, end - start);
        start = end + 1;
        if (directory.empty() || directory.front() != '/') continue;
        const std::string candidate = directory + "/" + name;
        struct stat info{};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return "";
}

std::optional<bool> parseBooleanSetting(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    const size_t last = text.find_last_not_of(" \t\r\n");
    const std::string word = first == std::string::npos ? "" : text.substr(first, last - first + 1);
    if (word == "true") return true;
    if (word == "false") return false;
    return std::nullopt;
}

bool systemReducedMotion() {
    const std::string gsettings = findOnPath("gsettings");
    if (gsettings.empty()) return false;
    std::string output;
    if (!runForOutput({gsettings, "get", "org.gnome.desktop.interface", "enable-animations"}, kSettingTimeoutMs,
                      output)) {
        return false;
    }
    const std::optional<bool> enabled = parseBooleanSetting(output);
    return enabled.has_value() && !*enabled;
}

}  // namespace desktop
