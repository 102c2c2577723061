#include "tests/support/tunnel_runtime_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace orvik_test {
namespace {

namespace fs = std::filesystem;

std::string executableOf(long pid) {
    std::error_code error;
    const fs::path target = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
    return error ? std::string() : target.string();
}

std::vector<long> allProcessIds() {
    std::vector<long> ids;
    DIR* proc = ::opendir("/proc");
    if (!proc) return ids;
    while (const dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid > 0 && end && *end == '\0') ids.push_back(pid);
    }
    ::closedir(proc);
    return ids;
}

bool under(const std::string& path, const std::string& directory) {
    return path.size() > directory.size() && path.compare(0, directory.size(), directory) == 0 &&
           path[directory.size()] == '/';
}

bool copyExecutable(const std::string& from, const std::string& to, std::string& error) {
    std::error_code failure;
    fs::create_directories(fs::path(to).parent_path(), failure);
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, failure);
    if (!failure) fs::permissions(to, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec, failure);
    if (failure) error = "cannot copy " + from + " to " + to + ": " + failure.message();
    return !failure;
}

// Forks and runs `file` as `name` with one argument; the child's id or -1. Returns once the
// child runs the program (the close-on-exec pipe closes), so that a look at the running
// processes finds it under its name and not under ours.
long spawnSleeper(const std::string& file, const std::string& name) {
    int ran[2];
    if (::pipe2(ran, O_CLOEXEC) != 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::setpgid(0, 0);
        const char* argv[] = {name.c_str(), "600", nullptr};
        ::execv(file.c_str(), const_cast<char* const*>(argv));
        ::_exit(127);
    }
    ::close(ran[1]);
    char ignored;
    while (child > 0 && ::read(ran[0], &ignored, 1) < 0 && errno == EINTR) {
    }
    ::close(ran[0]);
    return child;
}

}  // namespace

TunnelRuntime::TunnelRuntime(std::string xrayDouble, std::string tun2socksDouble)
    : root_(dir_.path()), xrayDouble_(std::move(xrayDouble)), tun2socksDouble_(std::move(tun2socksDouble)) {}

TunnelRuntime::~TunnelRuntime() {
    for (long pid : allProcessIds()) {
        if (under(executableOf(pid), root_)) ::kill(static_cast<pid_t>(pid), SIGKILL);
    }
    for (long pid : strays_) ::waitpid(static_cast<pid_t>(pid), nullptr, WNOHANG);
}

bool TunnelRuntime::installTools() {
    return copyExecutable(xrayDouble_, xrayExecutable(), error_) &&
           copyExecutable(tun2socksDouble_, tun2socksExecutable(), error_);
}

void TunnelRuntime::writeFile(const std::string& path, const std::string& bytes) const {
    std::error_code ignored;
    fs::create_directories(fs::path(path).parent_path(), ignored);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string TunnelRuntime::readFile(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<long> TunnelRuntime::runningTools(const std::string& directory) const {
    std::vector<long> found;
    for (long pid : allProcessIds()) {
        const std::string exe = executableOf(pid);
        const bool match = directory.empty() ? under(exe, xrayDirectory()) || under(exe, tun2socksDirectory())
                                             : under(exe, directory);
        if (match) found.push_back(pid);
    }
    return found;
}

bool TunnelRuntime::waitToolsGone(int timeoutMs) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!runningTools().empty()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::vector<long> TunnelRuntime::startStrays(const std::vector<std::string>& names) {
    std::vector<long> ids;
    for (const std::string& name : names) {
        const std::string file = root_ + "/strays/" + name;
        std::string ignored;
        const long pid = copyExecutable("/bin/sleep", file, ignored) ? spawnSleeper(file, name) : -1;
        if (pid > 0) strays_.push_back(pid);
        ids.push_back(pid);
    }
    return ids;
}

}  // namespace orvik_test
