// Linux parts of the process helper.
#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "tests/support/doubles/process_helper.h"

namespace orvik_helper {

void crash() {
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    ::signal(SIGSEGV, SIG_DFL);
    ::raise(SIGSEGV);
    std::abort();
}

long startSleeper(const std::string& self) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl(self.c_str(), self.c_str(), "sleep", "600000", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

std::string openDescriptors() {
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) return "cannot list";
    std::string list;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || std::atoi(name.c_str()) == ::dirfd(dir)) continue;
        if (std::atoi(name.c_str()) <= 2) continue;
        char target[PATH_MAX] = {};
        const std::string link = "/proc/self/fd/" + name;
        const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
        list += name + " " + (length > 0 ? std::string(target, static_cast<size_t>(length)) : "?") + "\n";
    }
    ::closedir(dir);
    return list;
}

std::string rawCommandLine(int argc, char** argv) {
    std::string lines;
    for (int i = 0; i < argc; ++i) lines += std::string(argv[i]) + "\n";
    return lines;
}

long currentProcessId() { return static_cast<long>(::getpid()); }

std::string currentDirectory() {
    char buffer[PATH_MAX] = {};
    return ::getcwd(buffer, sizeof buffer) != nullptr ? buffer : "";
}

}  // namespace orvik_helper
